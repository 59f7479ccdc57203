"""The page in headless Chromium, as its users meet it.
usage: /usr/bin/python3 tests/web_test.py PAGE_FOLDER NATIVE_BUILD_FOLDER
Ends with "N passed, N failed"; exit status 1 when any failed."""

import base64
import functools
import gzip
import os
import re
import socket
import subprocess
import sys
import tempfile
import time
import traceback

from browser import Browser, serve_folder

SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
MUSIC, PICTURES = os.path.join(SOURCE, "tests", "music"), os.path.join(SOURCE, "tests", "pictures")
# Vorbis's channel order to SDL's, which the page keeps: as the demo plays them.
TO_SDL_ORDER = {1: [0], 2: [0, 1], 6: [0, 2, 1, 5, 3, 4]}
NO_WEBGL = ("HTMLCanvasElement.prototype.getContext = (get => function (kind, options) {"
            " return kind.startsWith('webgl') ? null : get.call(this, kind, options); })"
            "(HTMLCanvasElement.prototype.getContext);")
NO_WEBGL2 = NO_WEBGL.replace("startsWith('webgl')", "startsWith('webgl2')")
# WebGL said to be drawn by a graphics card, as on most devices; headless Chromium's is in software.
A_GRAPHICS_CARD = ("for (const kind of [WebGLRenderingContext, WebGL2RenderingContext]) {"
                   " const get = kind.prototype.getParameter; kind.prototype.getParameter = function (name) {"
                   " return name === 0x9246 ? 'a graphics card' : get.call(this, name); }; }")


def check(condition, what):
    if not condition:
        raise AssertionError(what)


def click_start(browser, until, seconds):
    browser.evaluate("startButton.click()")
    check(browser.wait_for(until, seconds), "not " + until)


def end_by_q(browser):
    browser.key("q")
    check(browser.wait_for("bumpwave.state === 'ended'", 5), "q did not end it")


def ppm(data_url):
    """The pixels of a PNG data URL, as a PPM file."""
    png = base64.b64decode(data_url.split(",", 1)[1])
    return subprocess.run(["convert", "png:-", "ppm:-"], input=png, capture_output=True, check=True).stdout


def fnv1a(data):
    return functools.reduce(lambda value, byte: (value ^ byte) * 1099511628211 % 2**64, data, 1469598103934665603)


def native_decode(path, seconds):
    """libvorbisfile's own decode (oggdec) of the first `seconds`, in SDL's order."""
    raw = subprocess.run(["oggdec", "--quiet", "--raw", "--output", "-", path], capture_output=True, check=True).stdout
    info = subprocess.run(["ogginfo", path], capture_output=True, text=True).stdout
    rate, channels = (int(re.search(r"%s: (\d+)" % word, info).group(1)) for word in ("Rate", "Channels"))
    values, order = memoryview(raw).cast("h"), TO_SDL_ORDER[channels]
    count = min(len(values), seconds * rate * channels)
    return rate, channels, [values[i - i % channels + order[i % channels]] for i in range(count)]


def give(browser, kind, path, wait=True):
    """Picks `path` in the page's `kind` file picker, or drops it (drop-KIND), as a user would; what the
    page says of it, once said unless not `wait`."""
    if kind.startswith("drop"):
        browser.evaluate("(t => { t.items.add(new File([Uint8Array.from(atob(%r), c => c.charCodeAt(0))], %r));"
                         " dispatchEvent(new DragEvent('drop', {dataTransfer: t})); })(new DataTransfer())"
                         % (base64.b64encode(open(path, "rb").read()).decode(), os.path.basename(path)))
    else:
        document = browser.call("DOM.getDocument")["root"]["nodeId"]
        node = browser.call("DOM.querySelector", nodeId=document, selector="#%s-file" % kind)["nodeId"]
        browser.call("DOM.setFileInputFiles", nodeId=node, files=[path])
    status = "element('%s-status').textContent" % kind.replace("drop-", "")
    check(not wait or browser.wait_for("%s.includes(%r)" % (status, os.path.basename(path)), 10),
          "%s: nothing said of %s" % (kind, path))
    return browser.evaluate(status)


