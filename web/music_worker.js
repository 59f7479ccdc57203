// The worker's half of music_worker.cpp: the page's messages in, the music's
// blocks and the reader's lines out, a bounded time ahead of the page. Runs
// before the program's runtime (Emscripten's --pre-js).
//
// From the page: {read: id, bytes} reads a music file afresh (its bytes
// transferred), {id, taken: seconds} says the page has taken a block of that
// many seconds, {id, stop: true} ends the reading. To the page, each with its
// reading's id: {line} for each line the reader says, {samples, rate,
// channels} for each block (its buffer transferred), and {end} once; {broken}
// when its program cannot run.
"use strict";

// The page's card holds a second of sound: this keeps it full, and no more.
const AheadSeconds = 1.5;
let reading = null; // the id of the music being read
let ahead = 0; // seconds posted and not yet taken
let runtimeReady = false;
const early = []; // messages that came before the runtime was ready

Module.print = Module.printErr = (line) => postMessage({ id: reading, line: line });
// Its program missing or failed: the page must not wait for music.
Module.onAbort = (what) => postMessage({ broken: `${what}` });

function topUp() {
  while (reading !== null && ahead < AheadSeconds) {
    const bytes = _ReadBlock();
    if (bytes <= 0) return endReading(true);
    const rate = _BlockRate();
    const channels = _BlockChannels();
    const samples = HEAPU8.slice(_BlockSamples(), _BlockSamples() + bytes);
    postMessage({ id: reading, samples: samples, rate: rate, channels: channels }, [
      samples.buffer,
    ]);
    ahead += bytes / (2 * channels * rate);
  }
}

function endReading(tell) {
  if (tell) postMessage({ id: reading, end: true });
  _EndMusic();
  reading = null;
}

function take(data) {
  if ("read" in data) {
    if (reading !== null) endReading(false);
    FS.writeFile("testing.ogg", new Uint8Array(data.bytes));
    reading = data.read;
    ahead = 0;
    if (!_BeginMusic()) return endReading(true);
  } else if (data.id !== reading) {
    return; // a reading ended since
  } else if ("stop" in data) {
    return endReading(false);
  } else {
    ahead -= data.taken;
  }
  topUp();
}

addEventListener("message", (message) =>
  runtimeReady ? take(message.data) : early.push(message.data)
);
Module.onRuntimeInitialized = () => {
  runtimeReady = true;
  early.forEach(take);
};
