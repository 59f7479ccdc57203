"""The page in headless Chromium, as its users meet it: /usr/bin/python3 tests/web_test.py PAGE_FOLDER
NATIVE_BUILD_FOLDER [TEST...] runs the test_ functions, with exit status 1 when one failed."""

import base64
import functools
import os
import re
import subprocess
import sys
import time
import unittest

from browser import Browser, serve_folder

SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
MUSIC, PICTURES = os.path.join(SOURCE, "tests", "music"), os.path.join(SOURCE, "tests", "pictures")
TO_SDL_ORDER = {1: [0], 2: [0, 1], 6: [0, 2, 1, 5, 3, 4]}  # from Vorbis's channel order, as the demo plays them
NO_WEBGL = ("HTMLCanvasElement.prototype.getContext = (get => function (kind, options) { return kind.startsWith('%s')"
            " ? null : get.call(this, kind, options); })(HTMLCanvasElement.prototype.getContext);")
# WebGL said to be drawn by a graphics card, as on most devices; headless Chromium's is in software.
A_GRAPHICS_CARD = ("for (const kind of [WebGLRenderingContext, WebGL2RenderingContext]) {"
                   " const get = kind.prototype.getParameter; kind.prototype.getParameter = function (name) {"
                   " return name === 0x9246 ? 'a graphics card' : get.call(this, name); }; }")


check = unittest.TestCase().assertTrue


def click_start(browser, until, seconds):
    browser.evaluate("startButton.click()")
    browser.expect(until, seconds)


def end_by_q(browser):
    browser.expect("bumpwave.frames > 3", 10)
    browser.key("q")
    browser.expect("bumpwave.state === 'ended'", 5)


def ppm(data_url):
    png = base64.b64decode(data_url.split(",", 1)[1])
    return subprocess.run(["convert", "png:-", "ppm:-"], input=png, capture_output=True, check=True).stdout


def fnv1a(data):
    return functools.reduce(lambda value, byte: (value ^ byte) * 1099511628211 % 2**64, data, 1469598103934665603)


def give(browser, kind, path, said="", wait=True):
    """Picks `path` in the page's `kind` file picker, or drops it (drop-KIND); then waits for the page's "NAME said"."""
    if kind.startswith("drop"):
        browser.evaluate("(t => { t.items.add(new File([Uint8Array.from(atob(%r), c => c.charCodeAt(0))], %r));"
                         " dispatchEvent(new DragEvent('drop', {dataTransfer: t})); })(new DataTransfer())"
                         % (base64.b64encode(open(path, "rb").read()).decode(), os.path.basename(path)))
    else:
        picker = browser.call("Runtime.evaluate", expression="element('%s-file')" % kind)["result"]["objectId"]
        browser.call("DOM.setFileInputFiles", objectId=picker, files=[path])
    if wait:
        browser.expect("element('%s-status').textContent.includes(%r)"
                       % (kind.replace("drop-", ""), os.path.basename(path) + " " + said), 10)


def test_golden_frames_are_the_native_ones():
    golden = open(os.path.join(SOURCE, "tests", "golden_frames.txt")).read()
    seed, times = (re.search(r"^%s (\S+)" % word, golden, re.M).group(1) for word in ("seed", "times"))
    frames, sums = zip(*[(index, int(sum)) for index, sum in re.findall(r"^(\d+) (\d+)", golden, re.M)])
    # WebGL 2 or 1 on a graphics card; a 2D canvas where WebGL is drawn in software, and where there is none.
    for emulated, surface in (((A_GRAPHICS_CARD,), "webgl2"), ((A_GRAPHICS_CARD, NO_WEBGL % "webgl2"), "webgl"),
                              ((), "2d"), ((NO_WEBGL % "webgl",), "2d")):
        with Browser(*emulated) as browser:
            browser.device(400, 300, 1.5)  # the captures are the frame whatever the window
            browser.open("%s?seed=%s&times=%s&save=%s" % (URL, seed, times, ",".join(frames)))
            browser.expect("bumpwave.state === 'ended'", 120)
            shown = browser.evaluate("!Module.screen.gl ? '2d' : Module.screen.webgl2 ? 'webgl2' : 'webgl'")
            captures = tuple(fnv1a(ppm(capture)) for capture in browser.evaluate("bumpwave.captures"))
        check(shown == surface and captures == sums, "%s, not %s: %s" % (shown, surface, captures))


