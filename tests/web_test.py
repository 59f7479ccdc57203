"""The page in headless Chromium, as its users meet it.
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
MUSIC = os.path.join(SOURCE, "tests", "music")
MESSAGES = "document.getElementById('messages').textContent"
START = "document.getElementById('start').click()"
# Vorbis's channel order to SDL's, which the page keeps: as the demo plays them.
TO_SDL_ORDER = {1: [0], 2: [0, 1], 6: [0, 2, 1, 5, 3, 4]}
NO_WEBGL = ("HTMLCanvasElement.prototype.getContext = (get => function (kind, options) {"
            " return kind.startsWith('webgl') ? null : get.call(this, kind, options); })"
            "(HTMLCanvasElement.prototype.getContext);")


def check(condition, what):
    if not condition:
        raise AssertionError(what)


def fnv1a(data):
    value = 1469598103934665603
    for byte in data:
        value = ((value ^ byte) * 1099511628211) & 0xFFFFFFFFFFFFFFFF
    return value


def native_decode(path, seconds):
    """libvorbisfile's own decode (oggdec) of the first `seconds`, in SDL's order."""
    raw = subprocess.run(["oggdec", "--quiet", "--raw", "--output", "-", path],
                         capture_output=True, check=True).stdout
    info = subprocess.run(["ogginfo", path], capture_output=True, text=True).stdout
    rate = int(re.search(r"Rate: (\d+)", info).group(1))
    channels = int(re.search(r"Channels: (\d+)", info).group(1))
    values, order = memoryview(raw).cast("h"), TO_SDL_ORDER[channels]
    count = min(len(values), seconds * rate * channels)
    return rate, channels, [values[i - i % channels + order[i % channels]] for i in range(count)]


def give(browser, kind, path):
    """Picks `path` in the page's `kind` file picker, or drops it on the page, as a user would."""
    if kind == "drop":
        data = base64.b64encode(open(path, "rb").read()).decode()
        browser.evaluate(
            "(() => { const t = new DataTransfer(); t.items.add(new File("
            "[Uint8Array.from(atob(%r), c => c.charCodeAt(0))], %r));"
            " dispatchEvent(new DragEvent('drop', {dataTransfer: t, cancelable: true})); })()"
            % (data, os.path.basename(path)))
    else:
        document = browser.call("DOM.getDocument")["root"]["nodeId"]
        node = browser.call("DOM.querySelector", nodeId=document,
                            selector="#%s-file" % kind)["nodeId"]
        browser.call("DOM.setFileInputFiles", nodeId=node, files=[path])
    browser.wait_for("%s.includes(%r)" % (MESSAGES, os.path.basename(path)), 10)


def golden_frames():
    """tests/golden_frames.txt: the seed, the times, and each saved frame's checksum."""
    seed = times = None
    sums = {}
    for line in open(os.path.join(SOURCE, "tests", "golden_frames.txt")):
        words = line.split()
        if words[:1] == ["seed"]:
            seed = words[1]
        elif words[:1] == ["times"]:
            times = words[1]
        elif words and words[0].isdigit():
            sums[int(words[0])] = int(words[1])
    return seed, times, sums


def golden_frames_are_the_native_ones(server, native):
    seed, times, sums = golden_frames()
    # Through WebGL, and through the 2D canvas of a browser without it.
    for without_webgl in (False, True):
        with Browser() as browser:
            if without_webgl:
                browser.call("Page.enable")
                browser.call("Page.addScriptToEvaluateOnNewDocument", source=NO_WEBGL)
            browser.open("%s?seed=%s&times=%s&save=%s" % (server.url, seed, times,
                                                          ",".join(str(i) for i in sorted(sums))))
            check(browser.wait_for("bumpwave.state === 'ended'", 120), "never ended")
            captures = browser.evaluate("bumpwave.captures")
        check(len(captures) == len(sums), "%d frames kept" % len(captures))
        for index, capture in zip(sorted(sums), captures):
            png = base64.b64decode(capture.split(",", 1)[1])
            ppm = subprocess.run(["convert", "png:-", "ppm:-"], input=png, capture_output=True,
                                 check=True).stdout
            check(fnv1a(ppm) == sums[index], "frame %d differs (%s)" % (index, without_webgl))


