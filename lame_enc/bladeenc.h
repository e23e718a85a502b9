// The BladeEnc-compatible encoder interface: the six entry points a module named lame_enc
// exports with C linkage and undecorated names, and the records they take. The engine never
// links a module; it loads one at run time and resolves these names.
//
// Binary layout matters: BE_CONFIG is exactly 331 bytes, packed, little-endian, the layout
// every BladeEnc-compatible module reads. One stream handle must not be used from two
// threads at once.
#pragma once

#include <cstdint>

#include "dword.h"

#ifndef _WIN32
#define BE_CDECL
#else
#define BE_CDECL __cdecl
#endif

typedef uint32_t BE_ERR;
// As wide as a pointer: LAME's own DLL declares the handle void* and stores its encoder's
// heap address in it. A 32-bit slot would be overrun by the store and hand every later call
// a cut address, which on 64-bit Windows (heaps above 4 GB) crashes the first encode.
typedef uintptr_t HBE_STREAM;
static_assert(sizeof(HBE_STREAM) == sizeof(void*), "HBE_STREAM is pointer-sized");
typedef DWORD BE_DWORD;  // the record's 32-bit fields
static_assert(sizeof(BE_DWORD) == 4, "BE_DWORD is 32 bits wide");

#define BE_ERR_SUCCESSFUL 0x00000000u
#define BE_ERR_INVALID_FORMAT 0x00000001u
#define BE_ERR_INVALID_FORMAT_PARAMETERS 0x00000002u
#define BE_ERR_NO_MORE_HANDLES 0x00000003u
#define BE_ERR_INVALID_HANDLE 0x00000004u
#define BE_ERR_BUFFER_TOO_SMALL 0x00000005u

#define BE_CONFIG_MP3 0
#define BE_CONFIG_LAME 256

#define BE_MP3_MODE_STEREO 0
#define BE_MP3_MODE_JSTEREO 1
#define BE_MP3_MODE_DUALCHANNEL 2
#define BE_MP3_MODE_MONO 3

#define MPEG1 1
#define MPEG2 0

#define CURRENT_STRUCT_VERSION 1
#define CURRENT_STRUCT_SIZE 331

// nPreset values (LAME_QUALITY_PRESET). Values of 1000 and above are LAME's named presets;
// below 6 they are quality levels that keep the record's mode and bit rate.
enum {
    LQP_NOPRESET = -1,
    LQP_NORMAL_QUALITY = 0,
    LQP_LOW_QUALITY = 1,
    LQP_HIGH_QUALITY = 2,
    LQP_VOICE_QUALITY = 3,
    LQP_R3MIX = 4,
    LQP_VERYHIGH_QUALITY = 5,
    LQP_STANDARD = 6,
    LQP_FAST_STANDARD = 7,
    LQP_EXTREME = 8,
    LQP_FAST_EXTREME = 9,
    LQP_INSANE = 10,
    LQP_ABR = 11,
    LQP_CBR = 12,
};

#pragma pack(push, 1)

// The LHV1 form (dwConfig == BE_CONFIG_LAME).
struct BE_LHV1 {
    BE_DWORD dwStructVersion;  // 1
    BE_DWORD dwStructSize;     // sizeof(BE_CONFIG)
    BE_DWORD dwSampleRate;     // input rate, Hz
    BE_DWORD dwReSampleRate;   // output rate, Hz; 0 leaves it to the encoder
    int32_t nMode;             // BE_MP3_MODE_*
    BE_DWORD dwBitrate;        // kbit/s
    BE_DWORD dwMaxBitrate;
    int32_t nPreset;  // LQP_*
    BE_DWORD dwMpegVersion;
    BE_DWORD dwPsyModel;
    BE_DWORD dwEmphasis;
    int32_t bPrivate;
    int32_t bCRC;
    int32_t bCopyright;
    int32_t bOriginal;
    int32_t bWriteVBRHeader;
    int32_t bEnableVBR;
    int32_t nVBRQuality;
    BE_DWORD dwVbrAbr_bps;
    int32_t nVbrMethod;
    int32_t bNoRes;
    int32_t bStrictIso;
    uint16_t nQuality;  // applied only when the high byte is the complement of the low byte
    uint8_t btReserved[255 - 4 * sizeof(BE_DWORD) - sizeof(uint16_t)];
};