STALL = "(() => { const until = performance.now() + 1000; while (performance.now() < until); })()"


def test_the_music_is_libvorbisfiles_decode_in_sdl_order():
    # The sound goes through a worklet alone, no ScriptProcessorNode ever made, the music read on the worker.
    with Browser("BaseAudioContext.prototype.createScriptProcessor = function () {"
                 " window.scriptProcessor = true; throw new Error('a ScriptProcessorNode'); };",
                 page=URL + "?seed=1&keep-sound") as browser:
        # The demo's own music through a stalled second, then six channels that SDL orders otherwise than Vorbis.
        for music, own in ((NATIVE + "/testing.ogg", True), (MUSIC + "/six-channels-22050.ogg", False)):
            info = subprocess.run(["ogginfo", music], capture_output=True, text=True).stdout
            rate, channels = (int(re.search(r"%s: (\d+)" % word, info).group(1)) for word in ("Rate", "Channels"))
            raw = subprocess.run(["oggdec", "-Q", "-R", "-o", "-", music], capture_output=True, check=True).stdout
            values, order = memoryview(raw[:2 * (5 if own else 1) * rate * channels]).cast("h"), TO_SDL_ORDER[channels]
            expected = [values[i - i % channels + order[i % channels]] for i in range(len(values))]
            if not own:  # Start at once: the show waits for the file being read
                give(browser, "music", music, wait=False)
            click_start(browser, "bumpwave.state === 'running' && bumpwave.musicTime > 0.5", 20)
            if own:
                browser.evaluate(STALL)
            kept = browser.expect("(n => bumpwave.sound.length >= n && [bumpwave.soundRate, bumpwave.soundChannels,"
                                  " bumpwave.sound.slice(0, n)])(%d)" % len(expected), 25)
            worst = max(abs(a - b) for a, b in zip(kept[2], expected))
            check(kept[:2] == [rate, channels] and worst <= 1, "%s: %s, a sample off by %d" % (music, kept[:2], worst))
            end_by_q(browser)
        browser.expect("!window.scriptProcessor && !FS.analyzePath('/testing.ogg').exists")


# Each animation frame's time, since frameTimes was last set, for the longest wait between them, the open one too.
FRAMES = ("window.frameTimes = [];"
          " requestAnimationFrame(function next(at) { frameTimes.push(at); requestAnimationFrame(next); })")
GAP = "(all => Math.max(...all.slice(1).map((at, i) => at - all[i])))([...frameTimes, performance.now()])"


def test_the_users_files_are_checked_by_their_own_names_when_chosen():
    with Browser(FRAMES, page=URL + "?seed=2") as browser:
        # Pictures with 4 GiB of hidden data, of 501 scans, of nothing; music of 1 Hz between two plain streams.
        subprocess.run("gunzip -c {0}/hidden.png.gz >hidden.png && gunzip -c {0}/scans-501.jpg.gz >scans-501.jpg && :"
                       " >empty.png && cat {1}/stereo-3s.ogg {1}/rate-1.ogg {1}/stereo-3s.ogg >chain.ogg".format(
                           PICTURES, MUSIC), shell=True, cwd=NATIVE, check=True)
        browser.call("Target.setAutoAttach", autoAttach=True, waitForDebuggerOnStart=False, flatten=True)
        browser.expect("page.loaded && page.musicReady", 20)
        for kind, name, said in [("bump", "empty.png", "will not be used: neither a PNG nor a JPEG"),
                                 ("logo", "not-vorbis.ogg", "will not be used"),
                                 ("music", "ten-channels.ogg", "will not be used: a stream of 10 channels"),
                                 # Dropped pictures replace the one refused first: the bump picture.
                                 ("drop-bump", "huge.png", "will not be used: 65535 × 65535 pixels are too many"),
                                 ("drop-bump", "pattern.png", "will be the bump picture"),
                                 ("logo", "scans-501.jpg", "will not be used: a progressive JPEG of more than 500"),
                                 ("bump", "hidden.png", "will be the bump picture")]:
            browser.evaluate("frameTimes = [performance.now()]")
            places = [os.path.join(place, name) for place in (NATIVE, MUSIC, PICTURES)]
            give(browser, kind, next(filter(os.path.exists, places)), said)
            gap = browser.evaluate(GAP)  # the page draws on while the worker checks a file
            check(gap < 250, "%s: no frame for %.0f ms" % (name, gap))
        browser.expect("[...document.querySelectorAll('#files input')].map(i => i.files[0]?.name).join()"
                       " === 'hidden.png,,'")  # what the next show takes
        # Music of 1 Hz, manyfold in the converter, plays on in the memory a plain file takes (37 MB).
        give(browser, "music", os.path.join(NATIVE, "chain.ogg"))
        click_start(browser, "bumpwave.musicTime > 5", 20)
        used = sum(browser.evaluate("HEAPU8.length", worker) + browser.call("Runtime.getHeapUsage", worker)["usedSize"]
                   for worker in (None, browser.workers[-1]))  # the page's and its music worker's
        check(used < 100 << 20, "%.0f MB with the chain" % (used / 1e6))


