// An encoder module that is the real lame_enc.so but for one stall: its second beEncodeChunk
// call takes 2.5 s longer, the way a handler stalls on a busy machine. The tests point the
// engine at it to see that the audio the device drops meanwhile is counted and told, and
// that the rest of the recording comes through.
#define BE_EXPORTS
#include <dlfcn.h>

#include <chrono>
#include <thread>

#include "bladeenc.h"

namespace {
void* RealModule() {
    static void* module = dlopen("lame_enc.so", RTLD_NOW | RTLD_LOCAL);
    return module;
}

template <typename Fn>
Fn Real(const char* name) {
    return reinterpret_cast<Fn>(dlsym(RealModule(), name));
}

int g_encodeCalls = 0;
}  // namespace

BE_ERR beInitStream(PBE_CONFIG config, BE_DWORD* samples, BE_DWORD* bufferSize, HBE_STREAM* stream) {
    if (RealModule() == nullptr)
        return BE_ERR_INVALID_FORMAT;
    return Real<BEINITSTREAM>(TEXT_BEINITSTREAM)(config, samples, bufferSize, stream);
}

BE_ERR beEncodeChunk(HBE_STREAM stream, BE_DWORD nSamples, const short* pcm, unsigned char* out,
                     BE_DWORD* outBytes) {
    if (++g_encodeCalls == 2)
        std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    return Real<BEENCODECHUNK>(TEXT_BEENCODECHUNK)(stream, nSamples, pcm, out, outBytes);
}

BE_ERR beDeinitStream(HBE_STREAM stream, unsigned char* out, BE_DWORD* outBytes) {
    return Real<BEDEINITSTREAM>(TEXT_BEDEINITSTREAM)(stream, out, outBytes);
}

BE_ERR beCloseStream(HBE_STREAM stream) {
    return Real<BECLOSESTREAM>(TEXT_BECLOSESTREAM)(stream);
}

void beVersion(PBE_VERSION version) {
    Real<BEVERSION>(TEXT_BEVERSION)(version);
}

BE_ERR beWriteVBRHeader(const char* path) {
    return Real<BEWRITEVBRHEADER>(TEXT_BEWRITEVBRHEADER)(path);
}
