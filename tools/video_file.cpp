#include "tools/video_file.h"

#include "platform/frame.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

// One encoder and the stream its packets go to.
struct Track {
    AVCodecContext* encoder;
    AVStream* stream;
    AVFrame* frame; // reused for every frame sent
    int64_t nextPts;
};

static struct {
    AVFormatContext* output;
    Track picture, sound;
    AVPacket* packet;
    SwsContext* toYuv; // H.264 and VP9 take the frame in yuv420p
    // Sound waits here until it fills an encoder frame.
    AVAudioFifo* pending;
    // Sound goes through a converter made for its rate and channels.
    SwrContext* converter;
    int converterRate, converterChannels;
    std::vector<uint8_t> converted; // the converter's output, one plane a channel
    char errorText[256];
    // FFmpeg's last error message, often the only one that says what was wrong;
    // encoders' threads can log too.
    std::mutex logLock;
    char lastLog[200];
} V;

// The speakers of Ogg Vorbis's channel counts as FFmpeg lays them out; the
// samples come in that order, as the demo hands them to SDL.
static const uint64_t VorbisLayouts[MaxSoundChannels] = {
    AV_CH_LAYOUT_MONO,    AV_CH_LAYOUT_STEREO,       AV_CH_LAYOUT_SURROUND,
    AV_CH_LAYOUT_QUAD,    AV_CH_LAYOUT_5POINT0_BACK, AV_CH_LAYOUT_5POINT1_BACK,
    AV_CH_LAYOUT_6POINT1, AV_CH_LAYOUT_7POINT1};
// The AAC encoder's own layouts; those it lacks get a wider one, so that no
// speaker is mixed into another where a wider layout has it.
static const uint64_t AacLayouts[MaxSoundChannels] = {
    AV_CH_LAYOUT_MONO,         AV_CH_LAYOUT_STEREO,       AV_CH_LAYOUT_SURROUND,
    AV_CH_LAYOUT_5POINT0_BACK, AV_CH_LAYOUT_5POINT0_BACK, AV_CH_LAYOUT_5POINT1_BACK,
    AV_CH_LAYOUT_7POINT1,      AV_CH_LAYOUT_7POINT1};
// Encoders that take any frame size get this many sample frames at a time.
static constexpr int SoundFrameSize = 4096;

static void KeepLastError(void*, int level, const char* format, va_list arguments) {
    if (level > AV_LOG_ERROR) return;
    std::lock_guard lock(V.logLock);
    std::vsnprintf(V.lastLog, sizeof V.lastLog, format, arguments);
    V.lastLog[std::strcspn(V.lastLog, "\n")] = '\0';
}

// Each call starts with no message of FFmpeg's, so none is blamed on a later failure.
static void ForgetLog() {
    std::lock_guard lock(V.logLock);
    V.lastLog[0] = '\0';
}

static bool Fail(const char* what, int code = 0) {
    std::lock_guard lock(V.logLock);
    char reason[AV_ERROR_MAX_STRING_SIZE] = "";
    if (code != 0) av_strerror(code, reason, sizeof reason);
    const char* why = V.lastLog[0] ? V.lastLog : reason;
    std::snprintf(V.errorText, sizeof V.errorText, *why ? "%s: %s" : "%s", what, why);
    V.lastLog[0] = '\0';
    return false;
}

// True when FFmpeg's `code` is no error; else the failure to do `what`.
static bool Succeeded(int code, const char* what) {
    return code >= 0 || Fail(what, code);
}

const char* VideoFileError() {
    return V.errorText;
}

// Opens the track's encoder and gives it a stream and a frame to fill; the
// stream is made only once the encoder has taken its settings.
static bool StartTrack(Track& track) {
    AVCodecContext* encoder = track.encoder;
    const AVCodec* codec = encoder->codec; // a failed open clears it
    if (V.output->oformat->flags & AVFMT_GLOBALHEADER)
        encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (!Succeeded(avcodec_open2(encoder, codec, nullptr),
                   ("cannot start the " + std::string(codec->name) + " encoder").c_str()))
        return false;
    track.stream = avformat_new_stream(V.output, nullptr);
    track.frame = av_frame_alloc();
    if (!track.stream || !track.frame) return Fail("not enough memory for the video file");
    track.stream->time_base = encoder->time_base;
    track.stream->avg_frame_rate = encoder->framerate;
    AVFrame* frame = track.frame;
    if (encoder->codec_type == AVMEDIA_TYPE_VIDEO) {
        frame->format = encoder->pix_fmt;
        frame->width = encoder->width;
        frame->height = encoder->height;
    } else {
        frame->format = encoder->sample_fmt;
        frame->sample_rate = encoder->sample_rate;
        frame->nb_samples = encoder->frame_size > 0 ? encoder->frame_size : SoundFrameSize;
    }
    int code = avcodec_parameters_from_context(track.stream->codecpar, encoder);
    if (code >= 0) code = av_channel_layout_copy(&frame->ch_layout, &encoder->ch_layout);
    if (code >= 0) code = av_frame_get_buffer(frame, 0);
    return Succeeded(code, "not enough memory for a frame");
}

