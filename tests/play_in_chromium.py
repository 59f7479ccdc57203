#!/usr/bin/python3
# Plays a video to its end in headless Chromium and prints what its <video>
# element saw: "WIDTHxHEIGHT SECONDS with sound|silent".
#   play_in_chromium.py FOLDER NAME
# The folder is served on 127.0.0.1; Chromium is driven through its DevTools
# protocol. Exits 1 with the reason when the video does not play.
import functools
import http.server
import json
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request

import websocket

PLAY = """new Promise((resolve, reject) => {
    const video = document.createElement('video');
    video.onended = () => resolve(`${video.videoWidth}x${video.videoHeight} ` +
        `${video.duration.toFixed(1)} ` +
        (video.webkitAudioDecodedByteCount > 0 ? 'with sound' : 'silent'));
    video.onerror = () => reject(new Error(video.error.message || 'cannot play'));
    setTimeout(() => reject(new Error('not ended after a minute')), 60000);
    video.src = 'http://127.0.0.1:PORT/NAME';
    document.body.appendChild(video);
    video.play().catch(reject);
})"""


def devtools_port(profile):
    path = os.path.join(profile, "DevToolsActivePort")
    for _ in range(600):
        if os.path.exists(path):
            lines = open(path).read().split("\n")
            if len(lines) > 1 and lines[0]:
                return int(lines[0])
        time.sleep(0.1)
    sys.exit("chromium gave no DevTools port")


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


def play(folder, name):
    serve = functools.partial(QuietHandler, directory=folder)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), serve)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    profile = tempfile.mkdtemp()
    browser = subprocess.Popen(
        ["/usr/bin/chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
         "--no-first-run", "--disable-background-networking", "--disable-component-update",
         "--disable-sync", "--user-data-dir=" + profile,
         "--autoplay-policy=no-user-gesture-required", "--remote-debugging-port=0",
         "about:blank"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        port = devtools_port(profile)
        pages = json.load(urllib.request.urlopen(f"http://127.0.0.1:{port}/json"))
        page = next(p for p in pages if p["type"] == "page")
        channel = websocket.create_connection(page["webSocketDebuggerUrl"], timeout=90)
        script = PLAY.replace("PORT", str(server.server_address[1])).replace("NAME", name)
        channel.send(json.dumps({"id": 1, "method": "Runtime.evaluate", "params": {
            "expression": script, "awaitPromise": True, "returnByValue": True}}))
        while (answer := json.loads(channel.recv())).get("id") != 1:
            pass
        result = answer["result"]
        if "exceptionDetails" in result:
            sys.exit(result["exceptionDetails"]["exception"]["description"])
        print(result["result"]["value"])
    finally:
        browser.kill()
        browser.wait()
        server.shutdown()
        shutil.rmtree(profile, ignore_errors=True)


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(2)  # after the import: 2 also says that python3-websocket is there
    play(sys.argv[1], sys.argv[2])
