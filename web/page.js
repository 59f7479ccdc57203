// The page around the demo (page.cpp), before its runtime (--pre-js); the music and the
// checks of the user's files run on a worker, the sound on a worklet. Switches: the README's.
"use strict";

const bumpwave = (window.bumpwave = { state: "start", frames: 0, fps: null, captures: [], seed: null });
const params = new URLSearchParams(location.search);
const element = (id) => document.getElementById(id);
const [canvas, messages, startButton, touchBar, calmBox, seekBar, seekInput] =
  ["canvas", "messages", "start", "touch-bar", "calm", "seek-bar", "seek"].map(element);
calmBox.checked = matchMedia("(prefers-reduced-motion: reduce)").matches;

const page = {
  userFiles: {}, // by kind: the file the user chose, instead of the demo's own
  refused: new Set(), // picture kinds whose last file was refused, the first first
  filesPending: 0, // files chosen, not yet read and checked
  musicOut: true, // the show's music has played out
  stepTimes: [], // [end, duration] of each step in the last second
};
page.fileWork = new Promise((resolve) => (page.runtimeReady = resolve)); // the files, one after another

// What cannot work here is said on the page, and nothing more of the script runs.
function refuse(text) {
  messages.textContent = text;
  startButton.disabled = true;
  startButton.textContent = "Cannot start";
  throw new Error(text);
}
if (location.protocol === "file:")
  refuse("Browsers load this page's program only from a server, not from a file. Serve this folder " +
    "over http: ./web.sh in the demo's folder, or any static server here (python3 -m http.server), " +
    "then open http://127.0.0.1:8000/.");
if (typeof WebAssembly !== "object")
  refuse("This browser runs no WebAssembly, or has it turned off; bumpwave needs it. Turn it on, " +
    "or open the page in a current Firefox, Chrome, Edge or Safari.");

function say(text) {
  if (page.heard || (text === "" && !messages.textContent)) return; // the frame-rate line's leading newline
  console.log(text);
  messages.append(text + "\n");
}

Module.canvas = canvas;
Module.print = Module.printErr = say;
Module.onRuntimeInitialized = () => {
  page.runtime = true;
  FS.mkdir("/user");
  seekInput.max = _ShowLengthMs();
  for (const [name, first] of ccall("SceneList", "string").split(",").map((scene) => scene.split(" ")))
    element("chapters").append(Object.assign(document.createElement("span"), { textContent: name, style: `left: ${(100 * first) / seekInput.max}%` }));
  startButton.textContent = "Start";
  layout();
  if (!ccall("ReadAddress", "number", ["string", "string"], [params.get("seed"), params.get("t")])) {
    params.delete("seed");
    return messages.append("Play the same show again with its own seed, or ", link("?" + params, "a show of a new seed"), ".\n");
  }
  startButton.disabled = false;
  setTimeout(() => {
    startWorker();
    page.runtimeReady();
    if (page.loaded === undefined) loadAhead(); // not started by a click already
    if (params.has("times")) startFrames();
    else if (params.has("autostart") && !/^(0|false|no|off)$/i.test(params.get("autostart")))
      warnThenStart(calmBox.checked ? 0 : 5); // at once where the system asks for calm
    // What installs the page, once the show can start: its own files come first.
    document.head.append(Object.assign(document.createElement("link"), { rel: "manifest", href: "manifest.json" }));
    if ("serviceWorker" in navigator) navigator.serviceWorker.register("sw.js").catch(() => {});
  });
};
Module.setStatus = (text) => {
  const part = /\((\d+)\/(\d+)\)/.exec(text);
  if (part && startButton.disabled) startButton.textContent = `Loading… ${Math.floor((100 * part[1]) / part[2])} %`;
};
Module.onAbort = (what) => refuse(`The page's program could not start (${what}). Serve the whole folder web.sh built.`);

const link = (href, text) => Object.assign(document.createElement("a"), { href: href, textContent: text });

