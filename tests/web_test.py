"""The page in headless Chromium, as its users meet it.
usage: /usr/bin/python3 tests/web_test.py PAGE_FOLDER NATIVE_BUILD_FOLDER
Ends with "N passed, N failed"; exit status 1 when any failed."""

import base64
import os
import re
import socket
import struct
import subprocess
import sys
import tempfile
import time
import traceback
import zlib

from browser import Browser, Server

SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
MUSIC = os.path.join(SOURCE, "tests", "music")
MESSAGES = "document.getElementById('messages').textContent"
FILES = "document.getElementById('%s-status').textContent"  # what the page says of a kind's file
START = "document.getElementById('start').click()"
# Vorbis's channel order to SDL's, which the page keeps: as the demo plays them.
TO_SDL_ORDER = {1: [0], 2: [0, 1], 6: [0, 2, 1, 5, 3, 4]}
NO_WEBGL = ("HTMLCanvasElement.prototype.getContext = (get => function (kind, options) {"
            " return kind.startsWith('webgl') ? null : get.call(this, kind, options); })"
            "(HTMLCanvasElement.prototype.getContext);")
NO_WEBGL2 = NO_WEBGL.replace("startsWith('webgl')", "startsWith('webgl2')")
# WebGL said to be drawn by a graphics card, as on most devices; headless Chromium's
# own is in software.
A_GRAPHICS_CARD = ("for (const kind of [WebGLRenderingContext, WebGL2RenderingContext]) {"
                   " const get = kind.prototype.getParameter;"
                   " kind.prototype.getParameter = function (name) {"
                   " return name === 0x9246 ? 'a graphics card' : get.call(this, name); }; }")
SURFACE = "!Module.screen.gl ? '2d' : Module.screen.webgl2 ? 'webgl2' : 'webgl'"


def check(condition, what):
    if not condition:
        raise AssertionError(what)


def click_start(browser, until, seconds):
    """Clicks Start, and waits until `until`."""
    browser.evaluate(START)
    check(browser.wait_for(until, seconds), "not " + until)


def end_by_q(browser):
    browser.key("q", "KeyQ")
    check(browser.wait_for("bumpwave.state === 'ended'", 5), "q did not end it")


def ppm(data_url):
    """The pixels of a PNG data URL, as a PPM file."""
    png = base64.b64decode(data_url.split(",", 1)[1])
    return subprocess.run(["convert", "png:-", "ppm:-"], input=png, capture_output=True, check=True).stdout


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


def give(browser, kind, path, wait=True):
    """Picks `path` in the page's `kind` file picker, or drops it on the page, as a user would;
    waits for the page to say what it makes of it, in the status line of `wait`'s kind."""
    if kind.startswith("drop"):
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
    if wait:
        status = FILES % kind.replace("drop-", "")
        check(browser.wait_for("%s.includes(%r)" % (status, os.path.basename(path)), 10),
              "%s: nothing said of %s" % (kind, path))
    return browser.evaluate(status if wait else "''")


def golden_frames_are_the_native_ones(server, native):
    golden = open(os.path.join(SOURCE, "tests", "golden_frames.txt")).read()
    seed, times = (re.search(r"^%s (\S+)" % word, golden, re.M).group(1) for word in ("seed", "times"))
    sums = {int(index): int(sum) for index, sum in re.findall(r"^(\d+) (\d+)", golden, re.M)}
    # WebGL 2 or 1 on a graphics card; a 2D canvas where WebGL is drawn in software,
    # and where there is none.
    for emulated, surface in (((A_GRAPHICS_CARD,), "webgl2"), ((A_GRAPHICS_CARD, NO_WEBGL2), "webgl"),
                              ((), "2d"), ((NO_WEBGL,), "2d")):
        with Browser(*emulated) as browser:
            browser.device(400, 300, 1.5)  # the captures are the frame whatever the window
            browser.open("%s?seed=%s&times=%s&save=%s" % (server.url, seed, times,
                                                          ",".join(str(i) for i in sorted(sums))))
            check(browser.wait_for("bumpwave.state === 'ended'", 120), "never ended")
            captures = browser.evaluate("bumpwave.captures")
            check(browser.evaluate(SURFACE) == surface, "not shown through " + surface)
        # Each capture is the canvas as it showed the frame.
        check(len(captures) == len(sums), "%d frames kept" % len(captures))
        for index, capture in zip(sorted(sums), captures):
            check(fnv1a(ppm(capture)) == sums[index], "frame %d differs (%s)" % (index, surface))


