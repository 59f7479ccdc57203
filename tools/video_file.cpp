#include "tools/video_file.h"

#include "platform/frame.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <mutex>
#include <string>

// One encoder and the stream its packets go to.
struct Track {
    AVCodecContext* encoder;
    AVStream* stream;
    AVFrame* frame; // reused for every frame sent
    int64_t nextPts;
};

static AVFormatContext* Output;
static Track Picture, Sound;
static int Scale;
static AVPacket* Packet;
// H.264 and VP9: the frame in yuv420p, or in yuv444p at its own size when
// scaled up, into Small.
static SwsContext* ToYuv;
static AVFrame* Small;
// Sound waits here until it fills an encoder frame.
static AVAudioFifo* Pending;
// Sound whose format is not the track's goes through a converter made for it.
static SwrContext* Converter;
static int ConverterRate, ConverterChannels;
// FLAC takes sound of the rate and channels it was opened for as it comes;
// all else is converted.
static bool TakesAsTheyCome;
static int OpenedRate, OpenedChannels;
static uint8_t* Converted;    // the converter's output, one plane a channel
static size_t ConvertedBytes; // allocated
static int16_t* Held;         // slow sound, held up to MinResampledRate
static size_t HeldBytes;      // allocated
static char ErrorText[256];
// FFmpeg's last error message, often the only one that says what was wrong;
// encoders' threads can log too.
static std::mutex LogLock;
static char LastLog[200];

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
// FFmpeg's resampler gives nothing at all from sound far slower than the
// track (1 Hz to 7350 Hz): such sound is first held up to this rate, each
// sample frame repeated.
static constexpr int MinResampledRate = 8000;

static void KeepLastError(void*, int level, const char* format, va_list arguments) {
    if (level > AV_LOG_ERROR) return;
    std::lock_guard lock(LogLock);
    std::vsnprintf(LastLog, sizeof LastLog, format, arguments);
    LastLog[std::strcspn(LastLog, "\n")] = '\0';
}

// Each call starts with no message of FFmpeg's, so none is blamed on a later failure.
static void ForgetLog() {
    std::lock_guard lock(LogLock);
    LastLog[0] = '\0';
}

static bool Fail(const char* what, int code = 0) {
    std::lock_guard lock(LogLock);
    char reason[AV_ERROR_MAX_STRING_SIZE] = "";
    if (code != 0) av_strerror(code, reason, sizeof reason);
    const char* why = LastLog[0] ? LastLog : reason;
    std::snprintf(ErrorText, sizeof ErrorText, *why ? "%s: %s" : "%s", what, why);
    LastLog[0] = '\0';
    return false;
}

const char* VideoFileError() {
    return ErrorText;
}

// Opens the track's encoder.
static bool OpenEncoder(Track& track, AVDictionary** options) {
    AVCodecContext* encoder = track.encoder;
    // A failed open clears the encoder's codec.
    const AVCodec* codec = encoder->codec;
    if (Output->oformat->flags & AVFMT_GLOBALHEADER) encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    int code = avcodec_open2(encoder, codec, options);
    if (code >= 0) return true;
    char what[64];
    std::snprintf(what, sizeof what, "cannot start the %s encoder", codec->name);
    return Fail(what, code);
}

// Gives the container a stream for the track's opened encoder.
static bool AddStream(Track& track) {
    AVCodecContext* encoder = track.encoder;
    track.stream = avformat_new_stream(Output, nullptr);
    track.frame = av_frame_alloc();
    if (!track.stream || !track.frame) return Fail("not enough memory for the video file");
    track.stream->time_base = encoder->time_base;
    int code = avcodec_parameters_from_context(track.stream->codecpar, encoder);
    if (code < 0) return Fail("cannot describe the stream", code);
    return true;
}

