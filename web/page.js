// The page around the demo: the start screen, the show driven once per display
// frame, the user's own files, full screen, and window.bumpwave for anyone
// checking the page. Runs before the demo's runtime (Emscripten's --pre-js).
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
Module.onRuntimeInitialized = () => {
  FS.mkdir("/check");
  runtimeReady();
  startButton.textContent = "Start";
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

// The user's file if one was chosen, the demo's own otherwise: where the loaders look.
// (No destructuring here: Emscripten's own minifier mangles it.)
function placeFiles() {
  for (const kind of Object.keys(FileNames)) {
    const name = FileNames[kind];
    FS.writeFile(name, kind in userFiles ? userFiles[kind].bytes : FS.readFile("/defaults/" + name));
  }
}

function showPanel(label) {
  startButton.textContent = label;
  panel.hidden = false;
  startButton.focus();
}

function start() {
  if (bumpwave.state === "running" || bumpwave.state === "music") return;
  if (filesPending) {
    startButton.textContent = "Reading your files…";
    fileWork.then(start);
    return;
  }
  messages.textContent = "";
  bumpwave.frames = 0;
  bumpwave.fps = null;
  bumpwave.captures = [];
  if (params.has("times")) {
    placeFiles();
    return startFrames();
  }
  if (loadedSeed === null) placeFiles();
  shownSeed = loadedSeed ?? seed();
  loadedSeed = null;
  passCalm();
  // In the click itself: the browser lets the sound start only there.
  if (Module["SDL2"].audioContext) Module["SDL2"].audioContext.resume();
  if (!_StartShow(shownSeed, params.has("keep-sound") ? 1 : 0, performance.now())) {
    bumpwave.state = "start";
    return showPanel("Start");
  }
  panel.hidden = true;
  layout(); // over the size SDL gave the canvas
  canvas.focus();
  bumpwave.state = "running";
  requestAnimationFrame(step);
}

// The show takes its turn once per display frame; the demo decides the rest.
function step(now) {
  bumpwave.state = States[_StepShow(now)];
  bumpwave.frames = _FramesShown();
  if (bumpwave.state !== "running" && bumpwave.fps === null) bumpwave.fps = _FrameRate();
  if (bumpwave.state === "ended") return end();
  requestAnimationFrame(step);
}

function end() {
  bumpwave.state = "ended";
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
  if (!_StartFrames(seed())) return showPanel("Start");
  panel.hidden = true;
  layout();
  bumpwave.state = "running";
  let index = 0;
  const draw = () => {
    _DrawFrameAt(times[index]);
    if (!save || save.has(index)) bumpwave.captures.push(canvas.toDataURL("image/png"));
    bumpwave.frames = ++index;
    if (index < times.length) requestAnimationFrame(draw);
    else bumpwave.state = "ended";
  };
  requestAnimationFrame(draw);
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

// The canvas at 4:3, as large as fits, by a whole number of device pixels per
// frame pixel where it fits at least once; black around it.
function layout() {
  const ratio = window.devicePixelRatio || 1;
  let scale = Math.min((innerWidth * ratio) / 640, (innerHeight * ratio) / 480);
  if (scale >= 1) scale = Math.floor(scale);
  canvas.style.setProperty("width", (640 * scale) / ratio + "px", "important");
  canvas.style.setProperty("height", (480 * scale) / ratio + "px", "important");
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
document.addEventListener(
  "keydown",
  (event) => {
    if (event.target instanceof HTMLInputElement) return;
    if (event.key === "f" || event.key === "F") toggleFullScreen();
    else if (event.key === "Escape" || event.key === "q" || event.key === "Q") _StopShow();
    else return;
    event.preventDefault();
    event.stopPropagation();
  },
  true
);
canvas.addEventListener("dblclick", toggleFullScreen);
addEventListener("resize", layout);
document.addEventListener("fullscreenchange", layout);
layout();