# The page's thread held for a second, as a long task or a slow device holds it.
STALL = "(() => { const until = performance.now() + 1000; while (performance.now() < until); })()"


def the_music_is_libvorbisfiles_decode_in_sdl_order(server, native):
    # The sound goes through a worklet alone: no ScriptProcessorNode is ever made.
    with Browser("BaseAudioContext.prototype.createScriptProcessor = function () {"
                 " window.scriptProcessor = true; throw new Error('a ScriptProcessorNode'); };") as browser:
        browser.open(server.url + "?seed=1&keep-sound")
        # The demo's own music through a second of a stalled page, then six channels that SDL
        # orders otherwise than Vorbis: each show keeps its own sound, from its start.
        for music, seconds in ((None, 5), (os.path.join(MUSIC, "six-channels-22050.ogg"), 1)):
            rate, channels, expected = native_decode(
                music or os.path.join(native, "testing.ogg"), seconds)
            if music:  # Start at once: the show waits for the file being read
                give(browser, "music", music, wait=False)
            click_start(browser, "bumpwave.state === 'running'", 20)
            if not music:
                check(browser.wait_for("bumpwave.musicTime > 0.5", 20), "no music played")
                browser.evaluate(STALL)
            check(browser.wait_for("bumpwave.sound.length >= %d" % len(expected),
                                   seconds + 20), "too little sound kept")
            check(browser.evaluate("[bumpwave.soundRate, bumpwave.soundChannels]")
                  == [rate, channels], "rate or channel count")
            # Read on the worker: the page's own thread has no music file to decode.
            check(browser.evaluate("!FS.analyzePath('/testing.ogg').exists"), "music on the page")
            kept = browser.evaluate("bumpwave.sound.slice(0, %d)"
                                    % len(expected))
            worst = max(abs(a - b) for a, b in zip(kept, expected))
            check(worst <= 1, "%s: a sample differs by %d from libvorbisfile's" % (music, worst))
            end_by_q(browser)
        check(not browser.evaluate("window.scriptProcessor"), "a ScriptProcessorNode was made")


# What the page fetched before Start could be used: [url, bytes on the wire, bytes of the body].
FETCHED = ("performance.getEntriesByType('navigation').concat(performance.getEntriesByType("
           "'resource')).map(e => [e.name, e.transferSize, e.decodedBodySize])")


def a_slow_network_starts_soon_and_a_visit_without_one_plays(server, native):
    with Browser() as browser:
        # A phone's network: 1.6 Mb/s, 150 ms. Start comes after the program and the pictures
        # alone, compressed; the music follows as the show plays.
        browser.call("Network.enable")
        browser.call("Network.emulateNetworkConditions", offline=False, latency=150,
                     downloadThroughput=200000, uploadThroughput=200000)
        browser.open(server.url + "?seed=4")
        fetched = browser.evaluate(FETCHED)
        check(sum(wire for _, wire, _ in fetched) < 560000, "%s before Start" % fetched)
        check(not any("testing.ogg" in url for url, _, _ in fetched), "the music before Start")
        check(all(wire < 0.5 * body for url, wire, body in fetched if url.endswith((".js", ".wasm"))),
              "not compressed: %s" % fetched)
        # Installable, and kept for a visit without a network, where it plays with its music.
        check(browser.wait_for("!!navigator.serviceWorker.controller", 30), "no service worker")
        check(browser.call("Page.getInstallabilityErrors")["installabilityErrors"] == [],
              "not installable")
        browser.call("Network.emulateNetworkConditions", offline=True, latency=0,
                     downloadThroughput=-1, uploadThroughput=-1)
        browser.open(server.url + "?seed=5")
        click_start(browser, "bumpwave.frames > 30 && bumpwave.musicTime > 1", 20)