def golden_frames_are_the_native_ones(url, native):
    golden = open(os.path.join(SOURCE, "tests", "golden_frames.txt")).read()
    seed, times = (re.search(r"^%s (\S+)" % word, golden, re.M).group(1) for word in ("seed", "times"))
    sums = {int(index): int(sum) for index, sum in re.findall(r"^(\d+) (\d+)", golden, re.M)}
    # WebGL 2 or 1 on a graphics card; a 2D canvas where WebGL is drawn in software, and where there is none.
    for emulated, surface in (((A_GRAPHICS_CARD,), "webgl2"), ((A_GRAPHICS_CARD, NO_WEBGL2), "webgl"),
                              ((), "2d"), ((NO_WEBGL,), "2d")):
        with Browser(*emulated) as browser:
            browser.device(400, 300, 1.5)  # the captures are the frame whatever the window
            browser.open("%s?seed=%s&times=%s&save=%s" % (url, seed, times, ",".join(map(str, sorted(sums)))))
            check(browser.wait_for("bumpwave.state === 'ended'", 120), "never ended")
            shown = browser.evaluate("!Module.screen.gl ? '2d' : Module.screen.webgl2 ? 'webgl2' : 'webgl'")
            check(shown == surface, "shown through %s, not %s" % (shown, surface))
            captures = [fnv1a(ppm(capture)) for capture in browser.evaluate("bumpwave.captures")]
        wrong = [index for index, capture in zip(sorted(sums), captures) if capture != sums[index]]
        check(len(captures) == len(sums) and not wrong, "%s: %d kept, %s differ" % (surface, len(captures), wrong))


# The page's thread held for a second, as a long task or a slow device holds it.
STALL = "(() => { const until = performance.now() + 1000; while (performance.now() < until); })()"


def the_music_is_libvorbisfiles_decode_in_sdl_order(url, native):
    # The sound goes through a worklet alone: no ScriptProcessorNode is ever made.
    with Browser("BaseAudioContext.prototype.createScriptProcessor = function () {"
                 " window.scriptProcessor = true; throw new Error('a ScriptProcessorNode'); };",
                 page=url + "?seed=1&keep-sound") as browser:
        # The demo's own music through a stalled second, then six channels that SDL orders otherwise
        # than Vorbis: each show keeps its own sound, from its start.
        for music, own in ((os.path.join(native, "testing.ogg"), True),
                           (os.path.join(MUSIC, "six-channels-22050.ogg"), False)):
            rate, channels, expected = native_decode(music, 5 if own else 1)
            if not own:  # Start at once: the show waits for the file being read
                give(browser, "music", music, wait=False)
            click_start(browser, "bumpwave.state === 'running' && bumpwave.musicTime > 0.5", 20)
            if own:
                browser.evaluate(STALL)
            check(browser.wait_for("bumpwave.sound.length >= %d" % len(expected), 25), "too little sound kept")
            kept = browser.evaluate("[bumpwave.soundRate, bumpwave.soundChannels, bumpwave.sound.slice(0, %d)]"
                                    % len(expected))
            worst = max(abs(a - b) for a, b in zip(kept[2], expected))
            check(kept[:2] == [rate, channels] and worst <= 1, "%s: %s, a sample off by %d" % (music, kept[:2], worst))
            # Read on the worker: the page's own thread has no music file to decode.
            check(browser.evaluate("!FS.analyzePath('/testing.ogg').exists"), "music on the page")
            end_by_q(browser)
        check(not browser.evaluate("window.scriptProcessor"), "a ScriptProcessorNode was made")


# What the page fetched before Start could be used: [url, bytes on the wire, bytes of the body].
FETCHED = ("performance.getEntries().filter(e => 'transferSize' in e)"
           ".map(e => [e.name, e.transferSize, e.decodedBodySize])")


def a_slow_network_starts_soon_and_a_visit_without_one_plays(url, native):
    with Browser() as browser:
        # A phone's network, 1.6 Mb/s and 150 ms: Start after the program and pictures alone, compressed.
        browser.call("Network.enable")
        browser.call("Network.emulateNetworkConditions", offline=False, latency=150, downloadThroughput=200000,
                     uploadThroughput=200000)
        browser.open(url + "?seed=4")
        fetched = browser.evaluate(FETCHED)
        check(sum(wire for _, wire, _ in fetched) < 560000, "%s before Start" % fetched)
        check(not any("testing.ogg" in url for url, _, _ in fetched), "the music before Start")
        check(all(wire < 0.5 * body for url, wire, body in fetched if url.endswith((".js", ".wasm"))),
              "not compressed: %s" % fetched)
        # Installable, and kept for a visit without a network, where it plays with its music.
        check(browser.wait_for("!!navigator.serviceWorker.controller", 30), "no service worker")
        check(browser.call("Page.getInstallabilityErrors")["installabilityErrors"] == [], "not installable")
        browser.call("Network.emulateNetworkConditions", offline=True, latency=0, downloadThroughput=-1,
                     uploadThroughput=-1)
        browser.open(url + "?seed=5")
        click_start(browser, "bumpwave.frames > 30 && bumpwave.musicTime > 1", 20)


