// The worker's half of music_worker.cpp; runs before its runtime (Emscripten's
// --pre-js). From the page: {play: {port, rate, keep, seconds, own}} plays the
// demo's own music or the user's from `seconds` into a worklet's port, {stop}
// ends it, and {check: kind, bytes} checks a file of the user's. To the page:
// {line} for each line the program says, {ready} once the demo's own music can
// play, {usable, said} for a check, and {broken} when the program cannot run.
// The demo's own music is fetched once, and read as it comes.
"use strict";

const music = { size: 0, complete: false };
Module.print = Module.printErr = (line) => postMessage({ line });
Module.onAbort = (what) => postMessage({ broken: `${what}` });

// Whether the reader is far enough from the end of what has come of the
// file (an Ogg page is at most 64 kB), or it has all come.
function musicArrived() {
  const stream = FS.streams.find((s) => s && s.path === "/own/testing.ogg");
  return music.complete || music.size - (stream ? stream.position : 0) > 65536;
}

// A play waits for enough of the demo's own music; a file that cannot be read ends at once.
function pump() {
  const play = music.play;
  if (!music.ready && (music.ready = musicArrived())) postMessage({ ready: true });
  if (play && (!play.own || musicArrived())) {
    music.play = null;
    FS.chdir(play.own ? "/own" : "/user");
    _PlayMusicFrom(play.rate, play.keep, play.seconds);
    music.reading = true;
  }
  if (music.reading && !_PumpAhead()) {
    music.reading = false;
    music.worklet.postMessage({ end: true });
  }
}

async function fetchOwnMusic() {
  const file = FS.open("/own/testing.ogg", "w");
  try {
    const reader = (await fetch("testing.ogg")).body.getReader();
    for (let part; !(part = await reader.read()).done; pump()) music.size += FS.write(file, part.value, 0, part.value.length);
  } catch (error) {
    postMessage({ line: `No music: testing.ogg did not come (${error})` });
  }
  FS.close(file);
  music.complete = true;
  pump();
}

function take(data) {
  if (data.check) {
    FS.writeFile("/check/file", data.bytes);
    return ccall("CheckFile", null, ["string"], [data.check]);
  }
  music.reading = false;
  music.play = data.play; // none for {stop}
  if (!data.play) return;
  if (music.worklet) music.worklet.close();
  music.worklet = data.play.port;
  music.worklet.onmessage = (played) => pump(_MusicPlayed(played.data));
  pump();
}

// Messages that come before the runtime wait for it, in their order.
const runtime = new Promise((resolve) => (Module.onRuntimeInitialized = resolve)).then(() => {
  ["/own", "/user", "/check"].forEach((folder) => FS.mkdir(folder));
  fetchOwnMusic();
});
addEventListener("message", (message) => runtime.then(() => take(message.data)));