def the_music_is_libvorbisfiles_decode_in_sdl_order(server, native):
    # The demo's own music, and six channels that SDL orders otherwise than Vorbis.
    for music, seconds in ((None, 5), (os.path.join(MUSIC, "six-channels-22050.ogg"), 1)):
        rate, channels, expected = native_decode(
            music or os.path.join(native, "testing.ogg"), seconds)
        with Browser() as browser:
            browser.open(server.url + "?seed=1&keep-sound")
            if music:
                give(browser, "music", music)
            browser.evaluate(START)
            check(browser.wait_for("bumpwave.sound && bumpwave.sound.length >= %d" % len(expected),
                                   seconds + 20), "too little sound kept")
            check(browser.evaluate("[bumpwave.soundRate, bumpwave.soundChannels]")
                  == [rate, channels], "rate or channel count")
            kept = browser.evaluate("Array.from(new Int16Array(bumpwave.sound.buffer, 0, %d))"
                                    % len(expected))
        worst = max(abs(a - b) for a, b in zip(kept, expected))
        check(worst <= 1, "%s: a sample differs by %d from libvorbisfile's" % (music, worst))


def pictures_that_cannot_be_loaded_are_said_on_the_page(server, native):
    with tempfile.TemporaryDirectory(prefix="bumpwave-web-") as folder:
        empty = os.path.join(folder, "empty.png")
        open(empty, "wb").close()
        for kind, path, said in [
                ("bump", empty, "Couldn't load bumpmap.png"),
                ("logo", os.path.join(MUSIC, "not-vorbis.ogg"), "Couldn't load boys.jpg"),
                ("drop", os.path.join(SOURCE, "tests", "pictures", "huge.png"),  # as the bump
                 "it must be 640 × 480")]:
            with Browser() as browser:
                browser.open(server.url)
                give(browser, kind, path)
                browser.evaluate(START)
                check(browser.wait_for("%s.includes(%r)" % (MESSAGES, said), 5),
                      "%s: %r" % (path, browser.evaluate(MESSAGES)))
                check(browser.evaluate("bumpwave.state") == "start", "state")


def a_paced_show_plays_to_its_end_and_escape_or_q_ends_one(server, native):
    with Browser() as browser:
        # A 3-second music: the show ends a second after its 41 s of visuals.
        browser.open(server.url + "?seed=3")
        give(browser, "music", os.path.join(MUSIC, "stereo-3s.ogg"))
        browser.evaluate(START)
        check(browser.wait_for("bumpwave.frames > 10", 10), "no frames")
        for screen in ("!!document.fullscreenElement", "!document.fullscreenElement"):
            browser.key("f", "KeyF")
            check(browser.wait_for(screen, 3), "F: " + screen)
        first, start = browser.evaluate("bumpwave.frames"), time.monotonic()
        time.sleep(5)
        rate = (browser.evaluate("bumpwave.frames") - first) / (time.monotonic() - start)
        check(55 <= rate <= 65, "%.1f frames a second" % rate)
        step = browser.evaluate("bumpwave.stepMs")
        check(0 <= step["mean"] <= step["worst"] and step["worst"] > 0, "stepMs %s" % step)
        check(browser.wait_for("bumpwave.state === 'music'", 45), "no music state")
        check(55 <= (fps := browser.evaluate("bumpwave.fps")) <= 65, "final rate %s" % fps)
        check("@ " in browser.evaluate(MESSAGES), "no frame-rate line on the page")
        check(browser.wait_for("bumpwave.state === 'ended'", 10), "never ended")
        check(browser.evaluate("document.getElementById('start').textContent") == "Play again",
              "no Play again")
        # Again, ended early by either stop key, as on the desktop: the frame-rate line and
        # bumpwave.fps for the frames shown, the music faded, no pause.
        for key, code in (("Escape", "Escape"), ("q", "KeyQ")):
            browser.evaluate("document.getElementById('messages').textContent = ''")
            browser.evaluate(START)
            check(browser.wait_for("bumpwave.frames > 30", 10), "no show before " + key)
            browser.key(key, code)
            check(browser.wait_for("bumpwave.state === 'ended'", 3), key + " did not end it")
            check(browser.evaluate("bumpwave.fps") > 0, key + ": no bumpwave.fps")
            check("@ " in browser.evaluate(MESSAGES), key + ": no frame-rate line")


def main():
    server, native = Server(os.path.abspath(sys.argv[1])), os.path.abspath(sys.argv[2])
    passed = failed = 0
    for test in (golden_frames_are_the_native_ones,
                 the_music_is_libvorbisfiles_decode_in_sdl_order,
                 pictures_that_cannot_be_loaded_are_said_on_the_page,
                 a_paced_show_plays_to_its_end_and_escape_or_q_ends_one):
        started = time.monotonic()
        try:
            test(server, native)
            passed += 1
            print("PASS %s (%.1f s)" % (test.__name__, time.monotonic() - started), flush=True)
        except Exception:
            failed += 1
            print("FAIL %s\n%s" % (test.__name__, traceback.format_exc()), flush=True)
    server.close()
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