def hostile_files(folder):
    """Pictures with 4 GiB of hidden data, of 501 scans, of nothing; music of 1 Hz between two plain streams."""
    files = {name: gzip.open(os.path.join(PICTURES, name + ".gz")).read() for name in ("hidden.png", "scans-501.jpg")}
    files["empty.png"] = b""
    files["chain.ogg"] = b"".join(open(os.path.join(MUSIC, name), "rb").read()
                                  for name in ("stereo-3s.ogg", "rate-1.ogg", "stereo-3s.ogg"))
    for name, data in files.items():
        open(os.path.join(folder, name), "wb").write(data)


# The longest wait between animation frames since the last call, in ms, the open one too: no drawing fails it.
FRAME_GAP = ("(() => { const gaps = window.gaps, now = performance.now();"
             " window.gaps = { worst: 0, last: now }; if (!gaps) requestAnimationFrame(function next(at) {"
             " window.gaps.worst = Math.max(window.gaps.worst, at - window.gaps.last);"
             " window.gaps.last = at; requestAnimationFrame(next); });"
             " return gaps ? Math.max(gaps.worst, now - gaps.last) : 0; })()")


def memory(browser):
    """The page's and its music worker's memory, WebAssembly's and JavaScript's, in bytes."""
    return sum(browser.evaluate("HEAPU8.length", session) + browser.call("Runtime.getHeapUsage", session)["usedSize"]
               for session in (None, browser.workers[-1]))


def the_users_files_are_checked_by_their_own_names_when_chosen(url, native):
    with tempfile.TemporaryDirectory(prefix="bumpwave-web-") as folder, Browser(page=url + "?seed=2") as browser:
        hostile_files(folder)
        browser.call("Target.setAutoAttach", autoAttach=True, waitForDebuggerOnStart=False, flatten=True)
        check(browser.wait_for("page.loaded && page.musicReady", 20), "the page never settled")
        for kind, name, said in [
                ("bump", "empty.png", "will not be used: neither a PNG nor a JPEG"),
                ("logo", "not-vorbis.ogg", "will not be used"),
                ("music", "ten-channels.ogg", "will not be used: a stream of 10 channels"),
                # Dropped pictures replace the one refused first: the bump picture.
                ("drop-bump", "huge.png", "will not be used: 65535 × 65535 pixels are too many"),
                ("drop-bump", "pattern.png", "will be the bump picture"),
                ("logo", "scans-501.jpg", "will not be used: a progressive JPEG of more than 500 scans"),
                ("bump", "hidden.png", "will be the bump picture")]:
            browser.evaluate(FRAME_GAP)
            places = [os.path.join(place, name) for place in (folder, MUSIC, PICTURES)]
            text = give(browser, kind, next(filter(os.path.exists, places)))
            check(name + " " + said in text, "%s: %r" % (name, text))
            if name in ("scans-501.jpg", "hidden.png"):  # the page draws on while the worker checks them
                gap = browser.evaluate(FRAME_GAP)
                print("  %s: frames at most %.0f ms apart" % (name, gap))
                check(gap < 250, "%s: no frame for %.0f ms" % (name, gap))
        pickers = browser.evaluate("[...document.querySelectorAll('#files input')].map(i => i.files[0]?.name).join()")
        check(pickers == "hidden.png,,", "the pickers show %r, not what the next show takes" % pickers)
        # Music of 1 Hz, manyfold in the converter, costs no more memory than a plain file.
        used = []
        for music, seconds in (("stereo-3s.ogg", 2), (os.path.join(folder, "chain.ogg"), 5)):
            give(browser, "music", os.path.join(MUSIC, music))
            click_start(browser, "bumpwave.musicTime > %d" % seconds, 20)
            used.append(memory(browser))
            end_by_q(browser)
        print("  memory: %.1f MB with a plain file, %.1f MB with the chain" % (used[0] / 1e6, used[1] / 1e6))
        check(used[1] - used[0] < 64 << 20, "the chain took %.0f MB more" % ((used[1] - used[0]) / 1e6))


