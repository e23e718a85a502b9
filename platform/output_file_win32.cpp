#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include "output_file.h"
#include "system_text_win32.h"

FILE* OpenOutputFile(const std::filesystem::path& path, OutputFileError* error) {
    *error = {};
    // Sharing read but not write is the lock: while this handle is open every other open for
    // writing fails with a sharing violation, in this process or another. OPEN_ALWAYS keeps
    // an existing file whole until the handle is ours; the handle is not inheritable.
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD why = GetLastError();
        if (why == ERROR_SHARING_VIOLATION || why == ERROR_LOCK_VIOLATION)
            error->busy = true;
        else
            error->text = SystemErrorText(why);
        return nullptr;
    }
    // A pipe's writes wait for its reader, which may never read: refused before a byte goes.
    if (GetFileType(file) == FILE_TYPE_PIPE) {
        error->text = "it is a named pipe, not a file";
        CloseHandle(file);
        return nullptr;
    }
    // Only a file on disk has a length to cut; a device (NUL) is written as it is.
    if (GetFileType(file) == FILE_TYPE_DISK && !SetEndOfFile(file)) {
        error->text = SystemErrorText(GetLastError());
        CloseHandle(file);
        return nullptr;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_WRONLY | _O_BINARY);
    if (fd < 0) {
        error->text = "cannot attach a stream to the file";
        CloseHandle(file);
        return nullptr;
    }
    FILE* stream = _fdopen(fd, "wb");
    if (stream == nullptr) {
        error->text = "cannot attach a stream to the file";
        _close(fd);  // closes the handle too
    }
    return stream;
}
