// The record the engine hands the encoder module to open a session's stream. Built here
// only: the engine, the module's tests and the fuzzer's seed all use this one recipe.
#pragma once

#include "bladeenc.h"

// A LAME-form record for constant bit rate joint stereo at bitrate kbit/s from 16-bit
// stereo at sampleRate Hz, resampled to reSampleRate (0: the encoder picks the rate from the
// bit rate), with the private, copyright and original bits set and the bit reservoir off.
// Every byte the fields leave is zero.
BE_CONFIG BuildEncoderConfig(BE_DWORD bitrate, BE_DWORD sampleRate, BE_DWORD reSampleRate);