def what_cannot_run_is_said_and_a_shows_seed_replays_it(url, native):
    taken = socket.create_server(("127.0.0.1", 0))
    port = taken.getsockname()[1]
    for argument, status, said in (("--help", 0, "usage: ./web.sh"), ("70000", 2, "is neither a port"),
                                   (str(port), 1, "port %d is taken; ./web.sh " % port)):
        # Said at once, in one line: nothing is built first.
        run = subprocess.run([os.path.join(SOURCE, "web.sh"), argument], capture_output=True, text=True, timeout=10)
        said_all = run.stdout + run.stderr
        check(run.returncode == status and said in said_all and (status == 0 or said_all.count("\n") <= 2),
              "web.sh %s: %d, %r" % (argument, run.returncode, said_all))
    taken.close()
    with Browser() as browser:
        for address, said in [("file://%s/index.html" % os.path.abspath(sys.argv[1]), "./web.sh"), *[
                (url + "?autostart&seed=" + bad, "?seed=%s is refused" % bad) for bad in ("-1", "1.5", "4294967296")]]:
            browser.call("Page.navigate", url=address)
            check(browser.wait_for("!!window.messages && messages.textContent.includes(%r)" % said, 30),
                  address + ": not said")
            check(browser.evaluate("bumpwave.state === 'start' && element('start').disabled"),
                  address + ": it can start")
        browser.open(url + "?autostart=0")
        check(browser.evaluate("bumpwave.state") == "start", "?autostart=0 started")
        # An empty ?save is refused, as bumpwave-frames refuses an empty --save.
        browser.open(url + "?seed=1&times=0&save=")
        check("as bumpwave-frames takes them" in browser.evaluate("messages.textContent")
              and browser.evaluate("bumpwave.state") == "start", "?save= drew")
        check(browser.evaluate("fetch('favicon.png').then(r => r.ok)"), "no favicon")
        # A show of the clock's seed, after the warning, which a key ends; then the show its link
        # names, the same seed, at once and calm where the system asks for reduced motion.
        browser.open(url + "?autostart")
        check(browser.evaluate("bumpwave.state === 'start' && (r => r.top >= 0 && r.bottom <= innerHeight)"
                               "(element('warning').getBoundingClientRect())"), "the warning was not shown")
        browser.key("k")
        check(browser.wait_for("bumpwave.frames > 3", 10), "no show after a key")
        end_by_q(browser)
        link = browser.evaluate("document.querySelector('#messages a').search")
        browser.call("Emulation.setEmulatedMedia", features=[{"name": "prefers-reduced-motion", "value": "reduce"}])
        browser.open(url + link + "&autostart")
        check(browser.evaluate("calmBox.checked && !/in \\d/.test(startButton.textContent)"),
              "not at once, or not calm")
        check(browser.wait_for("bumpwave.frames > 3", 10), "no show at " + link)
        end_by_q(browser)
        again = browser.evaluate("document.querySelector('#messages a').search")
        check(re.fullmatch(r"\?seed=\d+", link) and again == link, "links %s, then %s" % (link, again))


def a_paced_show_plays_to_its_end_and_escape_or_q_ends_one(url, native):
    with Browser(page=url + "?seed=3") as browser:
        # A 3-second music: the show ends a second after its 41 s of visuals.
        give(browser, "music", os.path.join(MUSIC, "stereo-3s.ogg"))
        click_start(browser, "bumpwave.frames > 10", 10)
        for screen in ("!!document.fullscreenElement", "!document.fullscreenElement"):
            browser.key("f")
            check(browser.wait_for(screen, 3), "F: " + screen)
        # At most a frame a step, 60 a second; a busy machine drops frames, never the show's time.
        first, shown, start = browser.evaluate("[bumpwave.frames, bumpwave.showTime]") + [time.monotonic()]
        time.sleep(5)
        frames, show = browser.evaluate("[bumpwave.frames, bumpwave.showTime]")
        elapsed = time.monotonic() - start
        check((frames - first) / elapsed <= 61, "%.1f frames a second" % ((frames - first) / elapsed))
        check(abs((show - shown) - elapsed) < 0.5, "show clock %.2f s in %.2f s" % (show - shown, elapsed))
        step = browser.evaluate("bumpwave.stepMs")
        check(0 <= step["mean"] <= step["worst"] and step["worst"] > 0, "stepMs %s" % step)
        check(browser.wait_for("bumpwave.state === 'music'", 45), "no music state")
        # Then again from the keyboard alone, ended early by either stop key as on the desktop, the music
        # faded, no pause: each end with the frame-rate line and bumpwave.fps for the frames shown.
        for key in ("", "Escape", "q"):
            if key:
                browser.evaluate("messages.textContent = ''")
                check(browser.evaluate("document.activeElement.id") == "start", "start not focused")
                browser.key("Enter")
                check(browser.wait_for("bumpwave.frames > 30", 10), "no show before " + key)
                browser.key(key)
            check(browser.wait_for("bumpwave.state === 'ended' && startButton.textContent === 'Play again'", 10),
                  "not ended by %r" % key)
            fps, said = browser.evaluate("[bumpwave.fps, messages.textContent]")
            check(0 < fps <= 61 and "@ " in said, "%r: %s frames a second, %r" % (key, fps, said))


