// The page around the demo (page.cpp): the start screen, the show driven once
// per display frame, its place on any screen, pause (Space, a tap, a hidden
// page), touch controls, the user's files, full screen, the music, and
// window.bumpwave for anyone checking the page. Runs before the demo's runtime
// (Emscripten's --pre-js). The music and the checks of the user's files run on
// a worker (music_worker.js), the sound on an AudioWorklet (music_worklet.js).
//
// URL switches: ?seed=N fixes the seed; ?autostart starts after the warning
// (?autostart=0 does not); ?seed=S&times=SPEC&save=LIST draws what
// `bumpwave-frames --seed S --times SPEC --save LIST` draws, one frame per
// display frame, keeping each saved frame as a PNG data URL; ?keep-sound keeps
// the music's own samples the worklet played, with silence for any gap; ?t=S
// starts the show S seconds in.
"use strict";

const bumpwave = (window.bumpwave = { state: "start", frames: 0, fps: null, captures: [], seed: null });
const params = new URLSearchParams(location.search);
const element = (id) => document.getElementById(id);
const [canvas, messages, startButton, touchBar, calmBox, seekBar, seekInput] =
  ["canvas", "messages", "start", "touch-bar", "calm", "seek-bar", "seek"].map(element);
// The kinds as music_worker.cpp's CheckFile numbers them, and as the page names them.
const FileKinds = ["bump", "logo", "music"];
const KindNames = { bump: "the bump picture", logo: "the logo", music: "the music" };
// The show's phases as StepShow returns them (ShowPhase), as window.bumpwave.state.
const States = ["start", "running", "music", "music", "ended"];
calmBox.checked = matchMedia("(prefers-reduced-motion: reduce)").matches;

// Everything of the page that changes.
const page = {
  userFiles: {}, // by kind: the file the user chose and its bytes, instead of the demo's own
  nextDroppedPicture: "bump",
  refusedPictures: [], // picture kinds whose last file was refused, the first first
  filesPending: 0, // files chosen, not yet read and checked
  checks: [], // the worker's answers awaited, by check
  musicOut: true, // the show's music has played out
  bar: "bottom", // where the touch controls go: "bottom", "side", or "over" the frame
  barUntil: 0,
  lastTap: 0,
  stepTimes: [], // [end, duration] of each step in the last second
};
page.fileWork = new Promise((resolve) => (page.runtimeReady = resolve)); // the files, one after another

// What cannot work here is said on the page, and nothing more of the script runs.
function refuse(text) {
  messages.textContent = text;
  startButton.disabled = true;
  startButton.textContent = "Cannot start";
  throw new Error("bumpwave: " + text);
}
if (location.protocol === "file:")
  refuse("Browsers load this page's program only from a server, not from a file. Serve this folder " +
    "over http: ./web.sh in the demo's folder, or any static server here (python3 -m http.server), " +
    "then open http://127.0.0.1:8000/.");
if (typeof WebAssembly !== "object")
  refuse("This browser runs no WebAssembly, or has it turned off; bumpwave needs it. Turn it on, " +
    "or open the page in a current Firefox, Chrome, Edge or Safari.");

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
  // The scenes as the seek bar's chapters, from the demo's own table.
  for (const [name, first] of ccall("SceneList", "string").split(",").map((scene) => scene.split(" ")))
    element("chapters").append(Object.assign(document.createElement("span"), { textContent: name, style: `left: ${first / 410}%` }));
  startButton.textContent = "Start";
  layout();
  if (Number.isNaN(givenSeed())) return refuseSeed();
  startButton.disabled = false;
  // The rest once the button shows: a click before the next show is loaded loads it.
  setTimeout(() => {
    startWorker();
    page.runtimeReady();
    if (page.loadedSeed === undefined) loadAhead();
    if (params.has("times")) start();
    else if (params.has("autostart") && !/^(0|false|no|off)$/i.test(params.get("autostart"))) warnThenStart();
    // What installs the page, once the show can start: its own files come first.
    document.head.append(Object.assign(document.createElement("link"), { rel: "manifest", href: "manifest.json" }));
    if ("serviceWorker" in navigator) navigator.serviceWorker.register("sw.js").catch(() => {});
  });
};
// How far the page's files have come, on the button until they are all here.
Module.setStatus = (text) => {
  const part = /\((\d+)\/(\d+)\)/.exec(text);
  if (part && startButton.disabled) startButton.textContent = `Loading… ${Math.floor((100 * part[1]) / part[2])} %`;
};
Module.onAbort = (what) => refuse(`The page's program could not start (${what}). Serve the whole folder web.sh built.`);

