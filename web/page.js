// The page around the demo: the start screen, the show driven once per display
// frame, the user's own files, full screen, and window.bumpwave for anyone
// checking the page. Runs before the demo's runtime (Emscripten's --pre-js).
//
// URL switches: ?seed=N fixes the seed; ?autostart starts without the click;
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
const userFiles = {}; // by kind: the bytes the user chose, instead of the demo's own
let nextDroppedPicture = "bump";
// The show's phases as StepShow returns them (ShowPhase), as window.bumpwave.state.
const States = ["start", "running", "music", "music", "ended"];

function say(text) {
  console.log(text);
  messages.textContent += text + "\n";
}

Module.canvas = canvas;
Module.print = say;
Module.printErr = say;
Module.onRuntimeInitialized = () => {
  startButton.disabled = false;
  startButton.textContent = "Start";
  if (params.has("autostart") || params.has("times")) start();
};

// A seed as the demo takes it: 0 .. 2^32 − 1, else the clock's seconds, as on the desktop.
function seed() {
  const text = params.get("seed");
  if (text !== null && /^\d+$/.test(text) && Number(text) <= 0xffffffff) return Number(text);
  return Math.floor(Date.now() / 1000) >>> 0;
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
    FS.writeFile(name, userFiles[kind] ?? FS.readFile("/defaults/" + name));
  }
}

function showPanel(label) {
  startButton.textContent = label;
  panel.hidden = false;
  startButton.focus();
}

function start() {
  if (bumpwave.state === "running" || bumpwave.state === "music") return;
  messages.textContent = "";
  placeFiles();
  bumpwave.frames = 0;
  bumpwave.fps = null;
  bumpwave.captures = [];
  if (params.has("times")) return startFrames();
  // In the click itself: the browser lets the sound start only there.
  if (!_StartShow(seed(), params.has("keep-sound") ? 1 : 0, performance.now())) {
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
  bumpwave.state = States[timedStep(now)];
  bumpwave.frames = _FramesShown();
  if (bumpwave.state !== "running" && bumpwave.fps === null) bumpwave.fps = _FrameRate();
  if (bumpwave.state === "ended") return end();
  requestAnimationFrame(step);
}

function end() {
  bumpwave.state = "ended";
  if (document.fullscreenElement) document.exitFullscreen();
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

// A file the user chose or dropped; `kind` is bump, logo or music.
function useFile(kind, file) {
  if (!file) {
    delete userFiles[kind];
    return;
  }
  file.arrayBuffer().then((buffer) => {
    userFiles[kind] = new Uint8Array(buffer);
    say(`${file.name} as the ${kind === "bump" ? "bump picture" : kind}`);
  });
}

for (const kind of Object.keys(FileNames)) {
  const input = document.getElementById(kind + "-file");
  input.addEventListener("change", () => useFile(kind, input.files[0]));
}

addEventListener("dragover", (event) => {
  event.preventDefault();
  document.body.classList.add("dropping");
});
addEventListener("dragleave", () => document.body.classList.remove("dropping"));
addEventListener("drop", (event) => {
  event.preventDefault();
  document.body.classList.remove("dropping");
  for (const file of event.dataTransfer.files) {
    if (/\.og[ga]$/i.test(file.name) || file.type.startsWith("audio/")) {
      useFile("music", file);
    } else {
      useFile(nextDroppedPicture, file);
      nextDroppedPicture = nextDroppedPicture === "bump" ? "logo" : "bump";
    }
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
