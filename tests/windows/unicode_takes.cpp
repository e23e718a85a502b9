// Drives the running Voxmere.exe from another process as a person would, on an output file
// whose name holds accents, CJK and a character beyond the BMP:
//   unicode_takes FOLDER
// Browse, type FOLDER\NAME, Save; a 3 s take; Start again must ask before replacing it, No
// must leave the first take byte for byte, Yes must replace it with a second 3 s take; the
// folder then holds exactly one MP3, under exactly that name. Closes the window at the end.
// Prints each step; status 0 when every check held. Run under the same Wine server as
// Voxmere.exe, with its window shown.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "outside_window.h"
#include "text_conversion.h"

namespace {
using namespace std::chrono_literals;

const wchar_t kName[] = L"\u00C9t\u00E9 \u00DCn\u00EFcode \u9332\u97F3 \U0001F399.mp3";
constexpr int kStartStop = IDOK;
constexpr int kOutputBox = 1001;
constexpr int kBrowse = 1002;

HWND g_main = nullptr;
DWORD g_process = 0;

std::vector<HWND> OtherWindows() {
    std::vector<HWND> all;
    EnumWindows(
        [](HWND window, LPARAM list) {
            reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&all));
    std::vector<HWND> found;
    for (HWND window : all) {
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        if (process == g_process && window != g_main && IsWindowVisible(window))
            found.push_back(window);
    }
    return found;
}

HWND WaitFor(const std::function<HWND()>& find, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    do {
        if (HWND found = find())
            return found;
        std::this_thread::sleep_for(50ms);
    } while (std::chrono::steady_clock::now() < deadline);
    return nullptr;
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    return WaitFor([&] { return done() ? g_main : nullptr; }, limit) != nullptr;
}

// A click as the button itself reports it to its dialog.
void Press(HWND dialog, int id) {
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

std::wstring Caption() {
    return TextOf(GetDlgItem(g_main, kStartStop));
}

// The save dialog's name field: the edit box that holds the proposed name.
HWND NameField() {
    for (HWND dialog : OtherWindows()) {
        for (HWND child : Descendants(dialog)) {
            if (ClassOf(child) == L"Edit" && IsWindowVisible(child) &&
                TextOf(child).rfind(L"RecordedAudio", 0) == 0)
                return child;
        }
    }
    return nullptr;
}

// The replace question: a dialog of Voxmere's with a No button.
HWND Question() {
    for (HWND dialog : OtherWindows()) {
        if (GetDlgItem(dialog, IDNO) != nullptr)
            return dialog;
    }
    return nullptr;
}

std::vector<char> ReadAll(const std::wstring& path) {
    std::vector<char> bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return bytes;
    char block[65536];
    DWORD got = 0;
    while (ReadFile(file, block, sizeof(block), &got, nullptr) && got > 0)
        bytes.insert(bytes.end(), block, block + got);
    CloseHandle(file);
    return bytes;
}

int g_failures = 0;
bool Check(bool ok, const char* what) {
    std::printf("%s %s\n", ok ? "ok:  " : "FAIL:", what);
    std::fflush(stdout);
    g_failures += ok ? 0 : 1;
    return ok;
}

// One take: Start, 3 s, Stop; true once the button reads Start Recording again.
bool Take(HWND question, int answer) {
    if (question != nullptr)
        Press(question, answer);
    if (!WaitUntil([] { return Caption() == L"Stop Recording"; }, 10s))
        return false;
    std::this_thread::sleep_for(3s);
    Press(g_main, kStartStop);
    return WaitUntil([] { return Caption() == L"Start Recording"; }, 15s);
}
}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    const std::string folderText = argv[1];  // ASCII: the caller's scratch folder
    const std::wstring folder(folderText.begin(), folderText.end());
    const std::wstring path = folder + L"\\" + kName;

    g_main = WaitFor(
        [] {
            HWND window = FindWindowW(nullptr, L"Voxmere");
            return window != nullptr && GetDlgItem(window, kBrowse) != nullptr ? window : nullptr;
        },
        30s);
    if (!Check(g_main != nullptr, "the Voxmere window is shown"))
        return 1;
    GetWindowThreadProcessId(g_main, &g_process);

    Press(g_main, kBrowse);
    HWND nameField = WaitFor(NameField, 15s);
    if (!Check(nameField != nullptr, "Browse opens the save dialog with the name RecordedAudio"))
        return 1;
    SendMessageW(nameField, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
    Press(GetAncestor(nameField, GA_ROOT), IDOK);
    if (!Check(WaitUntil([&] { return TextOf(GetDlgItem(g_main, kOutputBox)) == path; }, 15s),
               "Save puts the whole name in the output box"))
        return 1;

    Press(g_main, kStartStop);
    if (!Check(Take(nullptr, 0), "first take: Start, 3 s, Stop"))
        return 1;
    const std::vector<char> first = ReadAll(path);
    if (!Check(!first.empty(), "the first take is in the file"))
        return 1;

    Press(g_main, kStartStop);
    WaitUntil([] { return Question() != nullptr || Caption() != L"Start Recording"; }, 10s);
    HWND question = Question();
    if (!Check(question != nullptr, "Start again asks before replacing the take")) {
        if (Caption() == L"Stop Recording")
            Press(g_main, kStartStop);
        return 1;
    }
    std::wstring texts = TextOf(question);
    for (HWND child : Descendants(question))
        texts += L"\n" + TextOf(child);
    if (!Check(texts.find(L"already exists") != std::wstring::npos && texts.find(kName) != std::wstring::npos,
               "the question names the file and says it already exists"))
        std::printf("  the question shows: %s\n", ToUtf8(texts).c_str());
    Press(question, IDNO);
    Check(WaitUntil([] { return Question() == nullptr; }, 10s), "No closes the question");
    std::this_thread::sleep_for(1s);
    Check(Caption() == L"Start Recording", "No starts no recording");
    Check(ReadAll(path) == first, "No keeps the first take byte for byte");

    Press(g_main, kStartStop);
    question = WaitFor(Question, 10s);
    if (!Check(question != nullptr, "Start asks again"))
        return 1;
    if (!Check(Take(question, IDYES), "Yes: a second take of 3 s"))
        return 1;
    const std::vector<char> second = ReadAll(path);
    Check(!second.empty() && second != first, "Yes replaces the first take");

    WIN32_FIND_DATAW entry = {};
    std::vector<std::wstring> mp3s;
    HANDLE search = FindFirstFileW((folder + L"\\*.mp3").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            mp3s.push_back(entry.cFileName);
        } while (FindNextFileW(search, &entry));
        FindClose(search);
    }
    Check(mp3s.size() == 1 && mp3s[0] == kName, "the folder holds one MP3, under exactly that name");

    PostMessageW(g_main, WM_CLOSE, 0, 0);
    return g_failures == 0 ? 0 : 1;
}
