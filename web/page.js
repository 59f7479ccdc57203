// The page around the demo: the start screen, the show driven once per display
// frame, its place on any screen, pause (Space, a tap, a hidden page), touch
// controls, the user's own files, full screen, the music read on a worker, and
// window.bumpwave for anyone checking the page. SDL is left no keys, pointers
// or resizes: the page has them. Runs before the demo's runtime (Emscripten's
// --pre-js).
//
// URL switches: ?seed=N fixes the seed; ?autostart starts without the click
// (?autostart=0 does not);
// ?seed=S&times=SPEC&save=LIST draws what `bumpwave-frames --seed S --times
// SPEC --save LIST` draws, one frame per display frame, keeping each saved
// frame as a PNG data URL; ?keep-sound keeps every sample handed to the sound
// card at the music's own rate and channel count.
"use strict";

const bumpwave = (window.bumpwave = {
  state: "start", // "running", "music" (visuals over, music playing out), "ended"
  frames: 0,
  fps: null,
  captures: [],
  sound: null,
  soundRate: 0,
  soundChannels: 0,
  showTime: 0, // seconds of the show's clock, pauses left out
  musicTime: 0, // seconds of music the sound card has played
  paused: false,
  seed: null,
});

const params = new URLSearchParams(location.search);
const canvas = document.getElementById("canvas");
const panel = document.getElementById("panel");
const messages = document.getElementById("messages");
const startButton = document.getElementById("start");
const FileNames = { bump: "bumpmap.png", logo: "boys.jpg", music: "testing.ogg" };
const userFiles = {}; // by kind: the file the user chose and its bytes, instead of the demo's own
let nextDroppedPicture = "bump";
// The kinds as page.cpp's CheckFile numbers them, and as the page names them.
const FileKinds = ["bump", "logo", "music"];
const KindNames = { bump: "the bump picture", logo: "the logo", music: "the music" };
const refusedPictures = []; // picture kinds whose last file was refused, the first first
let filesPending = 0; // files chosen, not yet read and checked
let runtimeReady;
// The files being read and checked, one after another, from when the runtime is ready.
let fileWork = new Promise((resolve) => (runtimeReady = resolve));
let heard = null; // the lines printed while a file is checked, kept off the page
let loadedSeed = null; // the seed of the show loaded ahead of its click
let shownSeed = null; // the seed of the show running or last run
const autostart = params.has("autostart") && !/^(0|false|no|off)$/i.test(params.get("autostart"));
const calmBox = document.getElementById("calm");
calmBox.checked = matchMedia("(prefers-reduced-motion: reduce)").matches;

// What cannot work here is said on the page, and nothing more of the script runs.
function refuse(text) {
  messages.textContent = text;
  startButton.textContent = "Cannot start";
  throw new Error("bumpwave: " + text);
}
if (location.protocol === "file:")
  refuse(
    "Browsers load this page's program only from a server, not from a file. Serve this " +
      "folder over http: ./web.sh in the demo's folder, or any static server here " +
      "(python3 -m http.server), then open http://127.0.0.1:8000/."
  );
if (typeof WebAssembly !== "object")
  refuse(
    "This browser runs no WebAssembly, or has it turned off; bumpwave needs it. Turn it on, " +
      "or open the page in a current Firefox, Chrome, Edge or Safari."
  );
// The show's phases as StepShow returns them (ShowPhase), as window.bumpwave.state.
const States = ["start", "running", "music", "music", "ended"];

function say(text) {
  if (heard) return heard.push(text);
  if (text === "" && !messages.textContent) return; // the frame-rate line's leading newline
  if (text !== "") console.log(text);
  messages.append(text + "\n");
}

Module.canvas = canvas;
Module.print = say;
Module.printErr = say;
let runtimeStarted = false;
Module.onRuntimeInitialized = () => {
  runtimeStarted = true;
  FS.mkdir("/check");
  runtimeReady();
  startButton.textContent = "Start";
  layout();
  if (Number.isNaN(givenSeed())) return refuseSeed();
  loadAhead();
  startButton.disabled = false;
  if (autostart || params.has("times")) start();
};
// How far the page's files have come, on the button until they are all here.
Module.setStatus = (text) => {
  const part = /\((\d+)\/(\d+)\)/.exec(text);
  if (part && startButton.disabled)
    startButton.textContent = `Loading… ${Math.floor((100 * part[1]) / part[2])} %`;
};
Module.onAbort = (what) => {
  startButton.disabled = true;
  startButton.textContent = "Cannot start";
  say(`The page's program could not start (${what}). Serve the whole folder web.sh built.`);
};