// The original BladeEnc form (dwConfig == BE_CONFIG_MP3).
struct BE_MP3 {
    BE_DWORD dwSampleRate;  // 48000, 44100 or 32000
    uint8_t byMode;         // BE_MP3_MODE_*
    uint16_t wBitrate;      // kbit/s
    int32_t bPrivate;
    int32_t bCRC;
    int32_t bCopyright;
    int32_t bOriginal;
};

struct BE_CONFIG {
    BE_DWORD dwConfig;  // BE_CONFIG_LAME or BE_CONFIG_MP3
    union {
        BE_MP3 mp3;
        BE_LHV1 lhv1;
    } format;
};

struct BE_VERSION {
    uint8_t byDLLMajorVersion;
    uint8_t byDLLMinorVersion;
    uint8_t byMajorVersion;
    uint8_t byMinorVersion;
    uint8_t byDay;
    uint8_t byMonth;
    uint16_t wYear;
    char zHomepage[129];
    uint8_t byAlphaLevel;
    uint8_t byBetaLevel;
    uint8_t byMMXEnabled;
    uint8_t btReserved[125];
};

#pragma pack(pop)

// A typedef'd pointer cannot carry the packing (GCC drops attributes on pointer typedefs), so
// the records themselves are packed and the pointers are plain.
typedef BE_CONFIG* PBE_CONFIG;
typedef BE_VERSION* PBE_VERSION;

static_assert(sizeof(BE_CONFIG) == CURRENT_STRUCT_SIZE, "BE_CONFIG must be 331 bytes");
static_assert(sizeof(BE_LHV1) == CURRENT_STRUCT_SIZE - 4, "LHV1 form must fill the record");

typedef BE_ERR(BE_CDECL* BEINITSTREAM)(PBE_CONFIG, BE_DWORD*, BE_DWORD*, HBE_STREAM*);
typedef BE_ERR(BE_CDECL* BEENCODECHUNK)(HBE_STREAM, BE_DWORD, const short*, unsigned char*, BE_DWORD*);
typedef BE_ERR(BE_CDECL* BEDEINITSTREAM)(HBE_STREAM, unsigned char*, BE_DWORD*);
typedef BE_ERR(BE_CDECL* BECLOSESTREAM)(HBE_STREAM);
typedef void(BE_CDECL* BEVERSION)(PBE_VERSION);
typedef BE_ERR(BE_CDECL* BEWRITEVBRHEADER)(const char*);

#define TEXT_BEINITSTREAM "beInitStream"
#define TEXT_BEENCODECHUNK "beEncodeChunk"
#define TEXT_BEDEINITSTREAM "beDeinitStream"
#define TEXT_BECLOSESTREAM "beCloseStream"
#define TEXT_BEVERSION "beVersion"
#define TEXT_BEWRITEVBRHEADER "beWriteVBRHeader"

#ifdef BE_EXPORTS
#ifdef _WIN32
#define BE_API extern "C"  // exported by the module's .def file, undecorated
#else
#define BE_API extern "C" __attribute__((visibility("default")))
#endif
BE_API BE_ERR BE_CDECL beInitStream(PBE_CONFIG pbeConfig, BE_DWORD* dwSamples, BE_DWORD* dwBufferSize,
                                    HBE_STREAM* phbeStream);
BE_API BE_ERR BE_CDECL beEncodeChunk(HBE_STREAM hbeStream, BE_DWORD nSamples, const short* pSamples,
                                     unsigned char* pOutput, BE_DWORD* pdwOutput);
BE_API BE_ERR BE_CDECL beDeinitStream(HBE_STREAM hbeStream, unsigned char* pOutput, BE_DWORD* pdwOutput);
BE_API BE_ERR BE_CDECL beCloseStream(HBE_STREAM hbeStream);
BE_API void BE_CDECL beVersion(PBE_VERSION pbeVersion);
BE_API BE_ERR BE_CDECL beWriteVBRHeader(const char* lpszFileName);
#endif
