// The page around the demo: the start screen, the show driven once per display
// frame, its place on any screen, pause (Space, a tap, a hidden page), touch
// controls, the user's own files, full screen, the music, and window.bumpwave
// for anyone checking the page. Runs before the demo's runtime (Emscripten's
// --pre-js). The music and the checks of the user's files run on a worker
// (music_worker.js), the sound on an AudioWorklet (music_worklet.js).
//
// URL switches: ?seed=N fixes the seed; ?autostart starts after the warning
// (?autostart=0 does not); ?seed=S&times=SPEC&save=LIST draws what
// `bumpwave-frames --seed S --times SPEC --save LIST` draws, one frame per
// display frame, keeping each saved frame as a PNG data URL; ?keep-sound keeps
// the music's own samples the worklet played, with silence for any gap.
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
  musicTime: 0, // seconds of music the worklet has played
  paused: false,
  seed: null,
});

const params = new URLSearchParams(location.search);
const element = (id) => document.getElementById(id);
const canvas = element("canvas");
const messages = element("messages");
const startButton = element("start");
const touchBar = element("touch-bar");
// The kinds as music_worker.cpp's CheckFile numbers them, and as the page names them.
const FileKinds = ["bump", "logo", "music"];
const KindNames = { bump: "the bump picture", logo: "the logo", music: "the music" };
// The show's phases as StepShow returns them (ShowPhase), as window.bumpwave.state.
const States = ["start", "running", "music", "music", "ended"];
const autostart = params.has("autostart") && !/^(0|false|no|off)$/i.test(params.get("autostart"));
const calmBox = element("calm");
calmBox.checked = matchMedia("(prefers-reduced-motion: reduce)").matches;

// Everything of the page that changes.
const page = {
  runtime: false,
  userFiles: {}, // by kind: the file the user chose and its bytes, instead of the demo's own
  nextDroppedPicture: "bump",
  refusedPictures: [], // picture kinds whose last file was refused, the first first
  filesPending: 0, // files chosen, not yet read and checked
  fileWork: null, // the files being read and checked, one after another
  loadedSeed: null, // the seed of the show loaded ahead of its click
  shownSeed: null,
  waitingForSound: false, // the browser holds the sound: the next click or key starts
  countdown: 0, // seconds left of ?autostart's warning
  worker: null,
  workerBroken: false,
  checks: [], // the worker's answers awaited, by check
  sound: null, // {context, ready}: the AudioContext and whether its worklet is loaded
  node: null, // the running show's worklet
  musicOut: true, // the show's music has played out
  keptAll: null, // room for bumpwave.sound
  userPaused: false,
  ratioQuery: null,
  bar: "bottom", // where the touch controls go: "bottom", "side", or "over" the frame
  barUntil: 0,
  lastTap: 0,
  tapTimer: 0,
  stepTimes: [], // [end, duration] of each step in the last second
};
page.fileWork = new Promise((resolve) => (page.runtimeReady = resolve));

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

function say(text) {
  if (page.heard) return page.heard.push(text);
  if (text === "" && !messages.textContent) return; // the frame-rate line's leading newline
  if (text !== "") console.log(text);
  messages.append(text + "\n");
}