// ?seed as the demo takes it, 0 .. 2^32 − 1; null without one, NaN for one it does not take.
function givenSeed() {
  const text = params.get("seed");
  if (text === null) return null;
  return /^\d{1,10}$/.test(text) && Number(text) <= 0xffffffff ? Number(text) : NaN;
}

// The given seed, else the clock's seconds, as on the desktop.
function seed() {
  return givenSeed() ?? Math.floor(Date.now() / 1000) >>> 0;
}

function refuseSeed() {
  const fresh = new URLSearchParams(params);
  fresh.delete("seed");
  const link = document.createElement("a");
  link.href = "?" + fresh;
  link.textContent = "a show of a new seed";
  messages.append(
    `?seed=${params.get("seed")} is not a seed: a seed is a whole number from 0 to ` +
      "4294967295. Play the same show again with its own seed, or ",
    link,
    ".\n"
  );
}

// The end of a show: its seed, and a link that plays exactly this show again.
function sayShownSeed() {
  const link = document.createElement("a");
  link.href = "?seed=" + shownSeed;
  link.textContent = "?seed=" + shownSeed;
  messages.append(`Seed ${shownSeed}: this show again at `, link, "\n");
}

// The next show's pictures and tables, loaded before its click so that the
// click only starts the sound and the clock. What the loaders say was said
// when the files were chosen.
function loadAhead() {
  prepareSound();
  readMusic();
  placeFiles();
  const next = seed();
  heard = [];
  loadedSeed = _LoadShowAhead(next) ? next : null;
  heard = null;
}

// The sound's context, made ahead: the first one a browser makes can take half a
// second. SDL takes it as its own (and closes it with the show's sound); the
// click only resumes it.
function prepareSound() {
  const Context = window.AudioContext || window.webkitAudioContext;
  const sdl = (Module["SDL2"] = Module["SDL2"] || {});
  if (Context && !sdl.audioContext) sdl.audioContext = new Context();
}

// Calm mode for the next show, through SetCalm once the shell draws one.
function passCalm() {
  if (Module["_SetCalm"]) Module["_SetCalm"](calmBox.checked ? 1 : 0);
}

// bumpwave-frames' --times: V or VxK items, K frames at V milliseconds.
function parseTimes(text) {
  const times = [];
  for (const item of text.split(",")) {
    const match = /^(\d+)(?:x(\d+))?$/.exec(item);
    const time = match && Number(match[1]);
    const count = match ? Number(match[2] ?? 1) : 0;
    if (!match || time > 0xffffffff || count < 1 || times.length + count > 10000000) return null;
    for (let i = 0; i < count; ++i) times.push(time);
  }
  return times;
}

// The user's picture if one was chosen, the demo's own otherwise: where the loaders look.
// (No destructuring here: Emscripten's own minifier mangles it.)
function placeFiles() {
  for (const kind of ["bump", "logo"]) {
    const name = FileNames[kind];
    FS.writeFile(name, kind in userFiles ? userFiles[kind].bytes : FS.readFile("/defaults/" + name));
  }
}

function showPanel(label) {
  startButton.textContent = label;
  panel.hidden = false;
  startButton.focus();
}

// The sound's context, made in the click that starts the show (SDL takes it
// over); a show starts only once it runs, so that picture and sound start together.
function soundAllowed() {
  if (!Module.SDL2) Module.SDL2 = {};
  if (!Module.SDL2.audioContext && typeof AudioContext !== "undefined")
    Module.SDL2.audioContext = new AudioContext();
  const context = Module.SDL2.audioContext;
  if (!context || context.state === "running") return true;
  context.resume().then(() => {
    if (waitingForSound) start();
  });
  return false;
}