// ?autostart: after `seconds` of the warning, or a key; a start meanwhile ends the count.
function warnThenStart(seconds) {
  if (!seconds) return start();
  page.countdown = seconds;
  startButton.textContent = `Start (in ${seconds} s)`;
  setTimeout(() => page.countdown && warnThenStart(seconds - 1), 1000);
}

// The next show, loaded before its click; its loaders spoke when the files were chosen.
function loadAhead() {
  prepareSound();
  page.heard = true;
  _LoadShowAhead();
  page.heard = false;
  page.loaded = true;
}

// The sound's context and worklet, made ahead: a browser's first context can take half a second.
function prepareSound() {
  if (page.sound) return;
  if (!window.isSecureContext)
    return say("No sound: browsers give sound worklets only to pages over https or from 127.0.0.1");
  const sound = (page.sound = { context: new AudioContext(), ready: false });
  sound.loaded = sound.context.audioWorklet.addModule("music_worklet.js").then(() => (sound.ready = true), () => (page.sound = null));
}

function startMusic(seconds) {
  const sound = page.sound;
  if (page.node) page.node.disconnect();
  page.node = null;
  page.musicFrom = seconds;
  bumpwave.musicTime = 0;
  page.musicOut = !sound || !sound.ready || page.workerBroken;
  if (page.musicOut) return;
  const node = (page.node = new AudioWorkletNode(sound.context, "music", { outputChannelCount: [2] }));
  const channel = new MessageChannel();
  node.connect(sound.context.destination);
  node.port.postMessage(channel.port1, [channel.port1]);
  node.port.onmessage = (message) => node === page.node && heardFromWorklet(message.data);
  const play = { port: channel.port2, rate: sound.context.sampleRate, seconds: seconds, own: !page.userFiles.music };
  page.worker.postMessage({ play: Object.assign(play, { keep: params.has("keep-sound") }) }, [channel.port2]);
}

// The show's clock from when the music began, however late the page hears of it.
function releaseClock(began) {
  clearTimeout(page.holding);
  page.holding = 0;
  const since = began === undefined ? 0 : Math.max(0, page.sound.context.currentTime - began);
  if (!bumpwave.paused) _PauseShowAt(0, performance.now() - 1000 * since);
}

function heardFromWorklet(data) {
  if (data.played && page.holding) releaseClock(data.began);
  if ("played" in data) bumpwave.musicTime = data.played;
  if (data.out) page.musicOut = true;
  // ?keep-sound: the samples played, at the music's own rate and channels, and silence for a gap.
  if (data.kept && !bumpwave.soundRate) Object.assign(bumpwave, { soundRate: data.rate, soundChannels: data.channels });
  if (data.kept) bumpwave.sound.push(...data.kept);
  if (data.gap)
    bumpwave.sound.push(...new Int16Array(Math.round(data.gap * bumpwave.soundRate) * bumpwave.soundChannels));
}

// The start or end screen, its button saying `label`; without one, the running show.
function showPanel(label) {
  element("panel").hidden = !label;
  startButton.textContent = label || startButton.textContent;
  layout();
  (label ? startButton : canvas).focus();
  if (!label) bumpwave.state = "running";
}

function start() {
  page.countdown = 0;
  if (bumpwave.state === "music") return (page.again = !_StopShow()); // its music stops first
  if (showActive()) return;
  prepareSound();
  if (page.filesPending) {
    startButton.textContent = "Reading your files…";
    return page.fileWork.then(start);
  }
  // On a slow network the demo's own music may not have come yet: the show waits for it.
  page.waitingForMusic = !page.musicReady && !page.userFiles.music && !page.workerBroken && !!page.sound;
  if (page.waitingForMusic) return (startButton.textContent = "Loading the music…");
  // Where the browser holds the sound, a click starts it at once; without one the next click or key does.
  const sound = page.sound;
  page.waitingForSound = !!sound && !(sound.context.state === "running" && sound.ready);
  if (page.waitingForSound) {
    Promise.all([sound.context.resume(), sound.loaded]).then(() => page.waitingForSound && start());
    if (sound.context.state !== "running" && !(navigator.userActivation || {}).isActive)
      say("Click or press a key to start — the browser holds the sound until then");
    return;
  }
  messages.textContent = "";
  Object.assign(bumpwave, { frames: 0, fps: null, captures: [], showTime: 0, musicTime: 0, paused: false, sound: [], soundRate: 0, soundChannels: 0 });
  page.userPaused = page.loaded = false;
  if ((bumpwave.seed = _StartShow(calmBox.checked, performance.now())) < 0) return showPanel("Start");
  startMusic(_ShowSeconds());
  // The clock waits for the music's first sound, or two seconds without it.
  if (!page.musicOut) _PauseShowAt(1, performance.now());
  page.holding = page.musicOut ? 0 : setTimeout(releaseClock, 2000);
  showPanel();
  if (document.hidden) setPaused();
  requestAnimationFrame(step);
}