// The track's encoder, not opened yet.
static AVCodecContext* NewEncoder(Track& track, const char* name) {
    const AVCodec* codec = avcodec_find_encoder_by_name(name);
    track.encoder = codec ? avcodec_alloc_context3(codec) : nullptr;
    if (!track.encoder)
        Fail(codec ? "not enough memory for the encoder"
                   : ("FFmpeg has no " + std::string(name) + " encoder").c_str());
    return track.encoder;
}

// Each kind's container and encoders, in VideoKind's order.
static const struct {
    const char *container, *picture, *sound;
} Kinds[] = {
    {"matroska", "ffv1", "flac"}, {"mp4", "libx264", "aac"}, {"webm", "libvpx-vp9", "libopus"}};

static bool StartPictureTrack(const VideoSettings& settings) {
    AVCodecContext* encoder = NewEncoder(V.picture, Kinds[static_cast<int>(settings.kind)].picture);
    if (!encoder) return false;
    encoder->width = FrameWidth * settings.scale;
    encoder->height = FrameHeight * settings.scale;
    encoder->sample_aspect_ratio = {1, 1};
    encoder->time_base = {1, settings.framesPerSecond};
    encoder->framerate = {settings.framesPerSecond, 1};
    // The codec's options and its encoder's own alike.
    auto set = [encoder](const char* name, const std::string& value) {
        av_opt_set(encoder, name, value.c_str(), AV_OPT_SEARCH_CHILDREN);
    };
    if (settings.kind == VideoKind::Lossless) {
        // The frame's own words, 0x00RRGGBB in the machine's byte order.
        encoder->pix_fmt = AV_PIX_FMT_0RGB32;
        // Version 3 cuts each frame into slices that encode in parallel; as
        // many threads as FFmpeg sees fit for the cores.
        encoder->level = 3;
        encoder->thread_count = 0;
        set("slices", "4");
        set("slicecrc", "1");
        // Every frame stands alone, so seeking lands exactly; it costs nothing
        // in size here.
        encoder->gop_size = 1;
    } else {
        // In the BT.709 colours the stream says it has. Scaled up, each frame
        // pixel becomes a block; unscaled, a colour sample is the mean of 2 × 2.
        V.toYuv = sws_getContext(FrameWidth, FrameHeight, AV_PIX_FMT_0RGB32, encoder->width,
                                 encoder->height, AV_PIX_FMT_YUV420P,
                                 settings.scale == 1 ? SWS_BILINEAR : SWS_POINT, nullptr, nullptr,
                                 nullptr);
        if (!V.toYuv) return Fail("cannot convert the frames to yuv420p");
        const int* bt709 = sws_getCoefficients(SWS_CS_ITU709);
        sws_setColorspaceDetails(V.toYuv, bt709, 1, bt709, 0, 0, 1 << 16, 1 << 16);
        encoder->pix_fmt = AV_PIX_FMT_YUV420P;
        // Said outright, so that players do not guess from the size.
        encoder->colorspace = AVCOL_SPC_BT709;
        encoder->color_primaries = AVCOL_PRI_BT709;
        encoder->color_trc = AVCOL_TRC_BT709;
        encoder->color_range = AVCOL_RANGE_MPEG;
        set("crf", std::to_string(settings.quality));
    }
    if (settings.kind == VideoKind::Mp4) set("preset", "veryfast");
    if (settings.kind == VideoKind::WebM) {
        // Constant quality without a bitrate cap, at libvpx's fastest
        // settings, each row of tiles on a thread of its own.
        encoder->bit_rate = 0;
        encoder->thread_count = 0;
        set("deadline", "realtime");
        set("cpu-used", "8");
        set("row-mt", "1");
        set("tile-columns", "2");
    }
    return StartTrack(V.picture);
}

// The rate the encoder takes that is nearest to `rate`.
static int NearestRate(const AVCodec* codec, int rate) {
    if (!codec->supported_samplerates) return rate;
    int best = codec->supported_samplerates[0];
    for (const int* r = codec->supported_samplerates; *r; ++r)
        if (std::abs(*r - rate) < std::abs(best - rate)) best = *r;
    return best;
}

static bool UseConverter(int rate, int channels);

