// Prints the texts a person sees in the windows titled TITLE, one line each: the title, then
// the text of every control in them, in creation order. Run under the same Wine server as the
// program it looks at; it sees every process's windows.
//   window_texts TITLE
// Status 0 when a window of that title is shown, 1 when none is.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {
std::string Utf8(const std::wstring& text) {
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(bytes > 0 ? bytes - 1 : 0, '\0');
    if (bytes > 1)
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), bytes, nullptr, nullptr);
    return out;
}

std::wstring TextOf(HWND window) {
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

struct Search {
    std::wstring title;
    std::vector<HWND> found;
};

BOOL CALLBACK OnTopLevel(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<Search*>(context);
    if (IsWindowVisible(window) && TextOf(window) == search->title)
        search->found.push_back(window);
    return TRUE;
}

BOOL CALLBACK OnChild(HWND window, LPARAM) {
    const std::wstring text = TextOf(window);
    if (!text.empty())
        std::printf("  %s\n", Utf8(text).c_str());
    return TRUE;
}
}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s TITLE\n", argv[0]);
        return 2;
    }
    Search search;
    const std::string title = argv[1];
    search.title.assign(title.begin(), title.end());
    EnumWindows(OnTopLevel, reinterpret_cast<LPARAM>(&search));
    for (HWND window : search.found) {
        std::printf("%s\n", title.c_str());
        EnumChildWindows(window, OnChild, 0);
    }
    return search.found.empty() ? 1 : 0;
}
