"""The page in headless Chromium, as its users and checkers meet it:
the golden frames of tests/frames_test.cpp, the music handed to the sound
card against libvorbisfile's own decode, a paced show to its end and one
ended early, and pictures that cannot be loaded.

usage: /usr/bin/python3 tests/web_test.py PAGE_FOLDER NATIVE_BUILD_FOLDER
Ends with "N passed, N failed"; exit status 1 when any failed."""

import base64
import os
import re
import subprocess
import sys
import tempfile
import time
import traceback

from browser import Browser, Server

SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
# Vorbis's channel order to SDL's, which the page keeps: as the demo plays them.
TO_SDL_ORDER = {1: [0], 2: [0, 1], 6: [0, 2, 1, 5, 3, 4]}


def fnv1a(data):
    value = 1469598103934665603
    for byte in data:
        value = ((value ^ byte) * 1099511628211) & 0xFFFFFFFFFFFFFFFF
    return value


def ppm_of(data_url):
    png = base64.b64decode(data_url.split(",", 1)[1])
    return subprocess.run(["convert", "png:-", "ppm:-"], input=png, capture_output=True,
                          check=True).stdout


def golden_frames():
    """The command and the checksums of tests/frames_test.cpp's golden frames."""
    text = open(os.path.join(SOURCE, "tests", "frames_test.cpp")).read()
    sums = dict(re.findall(r'\{"frame-(\d+)\.ppm", (\d+)u\}', text))
    command = re.search(r'"frames --seed (\d+) --times ([\dx,"\s]+?) --save ([\d,]+) --out',
                        text)
    times = re.sub(r'["\s]', "", command.group(2))
    return command.group(1), times, {int(k): int(v) for k, v in sums.items()}


def samples(raw, channels):
    """Interleaved little-endian 16-bit samples, reordered as SDL plays them."""
    values = memoryview(raw).cast("h")
    order = TO_SDL_ORDER[channels]
    return [values[i - i % channels + order[i % channels]] for i in range(len(values))]


def native_decode(path, seconds):
    """libvorbisfile's own decode (oggdec) of the first `seconds`, in SDL's order."""
    raw = subprocess.run(["oggdec", "--quiet", "--raw", "--output", "-", path],
                         capture_output=True, check=True).stdout
    info = subprocess.run(["ogginfo", path], capture_output=True, text=True).stdout
    rate = int(re.search(r"Rate: (\d+)", info).group(1))
    channels = int(re.search(r"Channels: (\d+)", info).group(1))
    return rate, channels, samples(raw, channels)[: seconds * rate * channels]