Module.canvas = canvas;
Module.print = Module.printErr = say;
Module.onRuntimeInitialized = () => {
  page.runtime = true;
  FS.mkdir("/user");
  startWorker();
  page.runtimeReady();
  startButton.textContent = "Start";
  layout();
  if (Number.isNaN(givenSeed())) return refuseSeed();
  loadAhead();
  startButton.disabled = false;
  if (params.has("times")) start();
  else if (autostart) warnThenStart();
  // What installs the page, once the show can start: its own files come first.
  document.head.append(Object.assign(document.createElement("link"), { rel: "manifest", href: "manifest.json" }));
  if ("serviceWorker" in navigator) navigator.serviceWorker.register("sw.js").catch(() => {});
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

function link(href, text) {
  const made = document.createElement("a");
  made.href = href;
  made.textContent = text;
  return made;
}

function refuseSeed() {
  const fresh = new URLSearchParams(params);
  fresh.delete("seed");
  messages.append(
    `?seed=${params.get("seed")} is not a seed: a seed is a whole number from 0 to ` +
      "4294967295. Play the same show again with its own seed, or ",
    link("?" + fresh, "a show of a new seed"),
    ".\n"
  );
}

// ?autostart: the warning and the Calm box first, for a few seconds or until a
// key; at once, and calm, where the system asks for reduced motion.
function warnThenStart() {
  if (calmBox.checked) return start();
  page.countdown = 6;
  const tick = () => {
    if (!page.countdown || bumpwave.state !== "start") return;
    if (--page.countdown === 0) return start();
    startButton.textContent = `Start (in ${page.countdown} s)`;
    setTimeout(tick, 1000);
  };
  tick();
}

// The next show's pictures and tables, loaded before its click so that the
// click only starts the sound and the clock. What the loaders say was said
// when the files were chosen.
function loadAhead() {
  prepareSound();
  _PlacePictures();
  const next = seed();
  page.heard = [];
  page.loadedSeed = _LoadShowAhead(next) ? next : null;
  page.heard = null;
}

// The sound's context and its worklet, made ahead: the first context a browser
// makes can take half a second. The click only resumes it.
function prepareSound() {
  if (!window.isSecureContext && !page.sound)
    say("No sound: browsers give sound worklets only to pages over https or from 127.0.0.1");
  if (page.sound || !window.isSecureContext) return;
  const sound = (page.sound = { context: new AudioContext(), ready: false });
  const loaded = sound.context.audioWorklet.addModule("music_worklet.js");
  sound.loaded = loaded.then(() => (sound.ready = true), () => (page.sound = null));
}

// Whether the sound may play; where the browser holds it, the next click or key starts.
function soundAllowed() {
  const sound = page.sound;
  if (!sound || (sound.context.state === "running" && sound.ready)) return true;
  Promise.all([sound.context.resume(), sound.loaded]).then(() => page.waitingForSound && start());
  return false;
}

// The show's music on a worklet of its own, fed by the worker through a channel.
function startMusic() {
  const sound = page.sound;
  page.node = null;
  page.musicOut = !sound || !sound.ready || page.workerBroken;
  if (page.musicOut) return;
  const node = (page.node = new AudioWorkletNode(sound.context, "music", { outputChannelCount: [2] }));
  const channel = new MessageChannel();
  node.connect(sound.context.destination);
  node.port.postMessage(channel.port1, [channel.port1]);
  node.port.onmessage = (message) => node === page.node && heardFromWorklet(message.data);
  const play = { port: channel.port2, rate: sound.context.sampleRate, seconds: 0 };
  Object.assign(play, { keep: params.has("keep-sound"), own: !("music" in page.userFiles) });
  page.worker.postMessage({ play: play }, [channel.port2]);
}

function heardFromWorklet(data) {
  if ("played" in data) bumpwave.musicTime = data.played;
  if (data.out) page.musicOut = true;
  if (data.kept) keepSound(data.kept, data.rate, data.channels);
  if (data.gap && bumpwave.soundRate)
    keepSound(new Int16Array(Math.round(data.gap * bumpwave.soundRate) * bumpwave.soundChannels));
}

// Called by the demo's StopMusic: a fade, and no more reading.
function bumpwaveFadeMusic() {
  if (page.node) page.node.port.postMessage("fade");
  if (page.worker) page.worker.postMessage({ stop: true });
}

// ?keep-sound: the samples the worklet played, at the music's own rate and channels.
function keepSound(samples, rate, channels) {
  if (!bumpwave.soundRate) Object.assign(bumpwave, { soundRate: rate, soundChannels: channels });
  const kept = bumpwave.sound ? bumpwave.sound.length : 0;
  if (!page.keptAll || kept + samples.length > page.keptAll.length) {
    const room = new Int16Array(Math.max(2 * kept, kept + samples.length, 1 << 16));
    if (bumpwave.sound) room.set(bumpwave.sound);
    page.keptAll = room;
  }
  page.keptAll.set(samples, kept);
  bumpwave.sound = page.keptAll.subarray(0, kept + samples.length);
}

function showPanel(label) {
  startButton.textContent = label;
  element("panel").hidden = false;
  startButton.focus();
}

function start() {
  page.countdown = 0;
  if (bumpwave.state === "running" || bumpwave.state === "music") return;
  if (page.filesPending) {
    startButton.textContent = "Reading your files…";
    page.fileWork.then(start);
    return;
  }
  if (!params.has("times") && !soundAllowed()) {
    page.waitingForSound = true;
    // In a click the sound starts at once; without one it waits for the user.
    const held = page.sound.context.state !== "running";
    if (held && (!navigator.userActivation || !navigator.userActivation.isActive))
      say("Click or press a key to start — the browser holds the sound until then");
    return;
  }
  page.waitingForSound = false;
  messages.textContent = "";
  Object.assign(bumpwave, { frames: 0, fps: null, captures: [], showTime: 0, musicTime: 0 });
  Object.assign(bumpwave, { sound: null, soundRate: 0, soundChannels: 0, paused: false });
  page.keptAll = null;
  page.userPaused = false;
  if (params.has("times")) return startFrames();
  if (page.loadedSeed === null) _PlacePictures();
  page.shownSeed = bumpwave.seed = page.loadedSeed ?? seed();
  page.loadedSeed = null;
  _SetCalm(calmBox.checked ? 1 : 0);
  if (!_StartShow(page.shownSeed, performance.now())) {
    bumpwave.state = "start";
    return showPanel("Start");
  }
  startMusic();
  element("panel").hidden = true;
  layout();
  canvas.focus();
  bumpwave.state = "running";
  if (document.hidden) setPaused();
  showTouchBar();
  requestAnimationFrame(step);
}

// The show takes its turn once per display frame; the demo decides the rest.
function step(now) {
  bumpwave.state = States[timedStep(now)];
  bumpwave.frames = _FramesShown();
  bumpwave.showTime = _ShowSeconds();
  if (bumpwave.state !== "running" && bumpwave.fps === null) bumpwave.fps = _FrameRate();
  if (bumpwave.state === "ended") return end();
  requestAnimationFrame(step);
}

// The page's own work per step over the last second, as bumpwave.stepMs = {mean, worst}.
function timedStep(now) {
  const began = performance.now();
  const phase = _StepShow(now, page.musicOut ? 1 : 0);
  const ended = performance.now();
  const times = page.stepTimes;
  times.push([ended, ended - began]);
  while (times[0][0] < ended - 1000) times.shift();
  const durations = times.map((time) => time[1]);
  const mean = durations.reduce((a, b) => a + b) / times.length;
  bumpwave.stepMs = { mean: mean, worst: Math.max(...durations) };
  return phase;
}

function end() {
  bumpwave.state = "ended";
  bumpwave.paused = false;
  if (page.node) page.node.disconnect();
  page.node = null;
  showTouchBar();
  if (document.fullscreenElement) document.exitFullscreen();
  const again = "?seed=" + page.shownSeed;
  messages.append(`Seed ${page.shownSeed}: this show again at `, link(again, again), "\n");
  loadAhead();
  showPanel("Play again");
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

function startFrames() {
  const times = parseTimes(params.get("times") ?? "");
  const save = params.has("save") ? new Set(params.get("save").split(",").map(Number)) : null;
  if (!times) return say("bumpwave: times must list V or VxK items, as bumpwave-frames takes them");
  bumpwave.seed = seed();
  _PlacePictures();
  if (!_StartFrames(bumpwave.seed)) return showPanel("Start");
  element("panel").hidden = true;
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
function capture() {
  const made = document.createElement("canvas");
  made.width = 640;
  made.height = 480;
  const pixels = new Uint8ClampedArray(HEAPU8.buffer, _CapturedFrame(), 640 * 480 * 4);
  made.getContext("2d").putImageData(new ImageData(pixels, 640, 480), 0, 0);
  return made.toDataURL("image/png");
}

// The canvas holds the frame's own 640 × 480 pixels; the browser scales them
// onto the device-pixel box the desktop's rule gives (PlaceFrame): equal
// blocks at a whole scale, smoothed at any other. Centred on black, with the
// touch controls in a black band where one has room for them.
function layout() {
  if (!page.runtime) return;
  const ratio = window.devicePixelRatio || 1;
  const at = _PlaceFrame(Math.floor(innerWidth * ratio), Math.floor(innerHeight * ratio)) >> 2;
  const area = Array.from(HEAP32.subarray(at, at + 5), (value, i) => (i < 4 ? value / ratio : value));
  ["left", "top", "width", "height"].forEach((side, i) =>
    canvas.style.setProperty(side, area[i] + "px", "important")
  );
  canvas.style.setProperty("image-rendering", area[4] ? "pixelated" : "auto");
  const below = innerHeight - area[1] - area[3];
  page.bar = below >= 56 ? "bottom" : area[0] >= 130 ? "side" : "over";
  touchBar.className = page.bar;
  showTouchBar();
  // A window moved to another screen, or zoomed, changes the pixel ratio alone.
  const query = `(resolution: ${ratio}dppx)`;
  if (page.ratioQuery && page.ratioQuery.media === query) return;
  if (page.ratioQuery) page.ratioQuery.removeEventListener("change", layout);
  page.ratioQuery = matchMedia(query);
  page.ratioQuery.addEventListener("change", layout);
}

// The show's clock and music stop while the page is hidden or the user pauses.
function setPaused() {
  const paused = page.userPaused || document.hidden;
  if (paused === bumpwave.paused || !showActive()) return;
  bumpwave.paused = paused;
  _PauseShowAt(paused ? 1 : 0, performance.now());
  if (page.sound) page.sound.context[paused ? "suspend" : "resume"]();
  bumpwave.showTime = _ShowSeconds(); // what stands still from now on
  element("pause").textContent = paused ? "Go on" : "Pause";
}

function togglePause() {
  page.userPaused = !page.userPaused;
  setPaused();
}

function showActive() {
  return bumpwave.state === "running" || bumpwave.state === "music";
}

// Ends the show as the desktop's stop keys do; a paused show goes on, to fade out.
function stopShow() {
  if (!showActive()) return;
  page.userPaused = false;
  setPaused();
  _StopShow();
}

// Touch screens get buttons for what keys do elsewhere, while a show runs; over
// the frame only for two seconds after a tap.
function showTouchBar() {
  const seen = page.touchSeen || matchMedia("(pointer: coarse)").matches;
  const shown = seen && showActive() && (page.bar !== "over" || performance.now() < page.barUntil);
  touchBar.hidden = !shown;
}

// On a touch screen one tap pauses or goes on, a second tap soon after
// toggles full screen instead.
function tap(event) {
  event.preventDefault(); // no mouse events made up after it, nor zoom
  const revealing = page.bar === "over" && touchBar.hidden;
  page.touchSeen = true;
  page.barUntil = performance.now() + 2000;
  setTimeout(showTouchBar, 2001);
  showTouchBar();
  if (!showActive() || revealing) return; // a tap that only brings the controls back
  if (event.timeStamp - page.lastTap < 350) {
    clearTimeout(page.tapTimer);
    page.lastTap = 0;
    return toggleFullScreen();
  }
  page.lastTap = event.timeStamp;
  page.tapTimer = setTimeout(togglePause, 350);
}

function toggleFullScreen() {
  if (document.fullscreenElement) document.exitFullscreen();
  else document.documentElement.requestFullscreen().catch(() => {});
}

// ---- The worker: the music, and the checks of the user's files.
function startWorker() {
  page.worker = new Worker("music_worker.js");
  page.worker.addEventListener("message", (message) => {
    const data = message.data;
    if ("broken" in data) workerFailed();
    else if ("line" in data) say(data.line);
    else if ("checked" in data) page.checks[data.checked](data);
  });
  page.worker.addEventListener("error", (error) => {
    error.preventDefault();
    workerFailed();
  });
}

// Without its worker the page has no music and checks no file.
function workerFailed() {
  if (!page.workerBroken) say("bumpwave: no music: the page's worker failed");
  page.workerBroken = page.musicOut = true;
  const failed = { usable: false, lines: ["the page's worker failed"] };
  page.checks.forEach((answer) => answer && answer(failed));
}

// Work on the user's files, one after another and after the runtime is ready.
function queueFileWork(work) {
  ++page.filesPending;
  page.fileWork = page.fileWork
    .then(work)
    .catch((error) => say(`${error}`))
    .then(() => --page.filesPending);
}

// A file the user chose or dropped; `kind` is bump, logo or music, or a
// function that decides it once the files before it are checked.
function useFile(kind, file) {
  if (file) queueFileWork(() => checkFile(typeof kind === "function" ? kind() : kind, file));
}

// Runs the demo's own loader over the file on the worker as soon as it is
// chosen, and says by the file's own name whether the next shows will use it,
// and if not why: the loader's reasons ("bumpwave: NAME: why"), else all it said.
async function checkFile(kind, file) {
  const bytes = new Uint8Array(await file.arrayBuffer());
  const id = page.checks.length;
  const answer = new Promise((resolve) => (page.checks[id] = resolve));
  if (page.workerBroken) workerFailed();
  page.worker.postMessage({ check: id, kind: FileKinds.indexOf(kind), bytes: bytes.slice().buffer });
  const checked = await answer;
  page.checks[id] = null;
  const reasons = checked.lines.map((line) => /^bumpwave: [^:]+: (.*)/.exec(line)).filter((m) => m);
  const said = (reasons.length ? reasons.map((m) => m[1]) : checked.lines.filter((l) => l.trim())).join("; ");
  const refused = page.refusedPictures.indexOf(kind);
  if (checked.usable) {
    if (refused >= 0) page.refusedPictures.splice(refused, 1);
    page.userFiles[kind] = { file: file, bytes: bytes };
    if (kind === "music") page.worker.postMessage({ music: bytes.slice().buffer });
    else FS.writeFile("/user/" + FileKinds.indexOf(kind), bytes);
    showChoice(kind, `${file.name} will be ${KindNames[kind]}` + (said ? `; ${said}` : ""), false);
    return loadAhead();
  }
  if (kind !== "music" && refused < 0) page.refusedPictures.push(kind);
  const why = said || "the demo cannot read it";
  showChoice(kind, `${file.name} will not be used: ${why}. ${ownChoice(kind)}`, true);
}

// What the next show takes for `kind`, in words.
function ownChoice(kind) {
  const chosen = kind in page.userFiles ? page.userFiles[kind].file.name : "the demo's own";
  return `${KindNames[kind][4].toUpperCase()}${KindNames[kind].slice(5)}: ${chosen}.`;
}

// The picker and the line below it show what the next show takes.
function showChoice(kind, text, refused) {
  const status = element(kind + "-status");
  status.textContent = text;
  status.classList.toggle("refused", refused);
  const chosen = new DataTransfer();
  if (kind in page.userFiles) chosen.items.add(page.userFiles[kind].file);
  element(kind + "-file").files = chosen.files;
  element(kind + "-own").hidden = !(kind in page.userFiles);
}

// The demo's own file for `kind` again.
function useOwnFile(kind) {
  queueFileWork(() => {
    delete page.userFiles[kind];
    if (kind !== "music") FS.unlink("/user/" + FileKinds.indexOf(kind));
    showChoice(kind, ownChoice(kind), false);
    loadAhead();
  });
}

// A dropped picture replaces the one refused first, else the bump picture,
// then the logo, in turn.
function droppedPictureKind() {
  if (page.refusedPictures.length) return page.refusedPictures[0];
  const kind = page.nextDroppedPicture;
  page.nextDroppedPicture = kind === "bump" ? "logo" : "bump";
  return kind;
}

for (const kind of FileKinds) {
  const input = element(kind + "-file");
  input.addEventListener("change", () => useFile(kind, input.files[0]));
  element(kind + "-own").addEventListener("click", () => useOwnFile(kind));
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
  if (showActive()) return; // the panel is away
  for (const file of event.dataTransfer.files) {
    const music = /\.og[ga]$/i.test(file.name) || file.type.startsWith("audio/");
    useFile(music ? "music" : droppedPictureKind, file);
  }
});

startButton.addEventListener("click", start);
addEventListener("pointerdown", () => page.waitingForSound && start());
// Keys reach the show only while it runs; elsewhere the page's own controls take them.
document.addEventListener(
  "keydown",
  (event) => {
    if (event.target instanceof HTMLInputElement) return;
    if (page.waitingForSound || page.countdown) return start();
    const key = event.key.toLowerCase();
    if (key === "f") toggleFullScreen();
    else if (key === "escape" || key === "q") stopShow();
    else if (key === " " && showActive()) togglePause();
    else return;
    event.preventDefault();
    event.stopPropagation();
  },
  true
);
canvas.addEventListener("dblclick", toggleFullScreen);
element("stage").addEventListener("touchend", tap);
element("pause").addEventListener("click", togglePause);
element("full-screen").addEventListener("click", toggleFullScreen);
element("stop").addEventListener("click", stopShow);
document.addEventListener("visibilitychange", setPaused);
addEventListener("resize", layout);
addEventListener("orientationchange", layout);
document.addEventListener("fullscreenchange", layout);