def hostile_pictures(folder):
    """A 640 × 480 PNG whose image data goes on with 48 MiB of deflated zeros, and a progressive
    JPEG whose last scan is repeated into 3000 scans, as tests/picture_test.cpp makes them."""
    rows = b"".join(b"\0" + bytes((x ^ y) & 255 for x in range(640)) for y in range(480))
    deflate = zlib.compressobj(9)
    data = deflate.compress(rows) + b"".join(deflate.compress(bytes(1 << 20)) for _ in range(48))
    chunk = lambda kind, body: (struct.pack(">I", len(body)) + kind + body
                                + struct.pack(">I", zlib.crc32(kind + body)))
    png = (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 640, 480, 8, 0, 0, 0, 0))
           + chunk(b"IDAT", data + deflate.flush()) + chunk(b"IEND", b""))
    jpeg = subprocess.run(["convert", "-size", "640x480", "xc:gray", "-interlace", "JPEG", "jpeg:-"],
                          capture_output=True, check=True).stdout
    scan = jpeg[jpeg.rindex(b"\xff\xda"):-2]
    files = {"hidden.png": png, "scans.jpg": jpeg[:-2] + scan * 3000 + b"\xff\xd9",
             "empty.png": b"", "chain.ogg": b"".join(open(os.path.join(MUSIC, name), "rb").read()
                                                     for name in ("stereo-3s.ogg", "rate-1.ogg", "stereo-3s.ogg"))}
    for name, data in files.items():
        open(os.path.join(folder, name), "wb").write(data)


# The longest wait between two animation frames since the last call, in ms, the one still
# open included: a page that draws nothing fails it.
FRAME_GAP = ("(() => { const gaps = window.gaps, now = performance.now();"
             " window.gaps = { worst: 0, last: now }; if (!gaps) requestAnimationFrame(function next(at) {"
             " window.gaps.worst = Math.max(window.gaps.worst, at - window.gaps.last);"
             " window.gaps.last = at; requestAnimationFrame(next); });"
             " return gaps ? Math.max(gaps.worst, now - gaps.last) : 0; })()")


def memory(browser):
    """The page's and its music worker's memory, WebAssembly's and JavaScript's, in bytes."""
    return sum(browser.evaluate("HEAPU8.length", session)
               + browser.call("Runtime.getHeapUsage", session)["usedSize"]
               for session in (None, browser.workers[-1]))


def the_users_files_are_checked_by_their_own_names_when_chosen(server, native):
    with tempfile.TemporaryDirectory(prefix="bumpwave-web-") as folder, Browser() as browser:
        hostile_pictures(folder)
        browser.open(server.url + "?seed=2")
        browser.call("Target.setAutoAttach", autoAttach=True, waitForDebuggerOnStart=False, flatten=True)
        check(browser.wait_for("page.loaded && page.musicReady", 20), "the page never settled")
        for kind, path, said in [
                ("bump", "empty.png", "empty.png will not be used: neither a PNG nor a JPEG"),
                ("logo", os.path.join(MUSIC, "not-vorbis.ogg"), "not-vorbis.ogg will not be used"),
                ("music", os.path.join(MUSIC, "ten-channels.ogg"),
                 "ten-channels.ogg will not be used: a stream of 10 channels"),
                # Dropped pictures replace the one refused first: the bump picture.
                ("drop-bump", os.path.join(SOURCE, "tests", "pictures", "huge.png"),
                 "huge.png will not be used: 65535 × 65535 pixels are too many"),
                ("drop-bump", os.path.join(SOURCE, "tests", "pictures", "pattern.png"),
                 "pattern.png will be the bump picture"),
                ("logo", "scans.jpg", "scans.jpg will not be used: a progressive JPEG of more than 500 scans"),
                ("bump", "hidden.png", "hidden.png will be the bump picture")]:
            browser.evaluate(FRAME_GAP)
            text = give(browser, kind, os.path.join(folder, path))
            check(said in text, "%s: %r" % (path, text))
            if path in ("scans.jpg", "hidden.png"):  # the page draws on while the worker checks them
                gap = browser.evaluate(FRAME_GAP)
                print("  %s: frames at most %.0f ms apart" % (path, gap))
                check(gap < 250, "%s: no frame for %.0f ms" % (path, gap))
        check(browser.evaluate("[...document.querySelectorAll('input[type=file]')]"
                               ".map(i => i.files.length ? i.files[0].name : '').join()")
              == "hidden.png,,", "the pickers do not show what the next show takes")
        # Music that grows manyfold in the converter (1 Hz between two plain streams) is handed
        # to it a little at a time: it costs no more memory than a plain file.
        used = []
        for music, seconds in (("stereo-3s.ogg", 2), (os.path.join(folder, "chain.ogg"), 5)):
            give(browser, "music", os.path.join(MUSIC, music))
            click_start(browser, "bumpwave.musicTime > %d" % seconds, 20)
            used.append(memory(browser))
            end_by_q(browser)
        print("  memory: %.1f MB with a plain file, %.1f MB with the chain" % (used[0] / 1e6, used[1] / 1e6))
        check(used[1] - used[0] < 64 << 20, "the chain took %.0f MB more" % ((used[1] - used[0]) / 1e6))


