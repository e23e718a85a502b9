// A stand-in for the encoder module, built three ways: one that logs every call and whose
// output the tests can predict, one lacking beWriteVBRHeader, and one whose beInitStream
// fails. The tests reach its log through the fake* functions (dlopen the same path with
// RTLD_NOLOAD, then dlsym).
//
// Output of beEncodeChunk: 8 bytes per call unless told otherwise: 'C', the call's number
// (from 1, one byte), nSamples (4 bytes, little-endian) and the first sample (2 bytes).
// beDeinitStream gives the 4 bytes "TAIL".
//
// The stream handle is declared as LAME's own DLL declares it, a pointer, not through
// bladeenc.h, and its value lies above 4 GB as a heap address does on 64-bit Windows: a
// caller whose handle is narrower is overrun by beInitStream (the sanitizers see it) and
// refused by every later call.
#include "fake_encoder.h"

#include <chrono>
#include <cstdint>
#include <cstring>
#include <thread>

#include "bladeenc.h"

#ifdef _WIN32
#define FAKE_API extern "C"
#else
#define FAKE_API extern "C" __attribute__((visibility("default")))
#endif

typedef void* LameStream;

namespace {
FakeLog g_log;
int g_forcedBytes = -1;  // -1: the 8-byte record
BE_ERR g_encodeResult = BE_ERR_SUCCESSFUL;
int g_encodeSleepMs = 0;
constexpr uintptr_t kHandle = 0x0000012345678000u;

bool IsOurs(LameStream stream) {
    return reinterpret_cast<uintptr_t>(stream) == kHandle;
}
}  // namespace

FAKE_API const FakeLog* fakeLog() {
    return &g_log;
}

FAKE_API void fakeReset() {
    std::memset(&g_log, 0, sizeof(g_log));
    g_forcedBytes = -1;
    g_encodeResult = BE_ERR_SUCCESSFUL;
    g_encodeSleepMs = 0;
}

// bytes: how many bytes each beEncodeChunk reports (-1 for the 8-byte record); result: what
// it returns; sleepMs: how long it takes.
FAKE_API void fakeSetEncode(int bytes, BE_ERR result, int sleepMs) {
    g_forcedBytes = bytes;
    g_encodeResult = result;
    g_encodeSleepMs = sleepMs;
}

FAKE_API BE_ERR BE_CDECL beInitStream(PBE_CONFIG pbeConfig, BE_DWORD* dwSamples, BE_DWORD* dwBufferSize,
                                      LameStream* phbeStream) {
    ++g_log.initCalls;
    std::memcpy(&g_log.lastConfig, pbeConfig, sizeof(BE_CONFIG));
#ifdef FAKE_FAILING_INIT
    (void)dwSamples;
    (void)dwBufferSize;
    (void)phbeStream;
    return BE_ERR_INVALID_FORMAT_PARAMETERS;
#else
    *dwSamples = 2304;
    *dwBufferSize = 8640;
    *phbeStream = reinterpret_cast<LameStream>(kHandle);
    return BE_ERR_SUCCESSFUL;
#endif
}

FAKE_API BE_ERR BE_CDECL beEncodeChunk(LameStream hbeStream, BE_DWORD nSamples, const short* pSamples,
                                       unsigned char* pOutput, BE_DWORD* pdwOutput) {
    if (!IsOurs(hbeStream))
        return BE_ERR_INVALID_HANDLE;
    ++g_log.encodeCalls;
    g_log.lastSamples = nSamples;
    if (g_encodeSleepMs > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(g_encodeSleepMs));
    if (g_forcedBytes >= 0) {
        std::memset(pOutput, 'x', static_cast<size_t>(g_forcedBytes));
        *pdwOutput = static_cast<BE_DWORD>(g_forcedBytes);
        return g_encodeResult;
    }
    pOutput[0] = 'C';
    pOutput[1] = static_cast<unsigned char>(g_log.encodeCalls);
    std::memcpy(pOutput + 2, &nSamples, 4);
    const short first = nSamples > 0 ? pSamples[0] : 0;
    std::memcpy(pOutput + 6, &first, 2);
    *pdwOutput = 8;
    return g_encodeResult;
}

FAKE_API BE_ERR BE_CDECL beDeinitStream(LameStream hbeStream, unsigned char* pOutput, BE_DWORD* pdwOutput) {
    if (!IsOurs(hbeStream))
        return BE_ERR_INVALID_HANDLE;
    ++g_log.deinitCalls;
    std::memcpy(pOutput, "TAIL", 4);
    *pdwOutput = 4;
    return BE_ERR_SUCCESSFUL;
}

FAKE_API BE_ERR BE_CDECL beCloseStream(LameStream hbeStream) {
    if (!IsOurs(hbeStream))
        return BE_ERR_INVALID_HANDLE;
    ++g_log.closeCalls;
    return BE_ERR_SUCCESSFUL;
}

FAKE_API void BE_CDECL beVersion(PBE_VERSION pbeVersion) {
    std::memset(pbeVersion, 0, sizeof(BE_VERSION));
}

#ifndef FAKE_WITHOUT_VBR_HEADER
FAKE_API BE_ERR BE_CDECL beWriteVBRHeader(const char*) {
    return BE_ERR_SUCCESSFUL;
}
#endif
