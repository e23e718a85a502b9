#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "output_file.h"

namespace {
// The memory devices /dev/null, /dev/zero and /dev/full: they take or refuse a write at once.
bool IsMemoryDevice(const struct stat& info) {
    return S_ISCHR(info.st_mode) && major(info.st_rdev) == 1 &&
           (minor(info.st_rdev) == 3 || minor(info.st_rdev) == 5 || minor(info.st_rdev) == 7);
}

// Why a file of this kind cannot take a recording, or null when it can. A pipe or socket
// blocks a write once no one reads it, and a device may block or be a disk: either would
// hold up the recording (and the Stop behind it) for as long as it pleases.
const char* Unrecordable(const struct stat& info) {
    if (S_ISREG(info.st_mode) || IsMemoryDevice(info))
        return nullptr;
    if (S_ISFIFO(info.st_mode))
        return "it is a named pipe, not a file";
    if (S_ISSOCK(info.st_mode))
        return "it is a socket, not a file";
    return "it is a device, not a file";
}
}  // namespace

FILE* OpenOutputFile(const std::filesystem::path& path, OutputFileError* error) {
    *error = {};
    // No O_TRUNC: the file may be another session's recording, and is only cut once the lock
    // is ours. O_CLOEXEC: a child started later (the browser for the Website button) must not
    // keep the lock alive after the session closes the file. O_NONBLOCK: a named pipe with no
    // reader (or a device waiting for a line) would block this open for ever; it fails or
    // returns at once instead, and what it opened is looked at before anything is written.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd < 0) {
        const int why = errno;
        struct stat info = {};
        // A pipe without a reader and a socket both fail with ENXIO: name what they are.
        const char* kind = why == ENXIO && ::stat(path.c_str(), &info) == 0 ? Unrecordable(info) : nullptr;
        error->text = kind != nullptr ? kind : std::strerror(why);
        return nullptr;
    }
    struct stat info = {};
    if (::fstat(fd, &info) != 0) {
        error->text = std::strerror(errno);
        ::close(fd);
        return nullptr;
    }
    if (const char* kind = Unrecordable(info)) {
        error->text = kind;
        ::close(fd);
        return nullptr;
    }
    // flock, not fcntl: an fcntl lock belongs to the process, so a second session in the same
    // process would be granted it; flock locks the open file, whoever opened it.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int why = errno;
        ::close(fd);
        if (why == EWOULDBLOCK)
            error->busy = true;
        else
            error->text = std::strerror(why);
        return nullptr;
    }
    // O_NONBLOCK goes before anything is written: on a file held by a lock or on a network
    // file system it could turn a write that waits into a failure. Only a regular file has a
    // length to cut: /dev/null and /dev/full are written as they are.
    FILE* stream = nullptr;
    if (::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) == 0 &&
        (!S_ISREG(info.st_mode) || ::ftruncate(fd, 0) == 0))
        stream = ::fdopen(fd, "wb");
    if (stream == nullptr) {
        error->text = std::strerror(errno);
        ::close(fd);
    }
    return stream;
}

bool WriteOutputFile(FILE* stream, const void* bytes, size_t count, std::string* why) {
    if (std::fwrite(bytes, count, 1, stream) == 1 && std::fflush(stream) == 0)
        return true;
    *why = std::strerror(errno);
    return false;
}

int CloseOutputFile(FILE* stream) {
    return std::fclose(stream);  // the lock goes with the open file
}
