#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <mutex>

#include "output_file.h"
#include "system_text_win32.h"

namespace {
// A session's claim on its file: a named mutex that exists exactly while some Voxmere session,
// in any process of this logon session, holds the file open for recording. The sharing lock
// alone cannot say who holds a file: a player, a search indexer or a virus scanner that has
// it open is refused the same way.
std::mutex g_claimsLock;
std::map<FILE*, HANDLE> g_claims;

// The claim's name for the file open in handle: its volume and file index, so every spelling
// of the path (relative, short 8.3, another case, a hard link) gives the same name. Empty
// when the file system has no such identity (a device such as NUL).
std::wstring ClaimName(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info = {};
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info))
        return {};
    wchar_t name[80];
    std::swprintf(name, sizeof(name) / sizeof(name[0]), L"Local\\Voxmere.recording.%08lX.%08lX%08lX",
                  info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow);
    return name;
}

// Whether a Voxmere session holds the file at path. Asks for no access to the file's data,
// which sharing never refuses, only for its identity.
bool ClaimedByVoxmere(const std::filesystem::path& path) {
    HANDLE file = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    const std::wstring name = ClaimName(file);
    CloseHandle(file);
    if (name.empty())
        return false;
    HANDLE claim = OpenMutexW(SYNCHRONIZE, FALSE, name.c_str());
    if (claim == nullptr)
        return false;
    CloseHandle(claim);
    return true;
}
}  // namespace

FILE* OpenOutputFile(const std::filesystem::path& path, OutputFileError* error) {
    *error = {};
    // Sharing read but not write is the lock: while this handle is open every other open for
    // writing fails with a sharing violation, in this process or another. OPEN_ALWAYS keeps
    // an existing file whole until the handle is ours; the handle is not inheritable.
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD why = GetLastError();
        if ((why == ERROR_SHARING_VIOLATION || why == ERROR_LOCK_VIOLATION) && ClaimedByVoxmere(path))
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
    // Claimed only once the lock is ours, so a claim never stands for a file this session does
    // not hold. A claim a session closing the same file has not yet given up is shared,
    // harmlessly: it goes once neither holds it.
    const std::wstring name = ClaimName(file);
    HANDLE claim = name.empty() ? nullptr : CreateMutexW(nullptr, FALSE, name.c_str());
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_WRONLY | _O_BINARY);
    FILE* stream = fd < 0 ? nullptr : _fdopen(fd, "wb");
    if (stream == nullptr) {
        error->text = "cannot attach a stream to the file";
        if (fd < 0)
            CloseHandle(file);
        else
            _close(fd);  // closes the handle too
        if (claim != nullptr)
            CloseHandle(claim);
        return nullptr;
    }
    if (claim != nullptr) {
        std::lock_guard<std::mutex> lock(g_claimsLock);
        g_claims[stream] = claim;
    }
    return stream;
}

// Past the stream, to its handle: the C library words a failed write in errno's few words
// (a full disk comes out as "Invalid argument"), and only the failing WriteFile's own error
// gives the system's. The stream's buffer is never used, so its close has nothing to write.
bool WriteOutputFile(FILE* stream, const void* bytes, size_t count, std::string* why) {
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    const auto* next = static_cast<const char*>(bytes);
    while (count > 0) {
        DWORD written = 0;
        const auto chunk = static_cast<DWORD>(std::min<size_t>(count, MAXDWORD));
        if (!WriteFile(handle, next, chunk, &written, nullptr)) {
            *why = SystemErrorText(GetLastError());
            return false;
        }
        // A write to a disk that has room for some of the bytes takes those and succeeds; the
        // next one fails with the cause. One that takes nothing and succeeds has no room left.
        if (written == 0) {
            *why = SystemErrorText(ERROR_DISK_FULL);
            return false;
        }
        next += written;
        count -= written;
    }
    return true;
}

int CloseOutputFile(FILE* stream) {
    const int result = std::fclose(stream);
    // After the file: a claim must never be missing while the file is still held.
    HANDLE claim = nullptr;
    {
        std::lock_guard<std::mutex> lock(g_claimsLock);
        const auto found = g_claims.find(stream);
        if (found != g_claims.end()) {
            claim = found->second;
            g_claims.erase(found);
        }
    }
    if (claim != nullptr)
        CloseHandle(claim);
    return result;
}