let waitingForSound = false; // the browser holds the sound: the next click or key starts
function start() {
  if (bumpwave.state === "running" || bumpwave.state === "music") return;
  if (filesPending) {
    startButton.textContent = "Reading your files…";
    fileWork.then(start);
    return;
  }
  if (!params.has("times") && !soundAllowed()) {
    waitingForSound = true;
    // In a click the sound starts at once; without one it waits for the user.
    if (!navigator.userActivation || !navigator.userActivation.isActive)
      say("Click or press a key to start — the browser holds the sound until then");
    return;
  }
  waitingForSound = false;
  messages.textContent = "";
  bumpwave.frames = 0;
  bumpwave.fps = null;
  bumpwave.captures = [];
  bumpwave.showTime = bumpwave.musicTime = 0;
  userPaused = false;
  letSdlSizeTheFrame();
  if (params.has("times")) {
    bumpwave.seed = seed();
    placeFiles();
    return startFrames();
  }
  if (loadedSeed === null) placeFiles();
  shownSeed = bumpwave.seed = loadedSeed ?? seed();
  loadedSeed = null;
  passCalm();
  if (!_StartShow(shownSeed, params.has("keep-sound") ? 1 : 0, performance.now())) {
    bumpwave.state = "start";
    return showPanel("Start");
  }
  panel.hidden = true;
  layout();
  canvas.focus();
  bumpwave.state = "running";
  bumpwave.paused = false;
  if (document.hidden) setPaused();
  showTouchBar();
  requestAnimationFrame(step);
}

function readClocks() {
  bumpwave.showTime = _ShowSeconds();
  bumpwave.musicTime = Math.max(bumpwave.musicTime, _MusicPlayedSeconds());
}

// The show takes its turn once per display frame; the demo decides the rest.
function step(now) {
  bumpwave.state = States[timedStep(now)];
  bumpwave.frames = _FramesShown();
  readClocks();
  if (bumpwave.state !== "running" && bumpwave.fps === null) bumpwave.fps = _FrameRate();
  if (bumpwave.state === "ended") return end();
  requestAnimationFrame(step);
}

function end() {
  bumpwave.state = "ended";
  bumpwave.paused = false;
  showTouchBar();
  if (document.fullscreenElement) document.exitFullscreen();
  sayShownSeed();
  loadAhead();
  showPanel("Play again");
}

function startFrames() {
  const times = parseTimes(params.get("times") ?? "");
  const save = params.has("save") ? new Set(params.get("save").split(",").map(Number)) : null;
  if (!times) {
    say("bumpwave: times must list V or VxK items, as bumpwave-frames takes them");
    return;
  }
  if (!_StartFrames(bumpwave.seed)) return showPanel("Start");
  panel.hidden = true;
  layout();
  bumpwave.state = "running";
  let index = 0;
  const draw = () => {
    const keep = !save || save.has(index);
    _DrawFrameAt(times[index], keep ? 1 : 0);
    if (keep) bumpwave.captures.push(capture());
    bumpwave.frames = ++index;
    if (index < times.length) requestAnimationFrame(draw);
    else bumpwave.state = "ended";
  };
  requestAnimationFrame(draw);
}

// The frame as drawn, 640 × 480 whatever the canvas shows, as a PNG data URL.
const captureCanvas = document.createElement("canvas");
function capture() {
  captureCanvas.width = 640;
  captureCanvas.height = 480;
  const pixels = new Uint8ClampedArray(HEAPU8.buffer, _CapturedFrame(), 640 * 480 * 4);
  captureCanvas.getContext("2d").putImageData(new ImageData(pixels, 640, 480), 0, 0);
  return captureCanvas.toDataURL("image/png");
}