def what_cannot_run_is_said_and_a_shows_seed_replays_it(server, native):
    taken = socket.create_server(("127.0.0.1", 0))
    port = taken.getsockname()[1]
    for argument, status, said in (("--help", 0, "usage: ./web.sh"), ("70000", 2, "is neither a port"),
                                   (str(port), 1, "port %d is taken; ./web.sh " % port)):
        # Said at once, in one line: nothing is built first.
        run = subprocess.run([os.path.join(SOURCE, "web.sh"), argument], capture_output=True,
                             text=True, timeout=10)
        check((run.returncode, said in run.stdout + run.stderr) == (status, True)
              and (status == 0 or (run.stdout + run.stderr).count("\n") <= 2),
              "web.sh %s: %d, %r" % (argument, run.returncode, run.stdout + run.stderr))
    taken.close()
    with Browser() as browser:
        for url, said in [(server.file_url, "./web.sh"), *[
                (server.url + "?autostart&seed=" + bad, "?seed=%s is refused" % bad)
                for bad in ("-1", "1.5", "4294967296")]]:
            browser.call("Page.navigate", url=url)
            check(browser.wait_for("!!document.getElementById('messages') && %s.includes(%r)"
                                   % (MESSAGES, said), 30), url + ": not said")
            check(browser.evaluate("bumpwave.state === 'start' && element('start').disabled"), url + ": it can start")
        browser.open(server.url + "?autostart=0")
        check(browser.evaluate("bumpwave.state") == "start", "?autostart=0 started")
        # An empty ?save is refused, as bumpwave-frames refuses an empty --save.
        browser.open(server.url + "?seed=1&times=0&save=")
        check("as bumpwave-frames takes them" in browser.evaluate(MESSAGES)
              and browser.evaluate("bumpwave.state") == "start", "?save= drew")
        check(browser.evaluate("fetch('favicon.png').then(r => r.ok)"), "no favicon")
        # A show of the clock's seed, after the warning, which a key ends; then the show its link
        # names, the same seed, at once and calm where the system asks for reduced motion.
        links = []
        for url in (server.url + "?autostart", None):
            browser.open(url or server.url + links[0] + "&autostart")
            if url:
                check(browser.evaluate("bumpwave.state === 'start' && (r => r.top >= 0 && r.bottom <= innerHeight)"
                                       "(element('warning').getBoundingClientRect())"), "the warning was not shown")
                browser.key("k", "KeyK")
                browser.call("Emulation.setEmulatedMedia", features=[
                    {"name": "prefers-reduced-motion", "value": "reduce"}])
            else:
                check(browser.evaluate("calmBox.checked && !/in \\d/.test(startButton.textContent)"),
                      "not at once, or not calm")
            check(browser.wait_for("bumpwave.frames > 3", 10), "no show at " + browser.evaluate("location.search"))
            end_by_q(browser)
            links.append(browser.evaluate("document.querySelector('#messages a').search"))
        check(re.fullmatch(r"\?seed=\d+", links[0]) and links[0] == links[1], "links %s" % links)