// ?seed as the demo takes it, 0 .. 2^32 − 1; null without one, NaN for one it does not take.
function givenSeed() {
  const text = params.get("seed");
  if (text === null) return null;
  return /^\d{1,10}$/.test(text) && Number(text) <= 0xffffffff ? Number(text) : NaN;
}

// The given seed, else the clock's seconds, as on the desktop.
const seed = () => givenSeed() ?? Math.floor(Date.now() / 1000) >>> 0;
const link = (href, text) => Object.assign(document.createElement("a"), { href: href, textContent: text });

function refuseSeed() {
  const fresh = new URLSearchParams(params);
  fresh.delete("seed");
  messages.append(`?seed=${params.get("seed")} is not a seed: a seed is a whole number from 0 to ` +
    "4294967295. Play the same show again with its own seed, or ", link("?" + fresh, "a show of a new seed"), ".\n");
}

// ?autostart: the warning and the Calm box first, for five seconds or until a
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

// The show's music on a worklet of its own, fed by the worker through a
// channel, from `seconds` into it.
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
  if (data.kept) keepSound(data.kept, data.rate, data.channels);
  if (data.gap && bumpwave.soundRate)
    keepSound(new Int16Array(Math.round(data.gap * bumpwave.soundRate) * bumpwave.soundChannels));
}

// Called by the demo's StopMusic: a fade, and no more reading.
function bumpwaveFadeMusic() {
  if (page.node) page.node.port.postMessage("fade");
  page.worker.postMessage({ stop: true });
}