// Called by the demo with each block of music it hands to the sound card:
// 16-bit big-endian samples, kept little-endian in bumpwave.sound.
let keptSamples = new Int16Array(0);
let keptCount = 0;
function bumpwaveKeepSamples(bytes, rate, channels) {
  if (!bumpwave.soundRate) {
    bumpwave.soundRate = rate;
    bumpwave.soundChannels = channels;
  }
  const count = bytes.length >> 1;
  if (keptCount + count > keptSamples.length) {
    const larger = new Int16Array(Math.max(2 * keptSamples.length, keptCount + count, 1 << 16));
    larger.set(keptSamples.subarray(0, keptCount));
    keptSamples = larger;
  }
  for (let i = 0; i < count; ++i)
    keptSamples[keptCount + i] = (bytes[2 * i] << 8) | bytes[2 * i + 1];
  keptCount += count;
  bumpwave.sound = keptSamples.subarray(0, keptCount);
}

// The canvas holds the frame's own 640 × 480 pixels; the browser scales them
// onto the device-pixel box the desktop's rule gives (PlaceFrame): equal
// blocks at a whole scale, smoothed at any other. Centred on black.
function layout() {
  if (!runtimeStarted) return;
  const ratio = window.devicePixelRatio || 1;
  const at = _PlaceFrame(Math.floor(innerWidth * ratio), Math.floor(innerHeight * ratio)) >> 2;
  const area = HEAP32.subarray(at, at + 5);
  canvas.style.setProperty("left", area[0] / ratio + "px");
  canvas.style.setProperty("top", area[1] / ratio + "px");
  canvas.style.setProperty("width", area[2] / ratio + "px", "important");
  canvas.style.setProperty("height", area[3] / ratio + "px", "important");
  canvas.style.setProperty("image-rendering", area[4] ? "pixelated" : "auto");
  watchPixelRatio();
}

// A canvas sized by CSS makes SDL take the CSS size for its window's: without
// one it keeps the frame's size, and so the frame's pixels are the canvas's.
function letSdlSizeTheFrame() {
  canvas.style.removeProperty("width");
  canvas.style.removeProperty("height");
}

// A window moved to another screen, or zoomed, changes the pixel ratio alone.
let ratioQuery = null;
function watchPixelRatio() {
  const query = `(resolution: ${window.devicePixelRatio || 1}dppx)`;
  if (ratioQuery && ratioQuery.media === query) return;
  if (ratioQuery) ratioQuery.removeEventListener("change", layout);
  ratioQuery = matchMedia(query);
  ratioQuery.addEventListener("change", layout);
}

// The show's clock and music stop while the page is hidden or the user pauses.
let userPaused = false;
function setPaused() {
  const paused = userPaused || document.hidden;
  if (paused === bumpwave.paused || !showActive()) return;
  bumpwave.paused = paused;
  _PauseShowAt(paused ? 1 : 0, performance.now());
  readClocks(); // what stands still from now on, without waiting for the next step
  document.getElementById("pause").textContent = paused ? "Go on" : "Pause";
}

function togglePause() {
  userPaused = !userPaused;
  setPaused();
}

function showActive() {
  return bumpwave.state === "running" || bumpwave.state === "music";
}

// Touch screens get buttons for what keys do elsewhere, while a show runs.
let touchSeen = matchMedia("(pointer: coarse)").matches;
function showTouchBar() {
  document.getElementById("touch-bar").hidden = !(touchSeen && showActive());
}

// On a touch screen one tap pauses or goes on, a second tap soon after
// toggles full screen instead.
let lastTap = 0;
let tapTimer = 0;
function tap(event) {
  event.preventDefault(); // no mouse events made up after it, nor zoom
  touchSeen = true;
  showTouchBar();
  if (!showActive()) return;
  if (event.timeStamp - lastTap < 350) {
    clearTimeout(tapTimer);
    lastTap = 0;
    return toggleFullScreen();
  }
  lastTap = event.timeStamp;
  tapTimer = setTimeout(togglePause, 350);
}

function toggleFullScreen() {
  if (document.fullscreenElement) document.exitFullscreen();
  else document.documentElement.requestFullscreen().catch(() => {});
}

// Work on the user's files, one after another and after the runtime is ready.
function queueFileWork(work) {
  ++filesPending;
  fileWork = fileWork
    .then(work)
    .catch((error) => say(`${error}`))
    .then(() => --filesPending);
}

// A file the user chose or dropped; `kind` is bump, logo or music, or a
// function that decides it once the files before it are checked.
function useFile(kind, file) {
  if (file) queueFileWork(() => checkFile(typeof kind === "function" ? kind() : kind, file));
}

