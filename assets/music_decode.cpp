#include "assets/music_decode.h"

#include "assets/music.h"
#include "platform/files.h"

#include <vorbis/vorbisfile.h>

#include <bit>
#include <cstdio>
#include <sys/stat.h>

static constexpr const char* MusicName = "testing.ogg";
// A hole is a lost page, not the end; a file of nothing but holes must still end.
static constexpr int MaxHoles = 64;
static constexpr int BigEndian = std::endian::native == std::endian::big;
// Indexing a file takes libvorbisfile time that grows with the square of a
// tail without pages; past this size the file is read as a stream, in time
// that grows with its size, and its length is not known beforehand.
static constexpr off_t MaxIndexedBytes = 16 << 20;

static OggVorbis_File Music;
static bool MusicOpen;

bool OpenMusicFile(const char** why) {
    FILE* file = OpenDataFile(MusicName);
    if (!file) {
        *why = "Couldn't open testing.ogg";
        return false;
    }
    struct stat info = {};
    const bool indexed = fstat(fileno(file), &info) == 0 && info.st_size <= MaxIndexedBytes;
    const int opened = indexed
                           ? ov_open(file, &Music, nullptr, 0)
                           : ov_open_callbacks(file, &Music, nullptr, 0, OV_CALLBACKS_STREAMONLY);
    if (opened < 0) {
        std::fclose(file);
        *why = "Couldn't open testing.ogg as OGG file";
        return false;
    }
    MusicOpen = true;
    return true;
}

int MusicRate() {
    const vorbis_info* info = ov_info(&Music, 0);
    return info->rate > 0 && info->rate <= INT32_MAX ? static_cast<int>(info->rate) : 0;
}

int MusicChannels() {
    return ov_info(&Music, 0)->channels;
}

double MusicSeconds() {
    double seconds = ov_time_total(&Music, -1);
    return seconds > 0 ? seconds : 0;
}

int DecodeMusic(int16_t* samples, int capacity, int* rate, int* channels) {
    for (int holes = 0;;) {
        int stream = 0;
        long bytes = ov_read(&Music, reinterpret_cast<char*>(samples), capacity * 2, BigEndian, 2,
                             1, &stream);
        if (bytes == OV_HOLE && ++holes <= MaxHoles) continue;
        if (bytes <= 0) return 0;
        const vorbis_info* info = ov_info(&Music, stream);
        *rate = info->rate > 0 && info->rate <= INT32_MAX ? static_cast<int>(info->rate) : 0;
        *channels = info->channels;
        ToSpeakerOrder(reinterpret_cast<char*>(samples), bytes,
                       info->channels); // as the demo plays it
        return static_cast<int>(bytes / 2 / info->channels);
    }
}

void CloseMusicFile() {
    if (MusicOpen) ov_clear(&Music);
    MusicOpen = false;
}