def a_paced_show_plays_to_its_end_and_escape_or_q_ends_one(server, native):
    with Browser() as browser:
        # A 3-second music: the show ends a second after its 41 s of visuals.
        browser.open(server.url + "?seed=3")
        give(browser, "music", os.path.join(MUSIC, "stereo-3s.ogg"))
        click_start(browser, "bumpwave.frames > 10", 10)
        for screen in ("!!document.fullscreenElement", "!document.fullscreenElement"):
            browser.key("f", "KeyF")
            check(browser.wait_for(screen, 3), "F: " + screen)
        # At most a frame a step, 60 a second on any display; a busy machine drops frames,
        # never the show's time.
        first, shown, start = browser.evaluate("[bumpwave.frames, bumpwave.showTime]") + [time.monotonic()]
        time.sleep(5)
        frames, show = browser.evaluate("[bumpwave.frames, bumpwave.showTime]")
        elapsed = time.monotonic() - start
        check((frames - first) / elapsed <= 61, "%.1f frames a second" % ((frames - first) / elapsed))
        check(abs((show - shown) - elapsed) < 0.5, "show clock %.2f s in %.2f s" % (show - shown, elapsed))
        step = browser.evaluate("bumpwave.stepMs")
        check(0 <= step["mean"] <= step["worst"] and step["worst"] > 0, "stepMs %s" % step)
        check(browser.wait_for("bumpwave.state === 'music'", 45), "no music state")
        check(0 < (fps := browser.evaluate("bumpwave.fps")) <= 61, "final rate %s" % fps)
        check("@ " in browser.evaluate(MESSAGES), "no frame-rate line on the page")
        check(browser.wait_for("bumpwave.state === 'ended'", 10), "never ended")
        check(browser.evaluate("startButton.textContent") == "Play again", "no Play again")
        # Again from the keyboard alone, ended early by either stop key, as on the desktop: the
        # frame-rate line and bumpwave.fps for the frames shown, the music faded, no pause.
        for key, code in (("Escape", "Escape"), ("q", "KeyQ")):
            browser.evaluate("messages.textContent = ''")
            check(browser.evaluate("document.activeElement.id") == "start", "start not focused")
            browser.key("Enter", "Enter")
            check(browser.wait_for("bumpwave.frames > 30", 10), "no show before " + key)
            browser.key(key, code)
            check(browser.wait_for("bumpwave.state === 'ended'", 3), key + " did not end it")
            check(browser.evaluate("bumpwave.fps") > 0, key + ": no bumpwave.fps")
            check("@ " in browser.evaluate(MESSAGES), key + ": no frame-rate line")


# CSS width, height, device pixel ratio, phone; the frame's box in device pixels: x, y, width,
# height, and whether each frame pixel is an equal block.
DEVICES = [
    (1920, 1080, 1, False, (320, 60, 1280, 960, True)),
    (1366, 768, 1, False, (171, 0, 1024, 768, False)),
    (1280, 720, 1.5, False, (320, 60, 1280, 960, True)),
    (1280, 960, 1.25, False, (160, 120, 1280, 960, True)),
    (1440, 900, 2, False, (480, 180, 1920, 1440, True)),
    (844, 390, 3, True, (626, 105, 1280, 960, True)),
    (390, 844, 3, True, (1, 828, 1168, 876, False)),  # the phone turned
]
SHOWN = ("(() => { const r = canvas.getBoundingClientRect(), d = devicePixelRatio; return ["
         "canvas.width, canvas.height, r.left * d, r.top * d, r.width * d, r.height * d, "
         "getComputedStyle(canvas).imageRendering]; })()")
TIMES = "[bumpwave.showTime, bumpwave.musicTime, bumpwave.paused]"


def hide(browser, hidden):
    browser.evaluate("Object.defineProperty(document, 'hidden', {value: %s, configurable: true});"
                     " document.dispatchEvent(new Event('visibilitychange'))" % str(hidden).lower())


