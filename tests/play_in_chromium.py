#!/usr/bin/python3
# play_in_chromium.py FOLDER NAME: plays the video FOLDER/NAME, served on 127.0.0.1, to its end in headless
# Chromium and prints "WIDTHxHEIGHT SECONDS with sound|silent"; exits 1 with the reason when it does not play.
import sys

from browser import Browser, serve_folder

PLAY = """new Promise((resolve, reject) => {
    const video = document.body.appendChild(Object.assign(document.createElement('video'), {src: 'URL'}));
    video.onended = () => resolve(`${video.videoWidth}x${video.videoHeight} ${video.duration.toFixed(1)} ` +
        (video.webkitAudioDecodedByteCount > 0 ? 'with sound' : 'silent'));
    video.onerror = () => reject(new Error(video.error.message || 'cannot play'));
    video.play().catch(reject);
})"""


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(2)  # after the import: 2 also says that python3-websocket is there
    try:
        with Browser() as browser:
            print(browser.evaluate(PLAY.replace("URL", serve_folder(sys.argv[1]) + sys.argv[2])))
    except RuntimeError as error:
        sys.exit(str(error))