// The loader's reasons in its lines "bumpwave: NAME: why", else all it said.
function reasonsIn(lines, name) {
  const prefix = `bumpwave: ${name}: `;
  const reasons = lines.filter((line) => line.startsWith(prefix));
  if (reasons.length) return reasons.map((line) => line.slice(prefix.length)).join("; ");
  return lines.filter((line) => line.trim()).join("; ");
}

// Runs the demo's own loader over the file as soon as it is chosen, and says by
// the file's own name whether the next shows will use it, and if not why.
async function checkFile(kind, file) {
  const bytes = new Uint8Array(await file.arrayBuffer());
  const path = "/check/" + FileNames[kind];
  FS.writeFile(path, bytes);
  heard = [];
  const usable = _CheckFile(FileKinds.indexOf(kind));
  const reasons = reasonsIn(heard, FileNames[kind]);
  heard = null;
  FS.unlink(path);
  const refused = refusedPictures.indexOf(kind);
  if (usable) {
    if (refused >= 0) refusedPictures.splice(refused, 1);
    userFiles[kind] = { file: file, bytes: bytes };
    const said = `${file.name} will be ${KindNames[kind]}` + (reasons ? `; ${reasons}` : "");
    showChoice(kind, said, false);
    return loadAhead();
  }
  if (kind !== "music" && refused < 0) refusedPictures.push(kind);
  const why = reasons || "the demo cannot read it";
  showChoice(kind, `${file.name} will not be used: ${why}. ${ownChoice(kind)}`, true);
}

// What the next show takes for `kind`, in words.
function ownChoice(kind) {
  const chosen = kind in userFiles ? userFiles[kind].file.name : "the demo's own " + FileNames[kind];
  return `${KindNames[kind][4].toUpperCase()}${KindNames[kind].slice(5)}: ${chosen}.`;
}

// The picker and the line below it show what the next show takes.
function showChoice(kind, text, refused) {
  const status = document.getElementById(kind + "-status");
  status.textContent = text;
  status.classList.toggle("refused", refused);
  const chosen = new DataTransfer();
  if (kind in userFiles) chosen.items.add(userFiles[kind].file);
  document.getElementById(kind + "-file").files = chosen.files;
  document.getElementById(kind + "-own").hidden = !(kind in userFiles);
}

// The demo's own file for `kind` again.
function useOwnFile(kind) {
  queueFileWork(() => {
    delete userFiles[kind];
    showChoice(kind, ownChoice(kind), false);
    loadAhead();
  });
}

// A dropped picture replaces the one refused first, else the bump picture,
// then the logo, in turn.
function droppedPictureKind() {
  if (refusedPictures.length) return refusedPictures[0];
  const kind = nextDroppedPicture;
  nextDroppedPicture = kind === "bump" ? "logo" : "bump";
  return kind;
}

for (const kind of FileKinds) {
  const input = document.getElementById(kind + "-file");
  input.addEventListener("change", () => useFile(kind, input.files[0]));
  document.getElementById(kind + "-own").addEventListener("click", () => useOwnFile(kind));
  showChoice(kind, ownChoice(kind), false);
}

addEventListener("dragover", (event) => {
  event.preventDefault();
  document.body.classList.add("dropping");
});
addEventListener("dragleave", () => document.body.classList.remove("dropping"));
addEventListener("drop", (event) => {
  event.preventDefault();
  document.body.classList.remove("dropping");
  if (bumpwave.state === "running" || bumpwave.state === "music") return; // the panel is away
  for (const file of event.dataTransfer.files) {
    const music = /\.og[ga]$/i.test(file.name) || file.type.startsWith("audio/");
    useFile(music ? "music" : droppedPictureKind, file);
  }
});

