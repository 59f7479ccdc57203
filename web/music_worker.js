// The worker's half of music_worker.cpp; runs before its runtime (Emscripten's
// --pre-js). From the page: {play: {port, rate, keep, seconds, own}} plays the
// demo's own music or the user's from `seconds` into a worklet's port, {stop}
// ends it, and {check: kind, bytes} checks a file of the user's. To the page:
// {line} for each line the program says, {ready} once the demo's own music can
// play, {usable, said} for a check, and {broken} when the program cannot run.
// The demo's own music is fetched once, and read as it comes.
"use strict";

const music = { size: 0, complete: false, early: [] };
Module.print = Module.printErr = (line) => postMessage({ line });
Module.onAbort = (what) => postMessage({ broken: `${what}` });

function postSamples(samples, kept, rate, channels) {
  music.worklet.postMessage({ samples, kept, rate, channels }, [samples.buffer].concat(kept ? [kept.buffer] : []));
}

// Whether the reader is far enough from the end of what has come of the
// file (an Ogg page is at most 64 kB), or it has all come.
function musicArrived() {
  const stream = FS.streams.find((s) => s && s.path === "/own/testing.ogg");
  return music.complete || music.size - (stream ? stream.position : 0) > 65536;
}

function pump() {
  const play = music.play;
  if (!music.ready && (music.ready = musicArrived())) postMessage({ ready: true });
  if (play && (!play.own || musicArrived())) {
    music.play = null;
    FS.chdir(play.own ? "/own" : "/user");
    music.reading = _PlayMusicFrom(play.rate, play.keep ? 1 : 0, play.seconds) !== 0;
    if (!music.reading) music.worklet.postMessage({ end: true });
  }
  if (music.reading && !music.play && !_PumpAhead()) {
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
  if (data.play) {
    if (music.worklet) music.worklet.close();
    music.worklet = data.play.port;
    music.worklet.onmessage = (played) => pump(_MusicPlayed(played.data));
    music.play = data.play;
    music.reading = false;
    pump();
  } else if (data.stop) {
    music.reading = false;
    music.play = null;
  } else {
    FS.writeFile("/check/file", data.bytes);
    ccall("CheckFile", null, ["string"], [data.check]);
  }
}

addEventListener("message", (message) => (music.early ? music.early.push(message.data) : take(message.data)));
Module.onRuntimeInitialized = () => {
  ["/own", "/user", "/check"].forEach((folder) => FS.mkdir(folder));
  fetchOwnMusic();
  music.early.forEach(take);
  music.early = null;
};