# CSS size, pixel ratio, phone; the frame's box in device pixels, and whether its pixels are equal blocks.
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
HIDE = ("Object.defineProperty(document, 'hidden', {value: %s, configurable: true});"
        " document.dispatchEvent(new Event('visibilitychange'))")


def every_screen_shows_the_whole_frame_and_a_hidden_page_pauses(url, native):
    with Browser(page=url + "?seed=5") as browser:
        click_start(browser, "bumpwave.frames > 10", 10)
        for width, height, ratio, phone, box in DEVICES:  # resized and turned during the show
            browser.device(width, height, ratio, phone)
            shown = browser.wait_for("(s => Math.abs(s[4] - %d) < 1 && s)(%s)" % (box[2], SHOWN), 3)
            check(shown and shown[:2] == [640, 480] and all(abs(a - b) < 1 for a, b in zip(shown[2:6], box))
                  and (shown[6] == "pixelated") == box[4], "%dx%d at %s: %s" % (width, height, ratio, shown))
        # Hidden, Space, a tap (a double tap: full screen): picture and music stop and go on together.
        browser.call("Emulation.setTouchEmulationEnabled", enabled=True)
        for act, seconds in ((lambda hidden: browser.evaluate(HIDE % str(hidden).lower()), 5),
                             (lambda _: browser.key(" "), 1), (lambda _: tap(browser), 1)):
            act(True)
            check(browser.wait_for("bumpwave.paused", 3), "not paused")
            held = browser.evaluate(TIMES)
            time.sleep(seconds)
            # A step due before the pause, or a sound buffer already on its way, may still land.
            later = browser.evaluate(TIMES)
            check(later[2] and all(0 <= b - a < 0.05 for a, b in zip(held[:2], later[:2])),
                  "paused %s, then %s" % (held, later))
            act(False)
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


def a_phone_held_sideways_sees_every_screen_whole(url, native):
    # Side bands wide enough for the touch controls, and too narrow: then they come with a tap.
    for width, height, beside in ((844, 390, True), (568, 320, False)):
        with Browser() as browser:
            browser.device(width, height, 3, True)
            browser.call("Emulation.setTouchEmulationEnabled", enabled=True)
            browser.open(url + "?seed=6")
            screens = [browser.evaluate(PANEL)]
            click_start(browser, "bumpwave.frames > 10", 10)
            frame, bar = browser.evaluate(BOX % "canvas"), browser.evaluate(BOX % "touch-bar")
            clear = bar[2] <= frame[0] or bar[0] >= frame[2] or bar[1] >= frame[3]
            if not beside:  # away, brought by a tap that does not pause, away again
                check(browser.evaluate("touchBar.hidden"), "%dx%d: touch controls over the frame" % (width, height))
                tap(browser)
                check(browser.wait_for("!touchBar.hidden", 3), "no tap")
                clear = browser.wait_for("touchBar.hidden", 5) and not browser.evaluate("bumpwave.paused")
            check(clear, "%dx%d: touch controls %s over the frame %s" % (width, height, bar, frame))
            end_by_q(browser)
            for parts in screens + [browser.evaluate(PANEL)]:  # from the top, one below the other
                check(parts[0][1] >= 0 and all(a[2] <= b[1] + 0.5 for a, b in zip(parts, parts[1:])),
                      "%dx%d: %s" % (width, height, parts))