def every_screen_shows_the_whole_frame_and_a_hidden_page_pauses(server, native):
    with Browser() as browser:
        browser.device(*DEVICES[0][:4])
        browser.open(server.url + "?seed=5")
        click_start(browser, "bumpwave.frames > 10", 10)
        for width, height, ratio, phone, box in DEVICES:  # resized and turned during the show
            browser.device(width, height, ratio, phone)
            shown = browser.wait_for("(s => Math.abs(s[4] - %d) < 1 && s)(%s)" % (box[2], SHOWN), 3)
            check(shown and shown[:2] == [640, 480] and all(abs(a - b) < 1 for a, b in zip(
                shown[2:6], box)) and (shown[6] == "pixelated") == box[4],
                "%dx%d at %s: %s" % (width, height, ratio, shown))
        # Hidden, then Space, then a tap (a double tap: full screen): picture and music stop
        # together and go on together.
        browser.call("Emulation.setTouchEmulationEnabled", enabled=True)
        for pause, go_on, seconds in (
                (lambda: hide(browser, True), lambda: hide(browser, False), 5),
                (lambda: browser.key(" ", "Space"), lambda: browser.key(" ", "Space"), 1),
                (lambda: tap(browser), lambda: tap(browser), 1)):
            pause()
            check(browser.wait_for("bumpwave.paused", 3), "not paused")
            held = browser.evaluate(TIMES)
            time.sleep(seconds)
            # A step due before the pause, or a sound buffer already on its way, may still land.
            later = browser.evaluate(TIMES)
            check(later[2] and all(0 <= b - a < 0.05 for a, b in zip(held[:2], later[:2])),
                  "paused %s, then %s" % (held, later))
            go_on()
            after = browser.wait_for("(t => t[0] > %f && t)(%s)" % (held[0] + 0.5, TIMES), 3)
            check(after and abs((after[0] - after[1]) - (held[0] - held[1])) < 0.1,
                  "paused %s, after %s" % (held, after))
        check(browser.evaluate("!touchBar.hidden"), "no touch bar")
        tap(browser)
        tap(browser)
        check(browser.wait_for("!!document.fullscreenElement", 3), "a double tap")


# The start or end screen's parts in their order, each [id, top, bottom] in CSS pixels.
PANEL = ("[...document.getElementById('panel').children].filter(e => e.getClientRects().length)"
         ".map(e => (r => [e.id || e.tagName, r.top, r.bottom])(e.getBoundingClientRect()))")
BOX = "(r => [r.left, r.top, r.right, r.bottom])(document.getElementById(%r).getBoundingClientRect())"


def a_phone_held_sideways_sees_every_screen_whole(server, native):
    # Side bands wide enough for the touch controls, and too narrow: then they come with a tap.
    for width, height, beside in ((844, 390, True), (568, 320, False)):
        with Browser() as browser:
            browser.device(width, height, 3, True)
            browser.call("Emulation.setTouchEmulationEnabled", enabled=True)
            browser.open(server.url + "?seed=6")
            for screen in ("start", "end"):
                parts = browser.evaluate(PANEL)  # from the top, one below the other
                check(parts[0][1] >= 0 and all(a[2] <= b[1] + 0.5 for a, b in zip(parts, parts[1:])),
                      "%dx%d, %s screen: %s" % (width, height, screen, parts))
                if screen == "end":
                    break
                click_start(browser, "bumpwave.frames > 10", 10)
                frame, bar = browser.evaluate(BOX % "canvas"), browser.evaluate(BOX % "touch-bar")
                clear = bar[2] <= frame[0] or bar[0] >= frame[2] or bar[1] >= frame[3]
                if not beside:
                    check(browser.evaluate("touchBar.hidden"), "%dx%d: the touch controls stay over the frame" % (width, height))
                    tap(browser)
                    check(browser.wait_for("!touchBar.hidden", 3), "no tap")
                    check(browser.wait_for("touchBar.hidden", 5), "%dx%d: the touch controls stay" % (width, height))
                    clear = not browser.evaluate("bumpwave.paused")  # the tap only showed them
                check(clear, "%dx%d: touch controls %s over the frame %s" % (width, height, bar, frame))
                end_by_q(browser)


def tap(browser):
    for kind, points in (("touchStart", [{"x": 100, "y": 100}]), ("touchEnd", [])):
        browser.call("Input.dispatchTouchEvent", type=kind, touchPoints=points)


# Where the music is heard against where the show is, in seconds.
DRIFT = "Math.abs(bumpwave.showTime - (page.musicFrom + bumpwave.musicTime))"


