#include "shell/show.h"

#include "assets/picture.h"
#include "effects/tables.h"
#include "platform/files.h"
#include "shell/timeline.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

uint32_t* BumpPicture;
uint32_t* LogoPicture;

bool LoadShow(std::optional<unsigned> seed, bool calm) {
    FreeShow();
    const unsigned chosen = seed.value_or(static_cast<unsigned>(std::time(nullptr)));
    // The loader prints its own messages.
    bool loaded =
        LoadPicture(BumpPictureName, &BumpPicture) && LoadPicture(LogoPictureName, &LogoPicture);
    if (loaded && !InitEffects(chosen)) {
        Complain("not enough memory for the tables");
        loaded = false;
    }
    if (loaded) StartTimeline(chosen, calm);
    if (!loaded) FreeShow();
    return loaded;
}

void FreeShow() {
    FreeWaveTables();
    std::free(BumpPicture);
    std::free(LogoPicture);
    BumpPicture = LogoPicture = nullptr;
}