// The track's encoder, not opened yet.
static AVCodecContext* NewEncoder(Track& track, const char* name) {
    const AVCodec* codec = avcodec_find_encoder_by_name(name);
    if (!codec) {
        std::snprintf(ErrorText, sizeof ErrorText, "FFmpeg has no %s encoder", name);
        return nullptr;
    }
    track.encoder = avcodec_alloc_context3(codec);
    if (!track.encoder) Fail("not enough memory for the encoder");
    return track.encoder;
}

// The frame in yuv420p, in the BT.709 colours the stream says it has. Scaled
// up, it is converted to yuv444p at its own size, and ScaleUp keeps one colour
// sample of each 2 × 2 block: at even scales the block is one frame pixel.
static bool StartYuvConverter(int scale) {
    const AVPixelFormat format = scale == 1 ? AV_PIX_FMT_YUV420P : AV_PIX_FMT_YUV444P;
    ToYuv = sws_getContext(FrameWidth, FrameHeight, AV_PIX_FMT_0RGB32, FrameWidth, FrameHeight,
                           format, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!ToYuv) return Fail("cannot convert the frames to yuv420p");
    const int* bt709 = sws_getCoefficients(SWS_CS_ITU709);
    sws_setColorspaceDetails(ToYuv, bt709, 1, bt709, 0, 0, 1 << 16, 1 << 16);
    if (scale == 1) return true;
    Small = av_frame_alloc();
    if (!Small) return Fail("not enough memory for a frame");
    Small->format = format;
    Small->width = FrameWidth;
    Small->height = FrameHeight;
    int code = av_frame_get_buffer(Small, 0);
    return code >= 0 || Fail("not enough memory for a frame", code);
}

static void SayColours(AVCodecContext* encoder) {
    // Said outright, so that players do not guess from the size.
    encoder->colorspace = AVCOL_SPC_BT709;
    encoder->color_primaries = AVCOL_PRI_BT709;
    encoder->color_trc = AVCOL_TRC_BT709;
    encoder->color_range = AVCOL_RANGE_MPEG;
}

static const char* PictureEncoder(VideoKind kind) {
    return kind == VideoKind::Lossless ? "ffv1" : kind == VideoKind::Mp4 ? "libx264" : "libvpx-vp9";
}

