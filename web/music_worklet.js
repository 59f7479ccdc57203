// The music's last step to the speakers, on the audio thread: the worker's
// stereo frames, played in turn from a tenth of a second on, as the desktop's
// card. The page hears how much has played, {out} once all has (or faded out
// after "fade"), and with ?keep-sound each block's own samples and any gap.
class Music extends AudioWorkletProcessor {
  constructor() {
    super();
    Object.assign(this, { blocks: [], at: 0, played: 0, told: 0, ended: false, fade: -1 });
    this.port.onmessage = (message) => {
      if (message.data === "fade") this.fade = this.fadeAll = Math.ceil(sampleRate / 20);
      else (this.worker = message.data).onmessage = (block) =>
        block.data.end ? (this.ended = true) : this.blocks.push(block.data);
    };
  }

  process(inputs, outputs) {
    const [left, right] = outputs[0];
    this.started = this.started || this.ended || this.fade >= 0 ||
      this.blocks.reduce((sum, block) => sum + block.samples.length / 2, 0) >= sampleRate / 10;
    if (!this.started) return true;
    let i = 0;
    while (i < left.length && this.blocks.length && this.fade !== 0) {
      const block = this.blocks[0], samples = block.samples;
      for (; i < left.length && this.at < samples.length && this.fade !== 0; this.at += 2, ++i) {
        const gain = this.fade < 0 ? 1 : this.fade-- / this.fadeAll;
        left[i] = samples[this.at] * gain;
        right[i] = samples[this.at + 1] * gain;
      }
      if (this.at < samples.length) break;
      this.blocks.shift();
      this.at = 0;
      if (block.kept) this.port.postMessage({ kept: block.kept, rate: block.rate, channels: block.channels });
    }
    const out = this.fade === 0 || (!this.blocks.length && (this.ended || this.fade > 0));
    if (i < left.length && this.played && !out && this.fade < 0) this.port.postMessage({ gap: (left.length - i) / sampleRate });
    this.played += i;
    if (this.played - this.told >= sampleRate / 20 || out || (i && !this.told)) {
      if (this.worker) this.worker.postMessage(this.played - this.told);
      this.told = this.played;
      // `began`: when the music's first frame played, on the context's clock.
      const began = currentTime + (i - this.played) / sampleRate;
      this.port.postMessage({ played: this.played / sampleRate, began: began, out: out });
    }
    return !out;
  }
}
registerProcessor("music", Music);