startButton.addEventListener("click", start);
addEventListener("pointerdown", () => waitingForSound && start());
// Keys reach the show only while it runs; elsewhere the page's own controls take them.
document.addEventListener(
  "keydown",
  (event) => {
    if (event.target instanceof HTMLInputElement) return;
    if (waitingForSound) return start();
    const stop = event.key === "Escape" || event.key === "q" || event.key === "Q";
    if (event.key === "f" || event.key === "F") toggleFullScreen();
    else if (stop && showActive()) stopShow();
    else if (event.key === " " && showActive()) togglePause();
    else return;
    event.preventDefault();
    event.stopPropagation();
  },
  true
);
canvas.addEventListener("dblclick", toggleFullScreen);
document.getElementById("stage").addEventListener("touchend", tap);
document.getElementById("pause").addEventListener("click", togglePause);
document.getElementById("full-screen").addEventListener("click", toggleFullScreen);
document.getElementById("stop").addEventListener("click", () => showActive() && stopShow());
document.addEventListener("visibilitychange", setPaused);
addEventListener("resize", layout);
addEventListener("orientationchange", layout);
document.addEventListener("fullscreenchange", layout);
// ---- The page's own work per step (music, drawing, showing) over the last
// second, as window.bumpwave.stepMs = {mean, worst} in milliseconds.
const stepTimes = []; // [end, duration] of each step in the last second
function timedStep(now) {
  const began = performance.now();
  const phase = _StepShow(now);
  const ended = performance.now();
  stepTimes.push([ended, ended - began]);
  while (stepTimes[0][0] < ended - 1000) stepTimes.shift();
  let sum = 0, worst = 0;
  for (const time of stepTimes) {
    sum += time[1];
    worst = Math.max(worst, time[1]);
  }
  bumpwave.stepMs = { mean: sum / stepTimes.length, worst: worst };
  return phase;
}

// ---- The music, read ahead of the show on a worker (music_worker.js) by the
// demo's own reader, so that a step only hands the blocks it has to the card.
const musicWorker = new Worker("music_worker.js");
let musicId = 0; // the reading the next or running show takes
let musicBroken = false; // the worker failed: no music, and no show waits for it
const musicQueue = []; // what came of the reading: {line}, {samples, rate, channels}, {end}
let musicAt = 0; // bytes of the first block already taken
musicWorker.addEventListener("message", (message) => {
  if ("broken" in message.data) musicFailed();
  else if (message.data.id === musicId) musicQueue.push(message.data);
});
musicWorker.addEventListener("error", (error) => {
  error.preventDefault();
  musicFailed();
});

// What each show takes once the worker has failed.
const NoMusic = [{ line: "bumpwave: no music: the page's music worker failed" }, { end: true }];
function musicFailed() {
  if (!musicBroken) musicQueue.push(...NoMusic);
  musicBroken = true;
}

// The music from its beginning: the user's file if one was chosen, else the demo's own.
function readMusic() {
  const bytes =
    "music" in userFiles ? userFiles.music.bytes.slice() : FS.readFile("/defaults/testing.ogg");
  musicQueue.length = 0;
  musicAt = 0;
  musicWorker.postMessage({ read: ++musicId, bytes: bytes.buffer }, [bytes.buffer]);
  if (musicBroken) musicQueue.push(...NoMusic);
}

// Ends the show as the desktop's stop keys do, and the worker's reading with it.
function stopShow() {
  _StopShow();
  musicWorker.postMessage({ id: musicId, stop: true });
}

// For the demo's step: at most `length` bytes (whole sample frames) of the
// first block, copied to `to`, its rate and channels at `format`; 0 at the end
// of the music, -1 while the next block has yet to come. The reader's lines
// are said as the step reaches them, as if it had read the file itself.
function bumpwaveTakeMusic(to, length, format) {
  while (musicQueue.length && "line" in musicQueue[0]) say(musicQueue.shift().line);
  const block = musicQueue[0];
  if (!block) return -1;
  if (block.end) return 0;
  const frame = 2 * block.channels;
  const count = Math.min(length - (length % frame), block.samples.length - musicAt);
  HEAPU8.set(block.samples.subarray(musicAt, musicAt + count), to);
  HEAP32[format >> 2] = block.rate;
  HEAP32[(format >> 2) + 1] = block.channels;
  musicAt += count;
  if (musicAt === block.samples.length) {
    musicQueue.shift();
    musicAt = 0;
    musicWorker.postMessage({ id: musicId, taken: block.samples.length / frame / block.rate });
  }
  return count;
}
