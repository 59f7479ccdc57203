#include "shell/show.h"

#include "assets/picture.h"
#include "effects/tables.h"
#include "platform/files.h"
#include "shell/timeline.h"

#include <cstdlib>
#include <ctime>

uint32_t* BumpPicture;
uint32_t* LogoPicture;

bool LoadShow(std::optional<unsigned> seed, bool calm) {
    FreeShow();
    const unsigned chosen = seed.value_or(static_cast<unsigned>(std::time(nullptr)));
    // The loader prints its own messages.
    if (!LoadPicture(BumpPictureName, &BumpPicture) || !LoadPicture(LogoPictureName, &LogoPicture))
        return FreeShow(), false;
    if (!InitEffects(chosen))
        return Complain("not enough memory for the tables"), FreeShow(), false;
    StartTimeline(chosen, calm);
    return true;
}

void FreeShow() {
    FreeWaveTables();
    std::free(BumpPicture);
    std::free(LogoPicture);
    BumpPicture = LogoPicture = nullptr;
}