// ?keep-sound: the samples the worklet played, at the music's own rate and channels.
function keepSound(samples, rate, channels) {
  if (!bumpwave.soundRate) Object.assign(bumpwave, { soundRate: rate, soundChannels: channels });
  const kept = bumpwave.sound ? bumpwave.sound.length : 0;
  if (!page.keptAll || kept + samples.length > page.keptAll.length) {
    page.keptAll = new Int16Array(Math.max(2 * kept, kept + samples.length, 1 << 16));
    if (bumpwave.sound) page.keptAll.set(bumpwave.sound);
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
  if (bumpwave.state === "music") return (page.again = !_StopShow()); // its music stops first
  if (showActive()) return;
  prepareSound();
  if (page.filesPending) {
    startButton.textContent = "Reading your files…";
    return page.fileWork.then(start);
  }
  // On a slow network the demo's own music may not have come yet: the show waits for it.
  page.waitingForMusic = !page.musicReady && !page.userFiles.music && !page.workerBroken && !!page.sound;
  if (page.waitingForMusic && !params.has("times")) return (startButton.textContent = "Loading the music…");
  if (!params.has("times") && !soundAllowed()) {
    page.waitingForSound = true;
    // In a click the sound starts at once; without one it waits for the user.
    if (page.sound.context.state !== "running" && !(navigator.userActivation || {}).isActive)
      say("Click or press a key to start — the browser holds the sound until then");
    return;
  }
  page.waitingForSound = false;
  messages.textContent = "";
  Object.assign(bumpwave, { frames: 0, fps: null, captures: [], showTime: 0, musicTime: 0, paused: false });
  Object.assign(bumpwave, { sound: null, soundRate: 0, soundChannels: 0 });
  page.keptAll = null;
  page.userPaused = false;
  if (params.has("times")) return startFrames();
  if (page.loadedSeed == null) _PlacePictures(); // not loaded ahead, or not yet
  page.shownSeed = bumpwave.seed = page.loadedSeed ?? seed();
  page.loadedSeed = null;
  _SetCalm(calmBox.checked ? 1 : 0);
  if (!_StartShow(page.shownSeed, performance.now())) return showPanel("Start");
  // ?t for the first show only: "Play again" plays from the start.
  const from = Number(params.get("t") || 0);
  if (!(from >= 0 && from <= 41)) say(`?t=${params.get("t")} is no moment of the show: 0 to 41 seconds`);
  params.delete("t");
  startMusic(from > 0 && from <= 41 ? _SeekShowTo(1000 * from, performance.now()) / 1000 : 0);
  page.ended = false;
  // The show's clock waits for the music's first sound, which takes a moment to
  // come from the worker (or never comes: then it goes on alone).
  if (!page.musicOut) _PauseShowAt(1, performance.now());
  page.holding = page.musicOut ? 0 : setTimeout(releaseClock, 2000);
  element("panel").hidden = true;
  layout();
  canvas.focus();
  bumpwave.state = "running";
  if (document.hidden) setPaused();
  requestAnimationFrame(step);
}

// The show takes its turn once per display frame; the demo decides the rest.
// The page's own work per step over the last second is bumpwave.stepMs.
function step(now) {
  const began = performance.now();
  const music = page.node && !bumpwave.paused && bumpwave.musicTime > 0 ? page.musicFrom + bumpwave.musicTime : -1;
  bumpwave.state = States[_StepShow(now, page.musicOut ? 1 : 0, music)];
  const ended = performance.now();
  page.stepTimes.push([ended, ended - began]);
  while (page.stepTimes[0][0] < ended - 1000) page.stepTimes.shift();
  const durations = page.stepTimes.map((time) => time[1]);
  bumpwave.stepMs = { mean: durations.reduce((a, b) => a + b) / durations.length, worst: Math.max(...durations) };
  Object.assign(bumpwave, { frames: _FramesShown(), showTime: _ShowSeconds() });
  showTime();
  // The end screen comes with the visuals' end, the music playing out beside it.
  if (bumpwave.state !== "running" && !page.ended) endScreen();
  if (bumpwave.state !== "ended") return requestAnimationFrame(step);
  if (page.node) page.node.disconnect();
  page.node = null;
  if (page.again) start((page.again = false));
}

function endScreen() {
  page.ended = true;
  bumpwave.fps = _FrameRate();
  bumpwave.paused = false;
  showTouchBar();
  seekBar.hidden = true;
  if (document.fullscreenElement) document.exitFullscreen();
  const again = "?seed=" + page.shownSeed;
  messages.append(`Seed ${page.shownSeed}: this show again at `, link(again, again), "\n");
  loadAhead();
  showPanel("Play again");
}

// The seek bar: the show's time among its scenes, shown while paused and for
// two seconds after the pointer moves or a tap; never over the frame for long.
function showBar() {
  clearTimeout(page.barTimer);
  seekBar.hidden = bumpwave.state !== "running";
  if (!bumpwave.paused) page.barTimer = setTimeout(() => (seekBar.hidden = !bumpwave.paused), 2000);
}

function showTime() {
  const at = Math.round(1000 * bumpwave.showTime), second = Math.floor(at / 1000);
  if (document.activeElement !== seekInput) seekInput.value = at;
  element("time").textContent = `${Math.floor(second / 60)}:${String(second % 60).padStart(2, "0")} / 0:41`;
  element("moment").href = `?seed=${page.shownSeed}&t=${(at / 1000).toFixed(2)}`;
  element("moment").hidden = !bumpwave.paused;
}

// Picture and music together to show time `ms`.
function seek(ms) {
  if (bumpwave.state !== "running") return;
  const at = _SeekShowTo(ms, performance.now());
  if (page.node) startMusic(at / 1000);
  bumpwave.showTime = _ShowSeconds();
  showTime();
  showBar();
}

// A key that moves in the show, as the demo's own rule places it.
function seekKey(key) {
  const code = { arrowleft: "L", arrowright: "R", home: "H" }[key] ?? (key.length === 1 ? key : "");
  const to = code ? _SeekTargetOf(code.charCodeAt(0)) : -1;
  if (to >= 0) seek(to);
  return to >= 0;
}

// What bumpwave-frames draws, read by its own readers.
function startFrames() {
  bumpwave.seed = seed();
  _PlacePictures();
  const count = ccall("ReadFrameList", "number", ["string", "string"], [params.get("times"), params.get("save")]);
  if (!count || !_StartFrames(bumpwave.seed)) return showPanel("Start");
  element("panel").hidden = true;
  layout();
  bumpwave.state = "running";
  const draw = () => {
    if (_DrawListedFrame(bumpwave.frames)) bumpwave.captures.push(capture());
    if (++bumpwave.frames < count) requestAnimationFrame(draw);
    else bumpwave.state = "ended";
  };
  requestAnimationFrame(draw);
}

// The frame as drawn, 640 × 480 whatever the canvas shows, as a PNG data URL.
function capture() {
  const made = Object.assign(document.createElement("canvas"), { width: 640, height: 480 });
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
  const area = Array.from(HEAP32.subarray(at, at + 4), (value) => value / ratio);
  ["left", "top", "width", "height"].forEach((side, i) => canvas.style.setProperty(side, area[i] + "px", "important"));
  canvas.style.setProperty("image-rendering", HEAP32[at + 4] ? "pixelated" : "auto");
  page.bar = innerHeight - area[1] - area[3] >= 56 ? "bottom" : area[0] >= 130 ? "side" : "over";
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
  showTime();
  showBar();
}

const togglePause = () => setPaused((page.userPaused = !page.userPaused));

const showActive = () => bumpwave.state === "running";

// Ends the show as the desktop's stop keys do, or the music playing out beside
// the end screen; a paused show goes on, to fade out.
function stopShow() {
  if (!showActive() && bumpwave.state !== "music") return;
  page.userPaused = false;
  setPaused();
  _StopShow();
}

// Touch screens get buttons for what keys do elsewhere, while a show runs; over
// the frame only for two seconds after a tap.
function showTouchBar() {
  const seen = page.touchSeen || matchMedia("(pointer: coarse)").matches;
  touchBar.hidden = !(seen && showActive() && (page.bar !== "over" || performance.now() < page.barUntil));
}

// On a touch screen one tap pauses or goes on, a second tap soon after
// toggles full screen instead; where the controls are away, a tap brings them.
function tap(event) {
  event.preventDefault(); // no mouse events made up after it, nor zoom
  const revealing = page.bar === "over" && touchBar.hidden;
  page.touchSeen = true;
  page.barUntil = performance.now() + 2000;
  setTimeout(showTouchBar, 2001);
  showTouchBar();
  if (!showActive() || revealing) return;
  if (event.timeStamp - page.lastTap < 350) {
    clearTimeout(page.tapTimer);
    page.lastTap = 0;
    return toggleFullScreen();
  }
  page.lastTap = event.timeStamp;
  showBar();
  page.tapTimer = setTimeout(togglePause, 350);
}

const toggleFullScreen = () =>
  document.fullscreenElement ? document.exitFullscreen() : document.documentElement.requestFullscreen().catch(() => {});

// ---- The worker: the music, and the checks of the user's files.
function startWorker() {
  page.worker = new Worker("music_worker.js");
  page.worker.onmessage = (message) => {
    const data = message.data;
    if ("broken" in data) workerFailed();
    else if ("line" in data) say(data.line);
    else if (!data.ready) page.checks[data.checked](data);
    else {
      page.musicReady = true;
      if (page.waitingForMusic) start();
    }
  };
  page.worker.onerror = (error) => workerFailed(error.preventDefault());
}

// Without its worker the page has no music and checks no file.
function workerFailed() {
  if (!page.workerBroken) say("bumpwave: no music: the page's worker failed");
  page.workerBroken = page.musicOut = true;
  if (page.waitingForMusic) start();
  page.checks.forEach((answer) => answer && answer({ usable: false, lines: ["the page's worker failed"] }));
}

// Work on the user's files, one after another and after the runtime is ready.
function queueFileWork(work) {
  ++page.filesPending;
  page.fileWork = page.fileWork.then(work).catch((error) => say(`${error}`)).then(() => --page.filesPending);
}

// A file the user chose or dropped; `kind` is bump, logo or music, or a
// function that decides it once the files before it are checked.
const useFile = (kind, file) => file && queueFileWork(() => checkFile(typeof kind === "function" ? kind() : kind, file));

// The demo's own loader over the file, on the worker, as soon as it is chosen;
// the page says by the file's own name whether the next shows will use it, and
// if not why: the loader's reasons ("bumpwave: NAME: why"), else all it said.
async function checkFile(kind, file) {
  const bytes = new Uint8Array(await file.arrayBuffer());
  const id = page.checks.length;
  const answer = new Promise((resolve) => (page.checks[id] = resolve));
  if (page.workerBroken) workerFailed();
  page.worker.postMessage({ check: id, kind: FileKinds.indexOf(kind), bytes: bytes.slice().buffer });
  const checked = await answer;
  page.checks[id] = null;
  const reasons = checked.lines.map((line) => /^bumpwave: [^:]+: (.*)/.exec(line)).filter((found) => found);
  const said = (reasons.length ? reasons.map((found) => found[1]) : checked.lines.filter((line) => line.trim())).join("; ");
  const refused = page.refusedPictures.indexOf(kind);
  if (checked.usable) {
    if (refused >= 0) page.refusedPictures.splice(refused, 1);
    page.userFiles[kind] = file;
    if (kind === "music") page.worker.postMessage({ music: bytes.buffer }, [bytes.buffer]);
    else FS.writeFile("/user/" + FileKinds.indexOf(kind), bytes);
    showChoice(kind, `${file.name} will be ${KindNames[kind]}` + (said ? `; ${said}` : ""), false);
    return loadAhead();
  }
  if (kind !== "music" && refused < 0) page.refusedPictures.push(kind);
  showChoice(kind, `${file.name} will not be used: ${said || "the demo cannot read it"}. ${ownChoice(kind)}`, true);
}

// What the next show takes for `kind`, in words.
function ownChoice(kind) {
  const chosen = page.userFiles[kind] ? page.userFiles[kind].name : "the demo's own";
  return `${KindNames[kind][4].toUpperCase()}${KindNames[kind].slice(5)}: ${chosen}.`;
}

// The picker and the line below it show what the next show takes.
function showChoice(kind, text, refused) {
  element(kind + "-status").textContent = text;
  element(kind + "-status").classList.toggle("refused", refused);
  const chosen = new DataTransfer();
  if (page.userFiles[kind]) chosen.items.add(page.userFiles[kind]);
  element(kind + "-file").files = chosen.files;
  element(kind + "-own").hidden = !page.userFiles[kind];
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
  element(kind + "-file").addEventListener("change", (event) => useFile(kind, event.target.files[0]));
  element(kind + "-own").addEventListener("click", () => useOwnFile(kind));
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
  if (key === "f") toggleFullScreen();
  else if (key === "escape" || key === "q") stopShow();
  else if (key === " " && showActive()) togglePause();
  else if (!showActive() || !seekKey(key)) return;
  event.preventDefault();
  event.stopPropagation();
}, true);
canvas.addEventListener("dblclick", toggleFullScreen);
element("stage").addEventListener("touchend", tap);
element("pause").addEventListener("click", togglePause);
element("full-screen").addEventListener("click", toggleFullScreen);
element("stop").addEventListener("click", stopShow);
element("stage").addEventListener("pointermove", () => showActive() && showBar());
seekInput.addEventListener("input", () => seek(Number(seekInput.value)));

document.addEventListener("visibilitychange", setPaused);
for (const change of ["resize", "orientationchange"]) addEventListener(change, layout);
document.addEventListener("fullscreenchange", layout);
