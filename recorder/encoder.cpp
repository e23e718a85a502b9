#include "encoder.h"

#include <cerrno>
#include <cstring>

#include "dynamic_library.h"
#include "encoder_config.h"
#include "failure.h"
#include "output_file.h"
#include "text_conversion.h"

const char* g_pszEncoderLibrary = "lame_enc" DYNAMIC_LIBRARY_SUFFIX;

int g_bEncoderLoaded = 0;
EncoderApi g_EncoderApi = {};
BE_CONFIG g_EncoderConfig = {};
DWORD g_dwEncoderSamples = 0;
DWORD g_dwEncoderBufferSize = 0;
HBE_STREAM g_hbeStream = 0;
FILE* g_pOutputFile = nullptr;

namespace {
// Whether g_hbeStream is an open stream. Handle values are the module's business (0 may be
// valid), so openness is kept apart from the handle.
bool g_bStreamOpen = false;
// Set once the stream has taken a chunk. A stream that took none holds nothing worth
// flushing: its flush is a frame of silence, which would turn a take that recorded nothing
// into a file that looks like a recording.
bool g_bStreamFed = false;
// Set by a failed write: nothing more is appended, so the file ends with the last whole
// chunk rather than a tail that no longer follows on from it.
bool g_bOutputFailed = false;
std::string g_outputPathUtf8;  // for messages about the open output file

template <typename Fn>
Fn Resolve(DynamicLibrary module, const char* name) {
    return reinterpret_cast<Fn>(FindLibrarySymbol(module, name));
}
}  // namespace

int LoadEncoder() {
    if (g_bEncoderLoaded == 1)
        return 1;

    std::string why;
    const DynamicLibrary module = OpenLibrary(g_pszEncoderLibrary, why);
    if (module == nullptr) {
        RecordFailure("The MP3 encoder could not be loaded: " + why);
        return 0;
    }

    // Every name is looked up whatever the outcome of the ones before, so the message can
    // name all that are missing.
    g_EncoderApi.beInitStream = Resolve<BEINITSTREAM>(module, TEXT_BEINITSTREAM);
    g_EncoderApi.beEncodeChunk = Resolve<BEENCODECHUNK>(module, TEXT_BEENCODECHUNK);
    g_EncoderApi.beDeinitStream = Resolve<BEDEINITSTREAM>(module, TEXT_BEDEINITSTREAM);
    g_EncoderApi.beCloseStream = Resolve<BECLOSESTREAM>(module, TEXT_BECLOSESTREAM);
    g_EncoderApi.beVersion = Resolve<BEVERSION>(module, TEXT_BEVERSION);
    g_EncoderApi.beWriteVBRHeader = Resolve<BEWRITEVBRHEADER>(module, TEXT_BEWRITEVBRHEADER);

    std::string missing;
    const std::pair<const void*, const char*> entries[] = {
        {reinterpret_cast<const void*>(g_EncoderApi.beInitStream), TEXT_BEINITSTREAM},
        {reinterpret_cast<const void*>(g_EncoderApi.beEncodeChunk), TEXT_BEENCODECHUNK},
        {reinterpret_cast<const void*>(g_EncoderApi.beDeinitStream), TEXT_BEDEINITSTREAM},
        {reinterpret_cast<const void*>(g_EncoderApi.beCloseStream), TEXT_BECLOSESTREAM},
        {reinterpret_cast<const void*>(g_EncoderApi.beVersion), TEXT_BEVERSION},
        {reinterpret_cast<const void*>(g_EncoderApi.beWriteVBRHeader), TEXT_BEWRITEVBRHEADER},
    };
    for (const auto& [address, name] : entries) {
        if (address == nullptr)
            missing += std::string(missing.empty() ? "" : ", ") + name;
    }
    if (missing.empty()) {
        // The module stays loaded for the rest of the process; its handle is not needed again.
        g_bEncoderLoaded = 1;
        return 1;
    }

    // Released, and nothing of it kept: the next session loads it afresh.
    g_EncoderApi = {};
    CloseLibrary(module);
    RecordFailure(std::string("The MP3 encoder ") + g_pszEncoderLibrary + " lacks " + missing + ".");
    return 0;
}