// False with the reason; then the file holds no stream of sound when
// V.sound.stream is nullptr: the encoder or the converter refused the sound.
static bool StartSoundTrack(const VideoSettings& settings) {
    if (settings.channels < 1 || settings.channels > MaxSoundChannels)
        return Fail("a video takes sound of 1 to 8 channels");
    AVCodecContext* encoder = NewEncoder(V.sound, Kinds[static_cast<int>(settings.kind)].sound);
    if (!encoder) return false;
    const bool aac = settings.kind == VideoKind::Mp4, opus = settings.kind == VideoKind::WebM;
    encoder->sample_fmt = aac ? AV_SAMPLE_FMT_FLTP : opus ? AV_SAMPLE_FMT_FLT : AV_SAMPLE_FMT_S16;
    // Opus's own rate; FLAC takes any. Opus lays out 8 channels as Vorbis does.
    encoder->sample_rate = opus ? 48000 : NearestRate(encoder->codec, settings.sampleRate);
    const uint64_t* layouts = aac ? AacLayouts : VorbisLayouts;
    av_channel_layout_from_mask(&encoder->ch_layout, layouts[settings.channels - 1]);
    encoder->time_base = {1, encoder->sample_rate};
    if (!UseConverter(settings.sampleRate, settings.channels) || !StartTrack(V.sound)) return false;
    V.pending = av_audio_fifo_alloc(encoder->sample_fmt, encoder->ch_layout.nb_channels,
                                    V.sound.frame->nb_samples);
    return V.pending || Fail("not enough memory for the sound");
}

static void DropSoundTrack() {
    avcodec_free_context(&V.sound.encoder);
    av_frame_free(&V.sound.frame);
    V.sound = {};
    swr_free(&V.converter);
}

bool OpenVideoFile(const char* path, VideoSettings& settings) {
    // Errors are kept for the message; nothing of FFmpeg's reaches the terminal.
    av_log_set_callback(KeepLastError);
    ForgetLog();
    V.errorText[0] = '\0';
    // "file:" keeps FFmpeg from reading a name like "pipe:1.mkv" as a URL.
    const std::string url = std::string("file:") + path;
    int code = avformat_alloc_output_context2(
        &V.output, nullptr, Kinds[static_cast<int>(settings.kind)].container, url.c_str());
    if (code < 0) return Fail("cannot make the container", code);
    V.packet = av_packet_alloc();
    if (!V.packet) return Fail("not enough memory for the video file");
    if (!StartPictureTrack(settings)) return false;
    // A refused sound leaves its reason in errorText, the video made without it.
    if (settings.sampleRate > 0 && !StartSoundTrack(settings)) {
        if (V.sound.stream) return false;
        DropSoundTrack();
    }
    settings.sampleRate = V.sound.encoder ? V.sound.encoder->sample_rate : 0;
    code = avio_open(&V.output->pb, url.c_str(), AVIO_FLAG_WRITE);
    if (code < 0) return Fail("cannot create the file", code);
    // The index goes to the front once the file is complete, so it streams.
    if (settings.kind == VideoKind::Mp4)
        av_opt_set(V.output->priv_data, "movflags", "+faststart", 0);
    return Succeeded(avformat_write_header(V.output, nullptr), "cannot write the header");
}

// Sends `frame` (nullptr: the end) and writes whatever packets come out.
static bool Encode(Track& track, const AVFrame* frame) {
    if (!Succeeded(avcodec_send_frame(track.encoder, frame), "cannot encode")) return false;
    for (;;) {
        int code = avcodec_receive_packet(track.encoder, V.packet);
        if (code == AVERROR(EAGAIN) || code == AVERROR_EOF) return true;
        if (code < 0) return Fail("cannot encode", code);
        // A frame lasts one tick of the frame rate, the last one too.
        if (V.packet->duration == 0 && &track == &V.picture) V.packet->duration = 1;
        av_packet_rescale_ts(V.packet, track.encoder->time_base, track.stream->time_base);
        V.packet->stream_index = track.stream->index;
        if (!Succeeded(av_interleaved_write_frame(V.output, V.packet), "cannot write the file"))
            return false;
    }
}

// The frame into the encoder's frame: converted and scaled up by swscale, or
// for FFV1 its own words, each repeated into a scale × scale block.
static void FillPicture(const uint8_t* rows, int bytesPerRow, AVFrame* frame) {
    if (V.toYuv) {
        sws_scale(V.toYuv, &rows, &bytesPerRow, 0, FrameHeight, frame->data, frame->linesize);
        return;
    }
    const int scale = frame->width / FrameWidth;
    for (int y = 0; y < frame->height; ++y) {
        const auto* in = reinterpret_cast<const uint32_t*>(rows + y / scale * bytesPerRow);
        auto* out = reinterpret_cast<uint32_t*>(frame->data[0] + y * frame->linesize[0]);
        for (int x = 0; x < FrameWidth; ++x) std::fill_n(out + x * scale, scale, in[x]);
    }
}