// The show's turn once per display frame, timed over the last second as bumpwave.stepMs.
function step(now) {
  const began = performance.now();
  const music = page.node && bumpwave.musicTime > 0 ? page.musicFrom + bumpwave.musicTime : -1;
  bumpwave.state = UTF8ToString(_StepShow(now, page.musicOut, music));
  const ended = performance.now();
  page.stepTimes.push([ended, ended - began]);
  while (page.stepTimes[0][0] < ended - 1000) page.stepTimes.shift();
  const durations = page.stepTimes.map((time) => time[1]);
  bumpwave.stepMs = { mean: durations.reduce((a, b) => a + b) / durations.length, worst: Math.max(...durations) };
  bumpwave.frames = _FramesShown();
  showTime();
  if (bumpwave.state !== "running" && element("panel").hidden) endScreen();
  if (bumpwave.state !== "ended") return requestAnimationFrame(step);
  if (page.again) start((page.again = false));
}

function endScreen() {
  bumpwave.fps = _FrameRate();
  bumpwave.paused = false;
  if (document.fullscreenElement) document.exitFullscreen();
  const again = "?seed=" + bumpwave.seed;
  messages.append(`Seed ${bumpwave.seed}: this show again at `, link(again, again), "\n");
  loadAhead();
  showPanel("Play again");
}

// While a show runs, the seek bar while paused and for two seconds after a move; on a touch
// screen the touch controls, over the frame only for those two seconds.
function showControls(moved) {
  if (moved) {
    page.movedUntil = performance.now() + 2000;
    clearTimeout(page.controlsTimer); // the last move's hides the controls
    page.controlsTimer = setTimeout(showControls, 2001);
  }
  const recent = performance.now() < page.movedUntil, touch = page.touchSeen || matchMedia("(pointer: coarse)").matches;
  seekBar.hidden = !showActive() || !(bumpwave.paused || recent);
  touchBar.hidden = !(touch && showActive() && (page.bar !== "over" || recent));
}

function showTime() {
  bumpwave.showTime = _ShowSeconds();
  const at = Math.round(1000 * bumpwave.showTime);
  if (document.activeElement !== seekInput) seekInput.value = at;
  element("time").textContent = UTF8ToString(_ShowClockText());
  element("moment").href = `?seed=${bumpwave.seed}&t=${(at / 1000).toFixed(2)}`;
  element("moment").hidden = !bumpwave.paused;
}

// Whether the running show was put at `ms`; a negative `ms` moves nothing.
function seek(ms) {
  if (!showActive() || ms < 0) return false;
  const at = _SeekShowTo(ms, performance.now());
  if (page.node) startMusic(at / 1000);
  showTime();
  showControls(true);
  return true;
}

// What bumpwave-frames draws; the canvas holds the frame's own 640 × 480 pixels.
function startFrames() {
  const count = ccall("StartFrames", "number", ["string", "string"], [params.get("times"), params.get("save")]);
  if (!count) return showPanel("Start");
  showPanel();
  const draw = () => {
    if (_DrawListedFrame(bumpwave.frames)) bumpwave.captures.push(canvas.toDataURL("image/png"));
    if (++bumpwave.frames < count) requestAnimationFrame(draw);
    else bumpwave.state = "ended";
  };
  requestAnimationFrame(draw);
}

