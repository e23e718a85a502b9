// The engine's binding to a BladeEnc-compatible MP3 encoder module and the session's output
// file. Loaded at run time: the engine links no encoder.
//
// Threads: OpenEncoder and CloseEncoder run on the session's worker; EncodeChunk and the
// writes to g_pOutputFile run on the capture notification thread under g_hCaptureMutex. The
// session's order (open the encoder before capture, close capture before the encoder) keeps
// them apart; nothing here takes a lock.
#pragma once

#include <cstdio>
#include <string>

#include "bladeenc.h"
#include "dword.h"

struct EncoderApi {
    BEINITSTREAM beInitStream;
    BEENCODECHUNK beEncodeChunk;
    BEDEINITSTREAM beDeinitStream;
    BECLOSESTREAM beCloseStream;
    BEVERSION beVersion;
    BEWRITEVBRHEADER beWriteVBRHeader;
};

// The module's file name, looked up where the program's own libraries are (beside the
// executable; see dynamic_library.h). A name with a slash is loaded from that path; the tests
// point it at modules of their own.
extern const char* g_pszEncoderLibrary;

extern int g_bEncoderLoaded;  // 1 once the module is loaded with all six entry points; never reset
extern EncoderApi g_EncoderApi;
extern BE_CONFIG g_EncoderConfig;  // rebuilt from zero by every OpenEncoder
extern DWORD g_dwEncoderSamples;
extern DWORD g_dwEncoderBufferSize;
extern HBE_STREAM g_hbeStream;
extern FILE* g_pOutputFile;  // the session's output, or null

// Loads the module once per process and resolves its six entry points. A module lacking any
// of them is released, and the next call tries again. 1 on success, else 0 with the cause
// recorded as the session's failure.
int LoadEncoder();

// Loads the module, creates or truncates the output file, builds g_EncoderConfig for CBR
// joint stereo at bitrate kbit/s and opens an encoder stream. With the module missing the
// file is not touched. 1 when both the stream and the file are open; else 0, with the cause
// (the path or module and the system's or library's words) recorded as the session's
// failure. Whatever is open stays open until CloseEncoder.
int OpenEncoder(DWORD bitrate, DWORD sampleRate, DWORD reSampleRate, const std::wstring& path);

// Encodes nSamples interleaved 16-bit values (both channels counted) into out and stores the
// byte count in *outBytes: always set, 0 when nothing was produced or no stream is open (no
// call into the module then). Returns the module's result; BE_ERR_INVALID_HANDLE without a
// stream. For up to 88200 values the output never exceeds 705600 bytes.
BE_ERR EncodeChunk(const short* pcm, DWORD nSamples, unsigned char* out, DWORD* outBytes);

// Flushes what the encoder still holds into the file (only when it was given at least one
// chunk: a session that encoded nothing leaves an empty file), closes the stream, then the
// file. Only what is open is closed; safe to call when nothing is.
void CloseEncoder();

// Appends one encoded chunk to g_pOutputFile and hands it to the operating system at once,
// so a killed process loses at most the chunk in flight. 1 when all bytes were written (or
// there were none); 0 with the path and the system's words recorded as the session's failure.
int AppendToOutput(const unsigned char* bytes, DWORD count);