static bool StartPictureTrack(const VideoSettings& settings) {
    const bool lossless = settings.kind == VideoKind::Lossless;
    AVCodecContext* encoder = NewEncoder(Picture, PictureEncoder(settings.kind));
    if (!encoder) return false;
    Scale = settings.scale;
    encoder->width = FrameWidth * Scale;
    encoder->height = FrameHeight * Scale;
    encoder->sample_aspect_ratio = {1, 1};
    encoder->time_base = {1, settings.framesPerSecond};
    encoder->framerate = {settings.framesPerSecond, 1};
    AVDictionary* options = nullptr;
    if (lossless) {
        // The frame's own words, 0x00RRGGBB in the machine's byte order.
        encoder->pix_fmt = AV_PIX_FMT_0RGB32;
        // Version 3 cuts each frame into slices that encode in parallel; as
        // many threads as FFmpeg sees fit for the cores.
        encoder->level = 3;
        encoder->thread_count = 0;
        av_dict_set(&options, "slices", "4", 0);
        av_dict_set(&options, "slicecrc", "1", 0);
        // Every frame stands alone, so seeking lands exactly; it costs nothing
        // in size here.
        encoder->gop_size = 1;
    } else if (settings.kind == VideoKind::Mp4) {
        encoder->pix_fmt = AV_PIX_FMT_YUV420P;
        SayColours(encoder);
        av_dict_set(&options, "preset", "veryfast", 0);
        av_dict_set_int(&options, "crf", settings.quality, 0);
    } else {
        encoder->pix_fmt = AV_PIX_FMT_YUV420P;
        SayColours(encoder);
        // Constant quality without a bitrate cap, at libvpx's fastest
        // settings, each row of tiles on a thread of its own.
        encoder->bit_rate = 0;
        encoder->thread_count = 0;
        av_dict_set_int(&options, "crf", settings.quality, 0);
        av_dict_set(&options, "deadline", "realtime", 0);
        av_dict_set(&options, "cpu-used", "8", 0);
        av_dict_set(&options, "row-mt", "1", 0);
        av_dict_set(&options, "tile-columns", "2", 0);
    }
    if (!lossless && !StartYuvConverter(Scale)) return false;
    bool started = OpenEncoder(Picture, &options) && AddStream(Picture);
    av_dict_free(&options);
    if (!started) return false;
    Picture.stream->avg_frame_rate = encoder->framerate;
    AVFrame* frame = Picture.frame;
    frame->format = encoder->pix_fmt;
    frame->width = encoder->width;
    frame->height = encoder->height;
    int code = av_frame_get_buffer(frame, 0);
    return code >= 0 || Fail("not enough memory for a frame", code);
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

enum class SoundStart { Started, Refused, Failed };

static SoundStart StartSoundTrack(const VideoSettings& settings) {
    if (settings.channels < 1 || settings.channels > MaxSoundChannels) {
        Fail("a video takes sound of 1 to 8 channels");
        return SoundStart::Refused;
    }
    const char* names[] = {"flac", "aac", "libopus"};
    AVCodecContext* encoder = NewEncoder(Sound, names[static_cast<int>(settings.kind)]);
    if (!encoder) return SoundStart::Failed;
    const int index = settings.channels - 1;
    if (settings.kind == VideoKind::Lossless) {
        encoder->sample_fmt = AV_SAMPLE_FMT_S16;
        encoder->sample_rate = settings.sampleRate;
        av_channel_layout_from_mask(&encoder->ch_layout, VorbisLayouts[index]);
    } else if (settings.kind == VideoKind::Mp4) {
        encoder->sample_fmt = AV_SAMPLE_FMT_FLTP;
        encoder->sample_rate = NearestRate(encoder->codec, settings.sampleRate);
        av_channel_layout_from_mask(&encoder->ch_layout, AacLayouts[index]);
    } else {
        // Opus's own rate; it lays out up to 8 channels as Vorbis does.
        encoder->sample_fmt = AV_SAMPLE_FMT_FLT;
        encoder->sample_rate = 48000;
        av_channel_layout_from_mask(&encoder->ch_layout, VorbisLayouts[index]);
    }
    encoder->time_base = {1, encoder->sample_rate};
    TakesAsTheyCome = settings.kind == VideoKind::Lossless;
    OpenedRate = settings.sampleRate;
    OpenedChannels = settings.channels;
    // A rate or layout the encoder or the converter cannot take shows here,
    // before the stream exists: the video is then made without sound.
    if (!OpenEncoder(Sound, nullptr) ||
        (!TakesAsTheyCome && !UseConverter(settings.sampleRate, settings.channels)))
        return SoundStart::Refused;
    if (!AddStream(Sound)) return SoundStart::Failed;
    AVFrame* frame = Sound.frame;
    frame->format = encoder->sample_fmt;
    frame->sample_rate = encoder->sample_rate;
    frame->nb_samples = encoder->frame_size > 0 ? encoder->frame_size : SoundFrameSize;
    int code = av_channel_layout_copy(&frame->ch_layout, &encoder->ch_layout);
    if (code >= 0) code = av_frame_get_buffer(frame, 0);
    if (code >= 0)
        Pending = av_audio_fifo_alloc(encoder->sample_fmt, encoder->ch_layout.nb_channels,
                                      frame->nb_samples);
    if (Pending) return SoundStart::Started;
    Fail("not enough memory for the sound", code);
    return SoundStart::Failed;
}

static void DropSoundTrack() {
    avcodec_free_context(&Sound.encoder);
    av_frame_free(&Sound.frame);
    Sound = {};
    swr_free(&Converter);
    TakesAsTheyCome = false;
}

bool OpenVideoFile(const char* path, VideoSettings& settings) {
    // Errors are kept for the message; nothing of FFmpeg's reaches the terminal.
    av_log_set_callback(KeepLastError);
    ForgetLog();
    // "file:" keeps FFmpeg from reading a name like "pipe:1.mkv" as a URL.
    const std::string url = std::string("file:") + path;
    const char* containers[] = {"matroska", "mp4", "webm"};
    int code = avformat_alloc_output_context2(
        &Output, nullptr, containers[static_cast<int>(settings.kind)], url.c_str());
    if (code < 0) return Fail("cannot make the container", code);
    Packet = av_packet_alloc();
    if (!Packet) return Fail("not enough memory for the video file");
    if (!StartPictureTrack(settings)) return false;
    const SoundStart sound =
        settings.sampleRate > 0 ? StartSoundTrack(settings) : SoundStart::Started;
    if (sound == SoundStart::Failed) return false;
    // What the refusal said outlives the rest of the opening.
    char refusal[sizeof ErrorText] = "";
    if (sound == SoundStart::Refused) {
        DropSoundTrack();
        settings.sampleRate = 0;
        std::memcpy(refusal, ErrorText, sizeof refusal);
    } else if (Sound.encoder) {
        settings.sampleRate = Sound.encoder->sample_rate;
    }
    code = avio_open(&Output->pb, url.c_str(), AVIO_FLAG_WRITE);
    if (code < 0) return Fail("cannot create the file", code);
    AVDictionary* options = nullptr;
    // The index goes to the front once the file is complete, so it streams.
    if (settings.kind == VideoKind::Mp4) av_dict_set(&options, "movflags", "+faststart", 0);
    code = avformat_write_header(Output, &options);
    av_dict_free(&options);
    if (code < 0) return Fail("cannot write the header", code);
    std::snprintf(ErrorText, sizeof ErrorText, "%s", refusal);
    return true;
}

// Sends `frame` (nullptr: the end) and writes whatever packets come out.
static bool Encode(Track& track, const AVFrame* frame) {
    int code = avcodec_send_frame(track.encoder, frame);
    if (code < 0) return Fail("cannot encode", code);
    for (;;) {
        code = avcodec_receive_packet(track.encoder, Packet);
        if (code == AVERROR(EAGAIN) || code == AVERROR_EOF) return true;
        if (code < 0) return Fail("cannot encode", code);
        // A frame lasts one tick of the frame rate, the last one too.
        if (Packet->duration == 0 && &track == &Picture) Packet->duration = 1;
        av_packet_rescale_ts(Packet, track.encoder->time_base, track.stream->time_base);
        Packet->stream_index = track.stream->index;
        code = av_interleaved_write_frame(Output, Packet);
        if (code < 0) return Fail("cannot write the file", code);
    }
}

// Blows up a plane of `width` × `height` samples of T into `to`: sample (x, y)
// there is sample (x × step / Scale, y × step / Scale) here; step 2 gives the
// half-size colour planes of yuv420p from full-size ones.
template <class T>
static void ScaleUp(const uint8_t* from, int fromStride, uint8_t* to, int toStride, int width,
                    int height, int step) {
    int columns[FrameWidth * MaxScale];
    for (int x = 0; x < width; ++x) columns[x] = x * step / Scale;
    const uint8_t* previous = nullptr;
    for (int y = 0; y < height; ++y, to += toStride) {
        const uint8_t* row = from + static_cast<ptrdiff_t>(y * step / Scale) * fromStride;
        if (row == previous) {
            std::memcpy(to, to - toStride, static_cast<size_t>(width) * sizeof(T));
            continue;
        }
        const T* in = reinterpret_cast<const T*>(row);
        T* out = reinterpret_cast<T*>(to);
        for (int x = 0; x < width; ++x) out[x] = in[columns[x]];
        previous = row;
    }
}

// The frame, scaled up and converted, into the encoder's frame.
static void FillPicture(const uint8_t* rows, int bytesPerRow, AVFrame* frame) {
    if (!ToYuv && Scale == 1) {
        av_image_copy_plane(frame->data[0], frame->linesize[0], rows, bytesPerRow, FrameWidth * 4,
                            FrameHeight);
    } else if (!ToYuv) {
        ScaleUp<uint32_t>(rows, bytesPerRow, frame->data[0], frame->linesize[0], frame->width,
                          frame->height, 1);
    } else if (Scale == 1) {
        sws_scale(ToYuv, &rows, &bytesPerRow, 0, FrameHeight, frame->data, frame->linesize);
    } else {
        sws_scale(ToYuv, &rows, &bytesPerRow, 0, FrameHeight, Small->data, Small->linesize);
        for (int plane = 0; plane < 3; ++plane) {
            const int step = plane == 0 ? 1 : 2;
            ScaleUp<uint8_t>(Small->data[plane], Small->linesize[plane], frame->data[plane],
                             frame->linesize[plane], (frame->width + step - 1) / step,
                             (frame->height + step - 1) / step, step);
        }
    }
}

bool AddVideoFrame(const uint32_t* pixels, int bytesPerRow) {
    ForgetLog();
    AVFrame* frame = Picture.frame;
    int code = av_frame_make_writable(frame);
    if (code < 0) return Fail("not enough memory for a frame", code);
    FillPicture(reinterpret_cast<const uint8_t*>(pixels), bytesPerRow, frame);
    frame->pts = Picture.nextPts++;
    return Encode(Picture, frame);
}

// Encodes the pending sound in whole encoder frames; with `all`, the rest too.
static bool EncodePending(bool all) {
    AVFrame* frame = Sound.frame;
    const int size = Sound.encoder->frame_size > 0 ? Sound.encoder->frame_size : SoundFrameSize;
    while (av_audio_fifo_size(Pending) >= size || (all && av_audio_fifo_size(Pending) > 0)) {
        int code = av_frame_make_writable(frame);
        if (code < 0) return Fail("not enough memory for the sound", code);
        // Only the last frame may be short.
        frame->nb_samples =
            av_audio_fifo_read(Pending, reinterpret_cast<void**>(frame->data), size);
        frame->pts = Sound.nextPts;
        Sound.nextPts += frame->nb_samples;
        if (!Encode(Sound, frame)) return false;
    }
    return true;
}

// Room for `frames` sample frames of `frameBytes` each in a growing buffer.
template <class T> static bool Reserve(T*& buffer, size_t& bytes, int frames, int frameBytes) {
    const size_t needed = static_cast<size_t>(frames) * static_cast<size_t>(frameBytes);
    if (needed <= bytes) return true;
    void* grown = std::realloc(buffer, needed);
    if (!grown) return Fail("not enough memory for the sound");
    buffer = static_cast<T*>(grown);
    bytes = needed;
    return true;
}

// Runs the converter on `frames` (nullptr: drains it) into the pending sound.
static bool Convert(const int16_t* samples, int frames) {
    const int channels = Sound.encoder->ch_layout.nb_channels;
    const int out = swr_get_out_samples(Converter, frames);
    const int planeBytes = av_get_bytes_per_sample(Sound.encoder->sample_fmt);
    if (!Reserve(Converted, ConvertedBytes, out, planeBytes * channels)) return false;
    uint8_t* planes[MaxSoundChannels];
    av_samples_fill_arrays(planes, nullptr, Converted, channels, out, Sound.encoder->sample_fmt, 1);
    const uint8_t* in = reinterpret_cast<const uint8_t*>(samples);
    int got = swr_convert(Converter, planes, out, samples ? &in : nullptr, frames);
    if (got < 0) return Fail("cannot convert the sound", got);
    if (av_audio_fifo_write(Pending, reinterpret_cast<void**>(planes), got) < got)
        return Fail("not enough memory for the sound");
    return true;
}

// Drains the converter into the pending sound and frees it.
static bool DropConverter() {
    if (Converter && !Convert(nullptr, 0)) return false;
    swr_free(&Converter);
    return true;
}

// How many times each sample frame of `rate` is repeated before it is resampled.
static int HoldFor(int rate) {
    return rate < MinResampledRate ? (MinResampledRate + rate - 1) / rate : 1;
}

// A converter from `rate` and `channels` to the track.
static bool UseConverter(int rate, int channels) {
    rate *= HoldFor(rate);
    if (Converter && rate == ConverterRate && channels == ConverterChannels) return true;
    if (!DropConverter()) return false;
    ConverterRate = rate;
    ConverterChannels = channels;
    AVChannelLayout from;
    av_channel_layout_from_mask(&from, VorbisLayouts[channels - 1]);
    AVCodecContext* to = Sound.encoder;
    int code = swr_alloc_set_opts2(&Converter, &to->ch_layout, to->sample_fmt, to->sample_rate,
                                   &from, AV_SAMPLE_FMT_S16, rate, 0, nullptr);
    if (code >= 0) code = swr_init(Converter);
    return code >= 0 || Fail("cannot convert the sound", code);
}

// Converts `frames` with each sample frame repeated `times` times.
static bool ConvertHeld(const int16_t* samples, int frames, int times, int channels) {
    const size_t frameBytes = 2 * static_cast<size_t>(channels);
    if (!Reserve(Held, HeldBytes, SoundFrameSize, static_cast<int>(frameBytes))) return false;
    int made = 0;
    for (int f = 0; f < frames; ++f) {
        for (int t = 0; t < times; ++t) {
            std::memcpy(Held + made * channels, samples + f * channels, frameBytes);
            if (++made == SoundFrameSize && !Convert(Held, made)) return false;
            made %= SoundFrameSize;
        }
    }
    return made == 0 || Convert(Held, made);
}

bool AddSound(const int16_t* samples, int frames, int rate, int channels) {
    ForgetLog();
    if (channels < 1 || channels > MaxSoundChannels || rate <= 0)
        return Fail("a video takes sound of 1 to 8 channels");
    if (TakesAsTheyCome && rate == OpenedRate && channels == OpenedChannels) {
        void* planes[1] = {const_cast<int16_t*>(samples)};
        if (!DropConverter()) return false;
        if (av_audio_fifo_write(Pending, planes, frames) < frames)
            return Fail("not enough memory for the sound");
    } else if (!UseConverter(rate, channels)) {
        return false;
    } else if (HoldFor(rate) == 1) {
        if (!Convert(samples, frames)) return false;
    } else if (!ConvertHeld(samples, frames, HoldFor(rate), channels)) {
        return false;
    }
    return EncodePending(false);
}

static void Release() {
    if (Output && Output->pb) avio_closep(&Output->pb);
    avformat_free_context(Output);
    Output = nullptr;
    for (Track* track : {&Picture, &Sound}) {
        avcodec_free_context(&track->encoder);
        av_frame_free(&track->frame);
        *track = {};
    }
    av_packet_free(&Packet);
    sws_freeContext(ToYuv);
    ToYuv = nullptr;
    av_frame_free(&Small);
    if (Pending) av_audio_fifo_free(Pending);
    Pending = nullptr;
    swr_free(&Converter);
    std::free(Converted);
    Converted = nullptr;
    ConvertedBytes = 0;
    std::free(Held);
    Held = nullptr;
    HeldBytes = 0;
    TakesAsTheyCome = false;
}

bool FinishVideoFile() {
    ForgetLog();
    bool finished = true;
    if (Sound.encoder) {
        finished = DropConverter() && EncodePending(true) && Encode(Sound, nullptr);
    }
    finished = finished && Encode(Picture, nullptr);
    if (finished) {
        int code = av_write_trailer(Output);
        finished = code >= 0 || Fail("cannot write the index", code);
    }
    if (finished) {
        int code = avio_closep(&Output->pb);
        finished = code >= 0 || Fail("cannot close the file", code);
    }
    Release();
    return finished;
}

void AbandonVideoFile() {
    Release();
}