// The canvas on the device pixels the desktop's rule gives, the touch controls in a band with room.
function layout() {
  if (!page.runtime) return;
  const ratio = window.devicePixelRatio || 1;
  const at = _PlaceFrame(Math.floor(innerWidth * ratio), Math.floor(innerHeight * ratio)) >> 2;
  const area = Array.from(HEAP32.subarray(at, at + 4), (value) => value / ratio);
  ["left", "top", "width", "height"].forEach((side, i) => canvas.style.setProperty(side, area[i] + "px", "important"));
  canvas.style.setProperty("image-rendering", HEAP32[at + 4] ? "pixelated" : "auto");
  page.bar = innerHeight - area[1] - area[3] >= 56 ? "bottom" : area[0] >= 130 ? "side" : "over";
  touchBar.className = page.bar;
  showControls();
  // A window moved to another screen, or zoomed, changes the pixel ratio alone.
  if (page.ratio !== ratio) matchMedia(`(resolution: ${ratio}dppx)`).addEventListener("change", layout, { once: true });
  page.ratio = ratio;
}

function setPaused() {
  const paused = page.userPaused || document.hidden;
  if (paused === bumpwave.paused || !showActive()) return;
  bumpwave.paused = paused;
  _PauseShowAt(paused, performance.now());
  if (page.sound) page.sound.context[paused ? "suspend" : "resume"]();
  element("pause").textContent = paused ? "Go on" : "Pause";
  showTime();
  showControls(true);
}

const togglePause = () => setPaused((page.userPaused = !page.userPaused));
const showActive = () => bumpwave.state === "running";

// Ends the show, or the music playing out beside the end screen; a paused show goes on, to fade out.
function stopShow() {
  if (!showActive() && bumpwave.state !== "music") return;
  page.userPaused = false;
  setPaused();
  _StopShow();
}

// A tap pauses or goes on, a double tap toggles full screen; where the controls are away, a tap brings them.
function tap(event) {
  event.preventDefault(); // no mouse events made up after it, nor zoom
  const revealing = page.bar === "over" && touchBar.hidden;
  page.touchSeen = true;
  showControls(true);
  if (!showActive() || revealing) return;
  if (event.timeStamp - page.lastTap < 350) {
    clearTimeout(page.tapTimer);
    page.lastTap = 0;
    return toggleFullScreen();
  }
  page.lastTap = event.timeStamp;
  page.tapTimer = setTimeout(togglePause, 350);
}

const toggleFullScreen = () =>
  document.fullscreenElement ? document.exitFullscreen() : document.documentElement.requestFullscreen().catch(() => {});

function startWorker() {
  page.worker = new Worker("music_worker.js");
  page.worker.onmessage = ({ data }) => {
    if ("broken" in data) workerFailed();
    else if ("line" in data) say(data.line);
    else if ("usable" in data) page.checked(data);
    else {
      page.musicReady = true;
      if (page.waitingForMusic) start();
    }
  };
  page.worker.onerror = (error) => workerFailed(error.preventDefault());
}

function workerFailed() {
  if (!page.workerBroken) say("No music: the page's worker failed");
  page.workerBroken = page.musicOut = true;
  if (page.waitingForMusic) start();
  if (page.checked) page.checked({ usable: false, said: "the page's worker failed" });
}

// Work on the user's files, one after another and after the runtime is ready.
function queueFileWork(work) {
  ++page.filesPending;
  page.fileWork = page.fileWork.then(work).catch((error) => say(`${error}`)).then(() => --page.filesPending);
}

// `kind` is bump, logo or music, or a function that decides it once the files before are checked.
const useFile = (kind, file) => file && queueFileWork(() => checkFile(typeof kind === "function" ? kind() : kind, file));

