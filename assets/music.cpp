#include "assets/music.h"

int8_t EndSignal = -1;
Task* MainTask;

bool StartMusic() {
    return false;
}
void MusicProcess() {}