def test_a_slow_network_starts_soon_what_cannot_run_is_said_a_shows_seed_replays_it_and_plays_offline():
    port = int(URL.rstrip("/").rsplit(":", 1)[1])  # the page's own server's
    for argument, status, said in (("--help", 0, "usage: ./web.sh"), ("70000", 2, "is neither a port"),
                                   (str(port), 1, "port %d is taken; ./web.sh " % port)):
        # Said at once, in one line: nothing is built first.
        run = subprocess.run([os.path.join(SOURCE, "web.sh"), argument], capture_output=True, text=True, timeout=10)
        said_all = run.stdout + run.stderr
        check(run.returncode == status and said in said_all and (status == 0 or said_all.count("\n") <= 2),
              "web.sh %s: %d, %r" % (argument, run.returncode, said_all))
    with Browser() as browser:
        # A phone's network, 1.6 Mb/s and 150 ms: Start after the program and pictures alone, compressed.
        browser.call("Network.emulateNetworkConditions", offline=False, latency=150, downloadThroughput=200000,
                     uploadThroughput=200000)
        browser.open(URL + "?seed=4")
        fetched = browser.evaluate("performance.getEntries().filter(e => 'transferSize' in e)"
                                   ".map(e => [e.name, e.transferSize, e.decodedBodySize])")
        check(sum(wire for _, wire, _ in fetched) < 560000 and not any("testing.ogg" in url for url, _, _ in fetched)
              and all(wire < 0.5 * body for url, wire, body in fetched if url.endswith((".js", ".wasm"))),
              "%s before Start" % fetched)
        browser.expect("!!navigator.serviceWorker.controller", 30)
        check(browser.call("Page.getInstallabilityErrors")["installabilityErrors"] == [], "not installable")
        for address, said in [("file://%s/index.html" % os.path.abspath(sys.argv[1]), "./web.sh"), *[
                (URL + "?autostart&seed=" + bad, "?seed=%s is refused" % bad) for bad in ("-1", "1.5", "4294967296")]]:
            browser.call("Page.navigate", url=address)
            browser.expect("!!window.messages && messages.textContent.includes(%r)"
                           " && bumpwave.state === 'start' && startButton.disabled" % said, 30)
        browser.open(URL + "?seed=1&times=0&save=")
        browser.expect("bumpwave.state === 'start' && messages.textContent.includes('as bumpwave-frames takes')")
        # The clock's seed after the warning; then its link's show, the same seed, at once and calm (reduced motion).
        browser.open(URL + "?autostart")
        browser.expect("bumpwave.state === 'start' && (r => r.top >= 0 && r.bottom <= innerHeight)"
                       "(element('warning').getBoundingClientRect())")
        browser.key("k")
        end_by_q(browser)
        link = browser.evaluate("document.querySelector('#messages a').search")
        browser.call("Emulation.setEmulatedMedia", features=[{"name": "prefers-reduced-motion", "value": "reduce"}])
        browser.open(URL + link + "&autostart")
        browser.expect("calmBox.checked && !/in \\d/.test(startButton.textContent)")
        end_by_q(browser)
        again = browser.evaluate("document.querySelector('#messages a').search")
        check(re.fullmatch(r"\?seed=\d+", link) and again == link, "links %s, then %s" % (link, again))
        browser.call("Network.emulateNetworkConditions", offline=True, latency=0, downloadThroughput=-1,
                     uploadThroughput=-1)
        browser.open(URL + "?seed=5")
        click_start(browser, "bumpwave.frames > 30 && bumpwave.musicTime > 1", 20)