def tap(browser):
    for kind, points in (("touchStart", [{"x": 100, "y": 100}]), ("touchEnd", [])):
        browser.call("Input.dispatchTouchEvent", type=kind, touchPoints=points)


# Where the music is heard against where the show is, in seconds.
DRIFT = "Math.abs(bumpwave.showTime - (page.musicFrom + bumpwave.musicTime))"


def a_show_moves_as_a_video_does_with_its_music(url, native):
    at = [8200, 8216, 13216, 13200, 0]
    subprocess.run([os.path.join(native, "bumpwave-frames"), "--seed", "5", "--out", "at", "--at",
                    ",".join(map(str, at))], cwd=native, check=True, capture_output=True)
    expected = [open(os.path.join(native, "at", "frame-%05d.ppm" % i), "rb").read()[15:] for i in range(len(at))]
    with Browser(page=url + "?seed=5&t=31.5") as browser:
        # A link to 31.5 s starts there, picture and music, still together within a tenth of a second
        # a stalled second later.
        click_start(browser, "bumpwave.musicTime > 0.5", 20)
        check(31.5 < browser.evaluate("bumpwave.showTime") < 34, "not from 31.5 s")
        browser.evaluate(STALL)
        time.sleep(0.5)
        for _ in range(10):
            check(browser.evaluate(DRIFT) <= 0.1, "picture and music %.3f s apart" % browser.evaluate(DRIFT))
            time.sleep(0.1)
        # Paused, each key puts on the canvas the frame bumpwave-frames draws at its moment.
        browser.key(" ")
        check(browser.wait_for("bumpwave.paused && !seekBar.hidden", 3), "no seek bar while paused")
        for i, key in enumerate(("2", ".", "ArrowRight", ",", "Home")):
            browser.key(key)
            check(browser.wait_for("Math.round(bumpwave.showTime * 1000) === %d" % at[i], 3),
                  "%s: at %s s" % (key, browser.evaluate("bumpwave.showTime")))
            shown = ppm(browser.evaluate("canvas.toDataURL()"))[15:]
            check(shown == expected[i], "%s: not the frame of a show placed at %d ms" % (key, at[i]))
        check(browser.evaluate("element('time').textContent") == "0:00 / 0:41", "the time beside the bar")
        # Placing the show at 40 s is quick even on a phone eight times slower than this machine.
        browser.call("Emulation.setCPUThrottlingRate", rate=8)
        took = browser.evaluate("(() => { const t = performance.now(); _SeekShowTo(40000, t);"
                                " return performance.now() - t; })()")
        browser.call("Emulation.setCPUThrottlingRate", rate=1)
        check(took < 250, "placing the show at 40 s took %.0f ms" % took)
        # The end screen comes with the visuals' end, the music playing on beside it; Play
        # again stops that music and starts a new show.
        browser.key("9")
        browser.key(" ")
        check(browser.wait_for("bumpwave.state === 'music' && !element('panel').hidden", 10),
              "no end screen at the visuals' end")
        played = browser.evaluate("bumpwave.musicTime")
        check(browser.wait_for("bumpwave.musicTime > %f" % (played + 0.2), 5), "no music beside it")
        click_start(browser, "bumpwave.state === 'running' && bumpwave.showTime < 5", 10)
        end_by_q(browser)


def main():
    url, native, failed = serve_folder(os.path.abspath(sys.argv[1])), os.path.abspath(sys.argv[2]), 0
    tests = (golden_frames_are_the_native_ones, the_music_is_libvorbisfiles_decode_in_sdl_order,
             a_slow_network_starts_soon_and_a_visit_without_one_plays,
             the_users_files_are_checked_by_their_own_names_when_chosen,
             what_cannot_run_is_said_and_a_shows_seed_replays_it,
             every_screen_shows_the_whole_frame_and_a_hidden_page_pauses, a_phone_held_sideways_sees_every_screen_whole,
             a_paced_show_plays_to_its_end_and_escape_or_q_ends_one, a_show_moves_as_a_video_does_with_its_music)
    for test in tests:
        started = time.monotonic()
        try:
            test(url, native)
            print("PASS %s (%.1f s)" % (test.__name__, time.monotonic() - started), flush=True)
        except Exception:
            failed += 1
            print("FAIL %s\n%s" % (test.__name__, traceback.format_exc()), flush=True)
    print("%d passed, %d failed" % (len(tests) - failed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