int OpenEncoder(DWORD bitrate, DWORD sampleRate, DWORD reSampleRate, const std::wstring& path) {
    if (LoadEncoder() == 0)
        return 0;  // before the file: an existing recording stays untouched

    g_outputPathUtf8 = ToUtf8(path);
    g_bOutputFailed = false;
    int result = 1;
    OutputFileError why;
    // The wide name itself reaches the system on Windows: no conversion can change the file.
    g_pOutputFile = OpenOutputFile(PathFromWide(path), &why);
    if (g_pOutputFile == nullptr) {
        RecordFailure(why.busy ? "Cannot record to \"" + g_outputPathUtf8 +
                                     "\": the file is being recorded by another Voxmere window. "
                                     "Choose another file, or stop that recording first."
                               : "Cannot create \"" + g_outputPathUtf8 + "\": " + why.text);
        result = 0;
    }

    g_dwEncoderSamples = 0;
    g_dwEncoderBufferSize = 0;
    g_hbeStream = 0;

    g_EncoderConfig = BuildEncoderConfig(bitrate, sampleRate, reSampleRate);

    const BE_ERR err = g_EncoderApi.beInitStream(&g_EncoderConfig, &g_dwEncoderSamples,
                                                 &g_dwEncoderBufferSize, &g_hbeStream);
    g_bStreamOpen = err == BE_ERR_SUCCESSFUL;
    g_bStreamFed = false;
    if (!g_bStreamOpen) {
        RecordFailure("The MP3 encoder refused " + std::to_string(bitrate) + " kbps at " +
                      std::to_string(sampleRate) + " Hz (error " + std::to_string(err) + ").");
        result = 0;
    }
    return result;
}

BE_ERR EncodeChunk(const short* pcm, DWORD nSamples, unsigned char* out, DWORD* outBytes) {
    if (!g_bStreamOpen) {
        *outBytes = 0;
        return BE_ERR_INVALID_HANDLE;
    }
    g_bStreamFed = true;
    return g_EncoderApi.beEncodeChunk(g_hbeStream, nSamples, pcm, out, outBytes);
}

int AppendToOutput(const unsigned char* bytes, DWORD count) {
    if (g_pOutputFile == nullptr || count == 0)
        return 1;
    if (g_bOutputFailed)
        return 0;
    // Handed to the operating system at once: a killed process leaves a playable file, and a
    // full disk shows up on the chunk that hit it.
    std::string why;
    if (WriteOutputFile(g_pOutputFile, bytes, count, &why))
        return 1;
    g_bOutputFailed = true;
    RecordFailure("Writing \"" + g_outputPathUtf8 + "\" failed: " + why);
    return 0;
}

void CloseEncoder() {
    if (g_bStreamOpen) {
        // The flush holds the last frames the encoder kept back (up to about a second at
        // low rates); without it they would be lost. Only after a chunk, so a session that
        // encoded nothing leaves its file empty.
        unsigned char tail[7200 * 2];
        DWORD tailBytes = 0;
        if (g_bStreamFed && g_EncoderApi.beDeinitStream(g_hbeStream, tail, &tailBytes) == BE_ERR_SUCCESSFUL) {
            AppendToOutput(tail, tailBytes);
        }
        g_EncoderApi.beCloseStream(g_hbeStream);
        g_bStreamOpen = false;
    }
    if (g_pOutputFile != nullptr) {
        if (CloseOutputFile(g_pOutputFile) != 0) {
            RecordFailure("Closing \"" + g_outputPathUtf8 + "\" failed: " + std::strerror(errno));
        }
        g_pOutputFile = nullptr;
    }
}
