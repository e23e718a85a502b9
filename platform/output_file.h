// The recording's output file, one writer at a time.
//
// A session's file is locked exclusively from before it is truncated until it is closed, so
// a second session (in this process or another) that picks the same path is refused before
// it can wipe or interleave with the recording in progress. The lock binds writers only:
// players and copy tools can read the file while it grows.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>

struct OutputFileError {
    bool busy = false;  // another Voxmere session holds the file, in this process or another
    std::string text;   // the system's words when the open failed for another reason
};

// Creates path, or opens the existing file without touching its contents, takes the
// exclusive lock and only then truncates it to zero length. Returns the stream, positioned at
// the start, or null with *error filled: busy when another session holds the lock (the file
// is then untouched), otherwise the system's words ("No such file or directory", "Is a
// directory", "Permission denied"; on Windows also for a file another program holds open).
// The lock lasts until CloseOutputFile; no child process inherits it.
// A named pipe is refused at once, without waiting for a reader and without a byte written:
// its writes could hold up the recording (and the Stop behind it) for ever. On POSIX so is a
// socket and every device but /dev/null, /dev/zero and /dev/full; on Windows a device (NUL)
// is written as it is.
FILE* OpenOutputFile(const std::filesystem::path& path, OutputFileError* error);

// Appends count bytes to a stream OpenOutputFile returned and hands them to the operating
// system at once: nothing stays in the stream's buffer, so a killed process loses nothing
// appended. true when every byte was taken; else false with *why the system's words for the
// call that failed ("No space left on device"; on Windows FormatMessage's for the failing
// WriteFile's error: "There is not enough space on the disk"). Part of the bytes may have
// been written then.
bool WriteOutputFile(FILE* stream, const void* bytes, size_t count, std::string* why);

// Closes a stream OpenOutputFile returned and gives up its lock; fclose's result.
int CloseOutputFile(FILE* stream);
