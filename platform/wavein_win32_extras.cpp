// The functions wavein.h adds to <mmsystem.h>, over the real waveIn service.
#include "wavein.h"

// There is no sound server behind waveIn: an error code is all a failed call gives, and
// waveInGetErrorTextW already words it, so nothing would be added here but the same text twice.
const char* waveInLastServerError() {
    return "";
}

// waveIn tells nothing of audio it drops while no buffer is queued: a driver either stalls
// or discards without a count, and waveInGetPosition counts what was delivered into buffers,
// not what was lost. So 0: losses the engine can see (a buffer handed back without
// WHDR_DONE, the time no buffer was queued) are counted by the engine itself.
uint64_t waveInGetLostFrames(HWAVEIN) {
    return 0;
}

bool waveInCountsDroppedAudio(HWAVEIN) {
    return false;
}

// waveIn names no kind of device: every one counts as an input.
bool waveInIsMonitor(HWAVEIN) {
    return false;
}