bool AddVideoFrame(const uint32_t* pixels, int bytesPerRow) {
    ForgetLog();
    AVFrame* frame = V.picture.frame;
    if (!Succeeded(av_frame_make_writable(frame), "not enough memory for a frame")) return false;
    FillPicture(reinterpret_cast<const uint8_t*>(pixels), bytesPerRow, frame);
    frame->pts = V.picture.nextPts++;
    return Encode(V.picture, frame);
}

// Encodes the pending sound in whole encoder frames; with `all`, the rest too.
static bool EncodePending(bool all) {
    AVFrame* frame = V.sound.frame;
    const int size = frame->nb_samples; // only the last may be short
    while (av_audio_fifo_size(V.pending) >= size || (all && av_audio_fifo_size(V.pending) > 0)) {
        if (!Succeeded(av_frame_make_writable(frame), "not enough memory for the sound"))
            return false;
        frame->nb_samples =
            av_audio_fifo_read(V.pending, reinterpret_cast<void**>(frame->data), size);
        frame->pts = V.sound.nextPts;
        V.sound.nextPts += frame->nb_samples;
        if (!Encode(V.sound, frame)) return false;
    }
    return true;
}

// Runs the converter on `frames` (nullptr: drains it) into the pending sound.
static bool Convert(const int16_t* samples, int frames) {
    const AVSampleFormat format = V.sound.encoder->sample_fmt;
    const int channels = V.sound.encoder->ch_layout.nb_channels;
    const int out = swr_get_out_samples(V.converter, frames);
    V.converted.resize(static_cast<size_t>(out * channels * av_get_bytes_per_sample(format)));
    uint8_t* planes[MaxSoundChannels];
    av_samples_fill_arrays(planes, nullptr, V.converted.data(), channels, out, format, 1);
    const uint8_t* in = reinterpret_cast<const uint8_t*>(samples);
    int got = swr_convert(V.converter, planes, out, samples ? &in : nullptr, frames);
    if (got < 0) return Fail("cannot convert the sound", got);
    if (av_audio_fifo_write(V.pending, reinterpret_cast<void**>(planes), got) < got)
        return Fail("not enough memory for the sound");
    return true;
}

// Drains the converter into the pending sound and frees it.
static bool DropConverter() {
    if (V.converter && !Convert(nullptr, 0)) return false;
    swr_free(&V.converter);
    return true;
}

// A converter from `rate` and `channels` to the track.
static bool UseConverter(int rate, int channels) {
    if (V.converter && rate == V.converterRate && channels == V.converterChannels) return true;
    if (!DropConverter()) return false;
    V.converterRate = rate;
    V.converterChannels = channels;
    AVChannelLayout from;
    av_channel_layout_from_mask(&from, VorbisLayouts[channels - 1]);
    AVCodecContext* to = V.sound.encoder;
    int code = swr_alloc_set_opts2(&V.converter, &to->ch_layout, to->sample_fmt, to->sample_rate,
                                   &from, AV_SAMPLE_FMT_S16, rate, 0, nullptr);
    if (code >= 0) code = swr_init(V.converter);
    return Succeeded(code, "cannot convert the sound");
}

bool AddSound(const int16_t* samples, int frames, int rate, int channels) {
    ForgetLog();
    if (channels < 1 || channels > MaxSoundChannels || rate <= 0)
        return Fail("a video takes sound of 1 to 8 channels");
    if (!UseConverter(rate, channels)) return false;
    return Convert(samples, frames) && EncodePending(false);
}

void AbandonVideoFile() {
    if (V.output && V.output->pb) avio_closep(&V.output->pb);
    avformat_free_context(std::exchange(V.output, nullptr));
    DropSoundTrack();
    avcodec_free_context(&V.picture.encoder);
    av_frame_free(&V.picture.frame);
    V.picture = {};
    av_packet_free(&V.packet);
    sws_freeContext(std::exchange(V.toYuv, nullptr));
    if (V.pending) av_audio_fifo_free(std::exchange(V.pending, nullptr));
    V.converted = std::vector<uint8_t>();
}

bool FinishVideoFile() {
    ForgetLog();
    const bool finished = (!V.sound.encoder ||
                           (DropConverter() && EncodePending(true) && Encode(V.sound, nullptr))) &&
                          Encode(V.picture, nullptr) &&
                          Succeeded(av_write_trailer(V.output), "cannot write the index") &&
                          Succeeded(avio_closep(&V.output->pb), "cannot close the file");
    AbandonVideoFile();
    return finished;
}