def test_a_paced_show_plays_to_its_end_and_escape_or_q_ends_one():
    with Browser(page=URL + "?seed=3") as browser:
        # A 3-second music: the show ends a second after its 41 s of visuals.
        give(browser, "music", os.path.join(MUSIC, "stereo-3s.ogg"))
        click_start(browser, "bumpwave.frames > 10", 10)
        for screen in ("!!document.fullscreenElement", "!document.fullscreenElement"):
            browser.key("f")
            browser.expect(screen, 3)
        # At most a frame a step, 60 a second; a busy machine drops frames, never the show's time.
        first, shown, start = browser.evaluate("[bumpwave.frames, bumpwave.showTime]") + [time.monotonic()]
        time.sleep(5)
        frames, show = browser.evaluate("[bumpwave.frames, bumpwave.showTime]")
        elapsed = time.monotonic() - start
        check((frames - first) / elapsed <= 61, "%.1f frames a second" % ((frames - first) / elapsed))
        check(abs((show - shown) - elapsed) < 0.5, "show clock %.2f s in %.2f s" % (show - shown, elapsed))
        browser.expect("bumpwave.state === 'music'", 45)
        for key in ("", "Escape", "q"):
            if key:
                browser.evaluate("messages.textContent = ''")
                browser.key("Enter")
                browser.expect("bumpwave.frames > 30", 10)
                browser.key(key)
            browser.expect("bumpwave.state === 'ended' && startButton.textContent === 'Play again'", 10)
            browser.expect("0 < bumpwave.fps && bumpwave.fps <= 61 && messages.textContent.includes('@ ')")


# CSS size, pixel ratio, phone; the frame's box in device pixels, and whether its pixels are equal blocks.
DEVICES = [(1366, 768, 1, False, [171, 0, 1024, 768], False),
           (1280, 960, 1.25, False, [160, 120, 1280, 960], True),
           (844, 390, 3, True, [626, 105, 1280, 960], True),
           (390, 844, 3, True, [1, 828, 1168, 876], False)]  # the last the phone turned
SHOWN = ("(r => [canvas.width, canvas.height, ...[r.left, r.top, r.width, r.height].map(v => v * devicePixelRatio),"
         " getComputedStyle(canvas).imageRendering])(canvas.getBoundingClientRect())")
TIMES = "[bumpwave.showTime, bumpwave.musicTime, bumpwave.paused]"
HIDE = ("Object.defineProperty(document, 'hidden', {value: %s, configurable: true});"
        " document.dispatchEvent(new Event('visibilitychange'))")


def test_every_screen_shows_the_whole_frame_and_a_hidden_page_pauses():
    with Browser(page=URL + "?seed=5") as browser:
        click_start(browser, "bumpwave.frames > 10", 10)
        for width, height, ratio, phone, box, blocks in DEVICES:  # during the show, a phone's touch last
            browser.device(width, height, ratio, phone)
            shown = browser.expect("(s => %s.every((v, i) => Math.abs(s[i + 2] - v) < 1) && s)(%s)" % (box, SHOWN), 3)
            check(shown[:2] == [640, 480] and (shown[6] == "pixelated") == blocks, "%dx%d: %s" % (width, height, shown))
        # Hidden, Space, a tap (a double tap: full screen): picture and music stop and go on together.
        for act, seconds in ((lambda hidden: browser.evaluate(HIDE % str(hidden).lower()), 5),
                             (lambda _: browser.key(" "), 1), (lambda _: tap(browser), 1)):
            act(True)
            held = browser.expect("bumpwave.paused && " + TIMES, 3)
            time.sleep(seconds)
            # A step due before the pause, or the music's report of its last 1/20 s, may still land.
            later = browser.evaluate(TIMES)
            check(later[2] and all(0 <= b - a < 0.06 for a, b in zip(held[:2], later[:2])),
                  "paused %s, then %s" % (held, later))
            act(False)
            after = browser.expect("(t => t[0] > %f && t)(%s)" % (held[0] + 0.5, TIMES), 3)
            check(abs((after[0] - after[1]) - (held[0] - held[1])) < 0.1, "paused %s, after %s" % (held, after))
        tap(browser)
        tap(browser)
        browser.expect("!!document.fullscreenElement", 3)


# The start or end screen's parts in their order, each [id, top, bottom] in CSS pixels.
PANEL = ("[...document.getElementById('panel').children].filter(e => e.getClientRects().length)"
         ".map(e => (r => [e.id || e.tagName, r.top, r.bottom])(e.getBoundingClientRect()))")