class Tests:
    def __init__(self, page, native):
        self.server = Server(page)
        self.native = native
        self.passed = self.failed = 0
        self.notes = []

    def check(self, condition, what):
        if not condition:
            raise AssertionError(what)

    def run(self, test):
        started = time.monotonic()
        try:
            test()
            self.passed += 1
            print("PASS %s (%.1f s)" % (test.__name__, time.monotonic() - started), flush=True)
        except Exception:
            self.failed += 1
            print("FAIL %s\n%s" % (test.__name__, traceback.format_exc()), flush=True)

    def messages(self, browser):
        return browser.evaluate("document.getElementById('messages').textContent")

    def choose(self, browser, kind, path):
        """Picks `path` in a file picker of the page, as a user would."""
        document = browser.call("DOM.getDocument")["root"]["nodeId"]
        node = browser.call("DOM.querySelector", nodeId=document,
                            selector="#%s-file" % kind)["nodeId"]
        browser.call("DOM.setFileInputFiles", nodeId=node, files=[path])
        browser.wait_for("document.getElementById('messages').textContent.includes(%r)"
                         % os.path.basename(path), 10)

    def drop(self, browser, path):
        """Drops `path` on the page, as a user would drop a file."""
        data = base64.b64encode(open(path, "rb").read()).decode()
        browser.evaluate(
            "(() => { const t = new DataTransfer(); t.items.add(new File("
            "[Uint8Array.from(atob(%r), c => c.charCodeAt(0))], %r));"
            " dispatchEvent(new DragEvent('drop', {dataTransfer: t, cancelable: true})); })()"
            % (data, os.path.basename(path)))
        browser.wait_for("document.getElementById('messages').textContent.includes(%r)"
                         % os.path.basename(path), 10)

    def golden_frames_are_the_native_ones(self):
        seed, times, sums = golden_frames()
        with Browser() as browser:
            browser.open("%s?seed=%s&times=%s&save=%s" % (
                self.server.url, seed, times, ",".join(str(i) for i in sorted(sums))))
            self.check(browser.wait_for("bumpwave.state === 'ended'", 120), "never ended")
            captures = browser.evaluate("bumpwave.captures")
        self.check(len(captures) == len(sums), "%d frames kept" % len(captures))
        for index, capture in zip(sorted(sums), captures):
            self.check(fnv1a(ppm_of(capture)) == sums[index], "frame %d differs" % index)

    def music(self, music, seconds):
        """The first `seconds` of `music` (the demo's own when None) handed to the card."""
        rate, channels, expected = native_decode(
            music or os.path.join(self.native, "testing.ogg"), seconds)
        with Browser() as browser:
            browser.open(self.server.url + "?seed=1&keep-sound")
            if music:
                self.choose(browser, "music", music)
            browser.evaluate("document.getElementById('start').click()")
            count = len(expected)
            self.check(browser.wait_for("bumpwave.sound && bumpwave.sound.length >= %d" % count,
                                        seconds + 20), "too little sound kept")
            self.check(browser.evaluate("[bumpwave.soundRate, bumpwave.soundChannels]")
                       == [rate, channels], "rate or channel count")
            kept = base64.b64decode(browser.evaluate(
                "(() => { const s = new Uint8Array(bumpwave.sound.buffer, 0, %d * 2);"
                " let t = ''; for (const b of s) t += String.fromCharCode(b); return btoa(t); })()"
                % count))
        got = memoryview(kept).cast("h")
        worst = max(abs(a - b) for a, b in zip(got, expected))
        self.check(worst <= 1, "a sample differs by %d from libvorbisfile's" % worst)

    def the_music_is_libvorbisfiles_decode(self):
        self.music(None, 5)

    def six_channels_are_played_in_sdl_order(self):
        self.music(os.path.join(SOURCE, "tests", "music", "six-channels-22050.ogg"), 1)

    def a_paced_show_plays_to_its_end_and_escape_ends_one(self):
        with Browser() as browser:
            # A 3-second music: the show ends a second after its 41 s of visuals.
            browser.open(self.server.url + "?seed=3")
            self.choose(browser, "music", os.path.join(SOURCE, "tests", "music", "stereo-3s.ogg"))
            browser.evaluate("document.getElementById('start').click()")
            self.check(browser.wait_for("bumpwave.frames > 10", 10), "no frames")
            for screen in ("!!document.fullscreenElement", "!document.fullscreenElement"):
                browser.key("f", "KeyF")
                self.check(browser.wait_for(screen, 3), "F: " + screen)
            first, start = browser.evaluate("bumpwave.frames"), time.monotonic()
            time.sleep(5)
            rate = (browser.evaluate("bumpwave.frames") - first) / (time.monotonic() - start)
            self.notes.append("paced: %.1f frames a second" % rate)
            self.check(55 <= rate <= 65, "%.1f frames a second" % rate)
            self.check(browser.wait_for("bumpwave.state !== 'running'", 45) == True, "visuals")
            self.check(browser.evaluate("bumpwave.state") == "music", "no music state")
            fps = browser.evaluate("bumpwave.fps")
            self.check(55 <= fps <= 65, "final rate %s" % fps)
            self.check("@ " in self.messages(browser), "no frame-rate line on the page")
            self.check(browser.wait_for("bumpwave.state === 'ended'", 10), "never ended")
            self.check(browser.evaluate("document.getElementById('start').textContent")
                       == "Play again", "no Play again")
            # Again, ended early.
            browser.evaluate("document.getElementById('start').click()")
            self.check(browser.wait_for("bumpwave.frames > 30", 10), "no second show")
            browser.key("Escape", "Escape")
            self.check(browser.wait_for("bumpwave.state === 'ended'", 3), "Escape")

    def pictures_that_cannot_be_loaded_are_said_on_the_page(self):
        folder = tempfile.mkdtemp(prefix="bumpwave-web-")
        empty = os.path.join(folder, "empty.png")
        open(empty, "wb").close()
        cases = [("bump", empty, "Couldn't load bumpmap.png"),
                 ("logo", os.path.join(SOURCE, "tests", "music", "not-vorbis.ogg"),
                  "Couldn't load boys.jpg"),
                 ("drop", os.path.join(SOURCE, "tests", "pictures", "huge.png"),
                  "do not fit the 640 × 480 picture buffer")]  # the first drop: the bump picture
        for kind, path, said in cases:
            with Browser() as browser:
                browser.open(self.server.url)
                if kind == "drop":
                    self.drop(browser, path)
                else:
                    self.choose(browser, kind, path)
                browser.evaluate("document.getElementById('start').click()")
                self.check(browser.wait_for("document.getElementById('messages')"
                                            ".textContent.includes(%r)" % said, 5),
                           "%s: %r" % (path, self.messages(browser)))
                self.check(browser.evaluate("bumpwave.state") == "start", "state")
        os.remove(empty)
        os.rmdir(folder)

    def uncapped_rate(self):
        """Not a test: the rate without the display's pacing, for the notes."""
        with Browser(["--disable-frame-rate-limit", "--disable-gpu-vsync"]) as browser:
            browser.open(self.server.url + "?seed=3&autostart")
            browser.wait_for("bumpwave.frames > 10", 10)
            first, start = browser.evaluate("bumpwave.frames"), time.monotonic()
            time.sleep(5)
            rate = (browser.evaluate("bumpwave.frames") - first) / (time.monotonic() - start)
            self.notes.append("uncapped: %.1f frames a second" % rate)


def main():
    tests = Tests(os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2]))
    for test in (tests.golden_frames_are_the_native_ones, tests.the_music_is_libvorbisfiles_decode,
                 tests.six_channels_are_played_in_sdl_order,
                 tests.pictures_that_cannot_be_loaded_are_said_on_the_page,
                 tests.a_paced_show_plays_to_its_end_and_escape_ends_one):
        tests.run(test)
    if os.environ.get("BUMPWAVE_WEB_UNCAPPED"):
        tests.uncapped_rate()
    tests.server.close()
    for note in tests.notes:
        print("note: " + note)
    print("%d passed, %d failed" % (tests.passed, tests.failed))
    return 1 if tests.failed else 0


if __name__ == "__main__":
    sys.exit(main())
