#include "assets/music_decode.h"

#include "assets/music.h"
#include "platform/files.h"

#include <vorbis/vorbisfile.h>

#include <bit>
#include <cstdio>

static constexpr const char* MusicName = "testing.ogg";
// A hole is a lost page, not the end; a file of nothing but holes must still end.
static constexpr int MaxHoles = 64;
static constexpr int BigEndian = std::endian::native == std::endian::big;

static OggVorbis_File Music;
static bool MusicOpen;

bool OpenMusicFile(const char** why) {
    FILE* file = OpenDataFile(MusicName);
    if (!file) {
        *why = "Couldn't open testing.ogg";
        return false;
    }
    if (OpenOggVorbis(file, &Music) < 0) {
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