BOX = "(r => [r.left, r.top, r.right, r.bottom])(document.getElementById(%r).getBoundingClientRect())"


def test_a_phone_held_sideways_sees_every_screen_whole():
    # Side bands wide enough for the touch controls, and too narrow: then they come with a tap.
    for width, height, beside in ((844, 390, True), (568, 320, False)):
        with Browser() as browser:
            browser.device(width, height, 3, True)
            browser.open(URL + "?seed=6")
            screens = [browser.evaluate(PANEL)]
            click_start(browser, "bumpwave.frames > 10", 10)
            frame, bar = browser.evaluate(BOX % "canvas"), browser.evaluate(BOX % "touch-bar")
            clear = bar[2] <= frame[0] or bar[0] >= frame[2] or bar[1] >= frame[3]
            if not beside:  # away, brought by a tap that does not pause, away again
                browser.expect("touchBar.hidden")
                tap(browser)
                browser.expect("!touchBar.hidden", 3)
                clear = browser.expect("touchBar.hidden", 5) and not browser.evaluate("bumpwave.paused")
            check(clear, "%dx%d: touch controls %s over the frame %s" % (width, height, bar, frame))
            end_by_q(browser)
            for parts in screens + [browser.evaluate(PANEL)]:  # from the top, one below the other
                check(parts[0][1] >= 0 and all(a[2] <= b[1] + 0.5 for a, b in zip(parts, parts[1:])),
                      "%dx%d: %s" % (width, height, parts))


def tap(browser):
    for kind, points in (("touchStart", [{"x": 100, "y": 100}]), ("touchEnd", [])):
        browser.call("Input.dispatchTouchEvent", type=kind, touchPoints=points)


def test_a_show_moves_as_a_video_does_with_its_music():
    at = [8200, 8216, 13216, 13200, 0]
    subprocess.run([os.path.join(NATIVE, "bumpwave-frames"), "--seed", "5", "--out", "at", "--at",
                    ",".join(map(str, at))], cwd=NATIVE, check=True, capture_output=True)
    expected = [open(os.path.join(NATIVE, "at", "frame-%05d.ppm" % i), "rb").read()[15:] for i in range(len(at))]
    with Browser(page=URL + "?seed=5&t=31.5") as browser:
        # From the link's 31.5 s, picture and music together within 0.1 s a stalled second later.
        click_start(browser, "bumpwave.musicTime > 0.5", 20)
        browser.expect("31.5 < bumpwave.showTime && bumpwave.showTime < 34")
        browser.evaluate(STALL)
        time.sleep(0.5)
        for _ in range(10):
            browser.expect("Math.abs(bumpwave.showTime - (page.musicFrom + bumpwave.musicTime)) <= 0.1")
            time.sleep(0.1)
        browser.key(" ")
        browser.expect("bumpwave.paused && !seekBar.hidden", 3)
        for i, key in enumerate(("2", ".", "ArrowRight", ",", "Home")):
            browser.key(key)
            browser.expect("Math.round(bumpwave.showTime * 1000) === %d" % at[i], 3)
            shown = ppm(browser.evaluate("canvas.toDataURL()"))[15:]
            check(shown == expected[i], "%s: not the frame of a show placed at %d ms" % (key, at[i]))
        browser.expect("element('time').textContent === '0:00 / 0:41'")
        # Placing the show at 40 s is quick even on a phone eight times slower than this machine.
        browser.call("Emulation.setCPUThrottlingRate", rate=8)
        browser.expect("(start => (_SeekShowTo(40000, start), performance.now() - start < 250))(performance.now())")
        browser.call("Emulation.setCPUThrottlingRate", rate=1)
        browser.key("9")
        browser.key(" ")
        browser.expect("bumpwave.state === 'music' && !element('panel').hidden", 10)
        browser.expect("bumpwave.musicTime > %f" % (browser.evaluate("bumpwave.musicTime") + 0.2), 5)
        click_start(browser, "bumpwave.state === 'running' && bumpwave.showTime < 5", 10)


if __name__ == "__main__":
    URL, NATIVE = serve_folder(os.path.abspath(sys.argv[1])), os.path.abspath(sys.argv[2])
    names = sys.argv[3:] or [name for name in globals() if name.startswith("test_")]
    tests = unittest.TestSuite(unittest.FunctionTestCase(globals()[name]) for name in names)
    sys.exit(not unittest.TextTestRunner(verbosity=2).run(tests).wasSuccessful())
