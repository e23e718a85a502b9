// The call log of the fake encoder modules (fake_encoder.cpp), as the tests read it.
#pragma once

#include "bladeenc.h"

struct FakeLog {
    int initCalls;
    int encodeCalls;
    int deinitCalls;
    int closeCalls;
    BE_CONFIG lastConfig;  // the record the last beInitStream was given
    BE_DWORD lastSamples;  // nSamples of the last beEncodeChunk
};
