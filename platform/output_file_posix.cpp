#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "output_file.h"

FILE* OpenOutputFile(const std::filesystem::path& path, OutputFileError* error) {
    *error = {};
    // No O_TRUNC: the file may be another session's recording, and is only cut once the lock
    // is ours. O_CLOEXEC: a child started later (the browser for the Website button) must not
    // keep the lock alive after the session closes the file.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        error->text = std::strerror(errno);
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
    // Only a regular file has a length to cut: a device (/dev/null, /dev/full) or a FIFO is
    // written as it is, as fopen's "wb" would.
    struct stat info = {};
    FILE* stream = nullptr;
    if (::fstat(fd, &info) == 0 && (!S_ISREG(info.st_mode) || ::ftruncate(fd, 0) == 0))
        stream = ::fdopen(fd, "wb");
    if (stream == nullptr) {
        error->text = std::strerror(errno);
        ::close(fd);
    }
    return stream;
}

int CloseOutputFile(FILE* stream) {
    return std::fclose(stream);  // the lock goes with the open file
}
