#include "encoder_config.h"

#include <cstring>

BE_CONFIG BuildEncoderConfig(BE_DWORD bitrate, BE_DWORD sampleRate, BE_DWORD reSampleRate) {
    BE_CONFIG config;
    std::memset(&config, 0, sizeof(config));  // padding and reserved bytes too
    config.dwConfig = BE_CONFIG_LAME;
    BE_LHV1& lhv1 = config.format.lhv1;
    lhv1.dwStructVersion = CURRENT_STRUCT_VERSION;
    lhv1.dwStructSize = sizeof(BE_CONFIG);
    lhv1.dwSampleRate = sampleRate;
    lhv1.dwReSampleRate = reSampleRate;
    lhv1.nMode = BE_MP3_MODE_JSTEREO;
    lhv1.dwBitrate = bitrate;
    lhv1.nPreset = LQP_CBR;
    lhv1.dwMpegVersion = bitrate > 32u ? MPEG1 : MPEG2;
    lhv1.bPrivate = 1;
    lhv1.bCopyright = 1;
    lhv1.bOriginal = 1;
    lhv1.bNoRes = 1;
    return config;
}