// The demo's own loader over the file, on the worker (which keeps a usable music).
async function checkFile(kind, file) {
  const bytes = new Uint8Array(await file.arrayBuffer());
  const checked = await new Promise((resolve) => {
    page.checked = resolve;
    if (page.workerBroken) workerFailed();
    else page.worker.postMessage({ check: kind, bytes: bytes });
  });
  page.checked = null;
  if (checked.usable) {
    page.refused.delete(kind);
    page.userFiles[kind] = file;
    if (kind !== "music") FS.writeFile("/user/" + kind, bytes);
    showChoice(kind, `${file.name} will be the ${kindName(kind).toLowerCase()}` + (checked.said ? `; ${checked.said}` : ""), false);
    return loadAhead();
  }
  if (kind !== "music") page.refused.add(kind);
  showChoice(kind, `${file.name} will not be used: ${checked.said || "the demo cannot read it"}. ${ownChoice(kind)}`, true);
}

const kindName = (kind) => document.querySelector(`label[for=${kind}-file]`).textContent;
const ownChoice = (kind) => `${kindName(kind)}: ${page.userFiles[kind] ? page.userFiles[kind].name : "the demo's own"}.`;

function showChoice(kind, text, refused) {
  element(kind + "-status").textContent = text;
  element(kind + "-status").classList.toggle("refused", refused);
  const chosen = new DataTransfer();
  if (page.userFiles[kind]) chosen.items.add(page.userFiles[kind]);
  element(kind + "-file").files = chosen.files;
  element(kind + "-own").hidden = !page.userFiles[kind];
}

// A dropped picture replaces the one refused first, else the bump picture, then the logo, in turn.
const droppedPictureKind = () =>
  [...page.refused][0] || (page.lastDroppedPicture = page.lastDroppedPicture === "bump" ? "logo" : "bump");

for (const picker of document.querySelectorAll("#files input")) {
  const kind = picker.id.replace("-file", "");
  picker.addEventListener("change", () => useFile(kind, picker.files[0]));
  element(kind + "-own").addEventListener("click", () => queueFileWork(() => {
    delete page.userFiles[kind];
    if (kind !== "music") FS.unlink("/user/" + kind);
    showChoice(kind, ownChoice(kind), false);
    loadAhead();
  }));
  showChoice(kind, ownChoice(kind), false);
}
const dropping = (on) => document.body.classList.toggle("dropping", on);
addEventListener("dragover", (event) => dropping(!event.preventDefault()));
addEventListener("dragleave", () => dropping(false));
addEventListener("drop", (event) => {
  event.preventDefault();
  dropping(false);
  if (showActive()) return; // the panel is away
  for (const file of event.dataTransfer.files)
    useFile(/\.og[ga]$/i.test(file.name) || file.type.startsWith("audio/") ? "music" : droppedPictureKind, file);
});

startButton.addEventListener("click", start);
addEventListener("pointerdown", () => page.waitingForSound && start());
// Keys reach the show only while it runs; elsewhere the page's own controls take them.
document.addEventListener("keydown", (event) => {
  if (event.target instanceof HTMLInputElement) return;
  if (page.waitingForSound || page.countdown) return start();
  const key = event.key.toLowerCase();
  // The demo's own seek keys; other key names begin in lower case, which the show's rule places nowhere.
  const seekKey = { arrowleft: "L", arrowright: "R", home: "H" }[key] ?? key;
  if (key === "f") toggleFullScreen();
  else if (key === "escape" || key === "q") stopShow();
  else if (key === " " && showActive()) togglePause();
  else if (!seek(_SeekTargetOf(seekKey.charCodeAt(0)))) return;
  event.preventDefault();
  event.stopPropagation();
}, true);
canvas.addEventListener("dblclick", toggleFullScreen);
element("stage").addEventListener("touchend", tap);
for (const [id, act] of [["pause", togglePause], ["full-screen", toggleFullScreen], ["stop", stopShow]])
  element(id).addEventListener("click", act);
element("stage").addEventListener("pointermove", () => showControls(true));
seekInput.addEventListener("input", () => seek(Number(seekInput.value)));

document.addEventListener("visibilitychange", setPaused);
for (const change of ["resize", "orientationchange"]) addEventListener(change, layout);
document.addEventListener("fullscreenchange", layout);