def a_show_moves_as_a_video_does_with_its_music(server, native):
    at = [8200, 8216, 13216, 13200, 0]
    subprocess.run([os.path.join(native, "bumpwave-frames"), "--seed", "5", "--out", "at", "--at",
                    ",".join(map(str, at))], cwd=native, check=True, capture_output=True)
    expected = [open(os.path.join(native, "at", "frame-%05d.ppm" % i), "rb").read()[15:] for i in
                range(len(at))]
    with Browser() as browser:
        # A link to 31.5 s starts there, picture and music; a second of a stalled page later,
        # they are still together within a tenth of a second.
        browser.open(server.url + "?seed=5&t=31.5")
        click_start(browser, "bumpwave.musicTime > 0.5", 20)
        check(31.5 < browser.evaluate("bumpwave.showTime") < 34, "not from 31.5 s")
        browser.evaluate(STALL)
        time.sleep(0.5)
        for _ in range(10):
            check(browser.evaluate(DRIFT) <= 0.1, "picture and music %.3f s apart" % browser.evaluate(DRIFT))
            time.sleep(0.1)
        # Paused, each key puts on the canvas the frame bumpwave-frames draws at its moment.
        browser.key(" ", "Space")
        check(browser.wait_for("bumpwave.paused && !seekBar.hidden", 3), "no seek bar while paused")
        for i, (key, code) in enumerate((("2", "Digit2"), (".", "Period"), ("ArrowRight", "ArrowRight"),
                                         (",", "Comma"), ("Home", "Home"))):
            browser.key(key, code)
            check(browser.wait_for("Math.round(bumpwave.showTime * 1000) === %d" % at[i], 3),
                  "%s: at %s s" % (key, browser.evaluate("bumpwave.showTime")))
            shown = ppm(browser.evaluate("canvas.toDataURL()"))[15:]
            check(shown == expected[i], "%s: not the frame of a show placed at %d ms" % (key, at[i]))
        # Placing the show at 40 s is quick even on a phone eight times slower than this machine.
        browser.call("Emulation.setCPUThrottlingRate", rate=8)
        took = browser.evaluate("(() => { const t = performance.now(); _SeekShowTo(40000, t);"
                                " return performance.now() - t; })()")
        browser.call("Emulation.setCPUThrottlingRate", rate=1)
        check(took < 250, "placing the show at 40 s took %.0f ms" % took)
        # The end screen comes with the visuals' end, the music playing on beside it; Play
        # again stops that music and starts a new show.
        browser.key("9", "Digit9")
        browser.key(" ", "Space")
        check(browser.wait_for("bumpwave.state === 'music' && !element('panel').hidden", 10),
              "no end screen at the visuals' end")
        played = browser.evaluate("bumpwave.musicTime")
        check(browser.wait_for("bumpwave.musicTime > %f" % (played + 0.2), 5), "no music beside it")
        click_start(browser, "bumpwave.state === 'running' && bumpwave.showTime < 5", 10)
        end_by_q(browser)


def main():
    server, native = Server(os.path.abspath(sys.argv[1])), os.path.abspath(sys.argv[2])
    failed = 0
    tests = (golden_frames_are_the_native_ones,
                 the_music_is_libvorbisfiles_decode_in_sdl_order,
                 a_slow_network_starts_soon_and_a_visit_without_one_plays,
                 the_users_files_are_checked_by_their_own_names_when_chosen,
                 what_cannot_run_is_said_and_a_shows_seed_replays_it,
                 every_screen_shows_the_whole_frame_and_a_hidden_page_pauses,
                 a_phone_held_sideways_sees_every_screen_whole,
                 a_paced_show_plays_to_its_end_and_escape_or_q_ends_one,
                 a_show_moves_as_a_video_does_with_its_music)
    for test in tests:
        started = time.monotonic()
        try:
            test(server, native)
            print("PASS %s (%.1f s)" % (test.__name__, time.monotonic() - started), flush=True)
        except Exception:
            failed += 1
            print("FAIL %s\n%s" % (test.__name__, traceback.format_exc()), flush=True)
    server.close()
    print("%d passed, %d failed" % (len(tests) - failed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
