// Reads the running Voxmere.exe from another process, the way Windows tools and screen readers
// read a window, and holds it against what the dialog manager makes of the window's template
// (window_from_outside.rc, created here as a hidden dialog): the window's styles and size; each
// control's class, id, text and rectangle in dialog units of the template's font (within one);
// the labels' z-order; the tab order; both lists and their selections; the " ?" and About
// boxes, pressed with BM_CLICK (caption, one text byte for byte, one OK button, and an About
// address that leads to a file that exists); the save dialog's name and filter.
//   window_from_outside
// Run under the same Wine server as Voxmere.exe, while its window is shown and idle. Prints a
// line per check; status 0 when all passed.
#include <windows.h>
// After windows.h, which it needs.
#include <mmsystem.h>

#include <cmath>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "outside_window.h"
#include "text_conversion.h"

namespace {

const wchar_t kHelpText[] =
    L"If you are unable to record then you need to select the line of source - \n\n - Double click on the "
    L"volume icon in the tray\n\n - Goto Options - Properties - Recording - Ok \n\n - Select the source of "
    L"recoding \n\n - Close and try your recording again";
const wchar_t kAboutStart[] = L"This software is owned by " VOXMERE_OWNER L" (";
const wchar_t kAboutEnd[] = L") and uses the LAME MP3 encoder (https://lame.sourceforge.io).";
const wchar_t* const kBitRates[] = {L"16 Kbps", L"32 Kbps",  L"48 Kbps",  L"64 Kbps",
                                    L"96 Kbps", L"128 Kbps", L"160 Kbps", L"256 Kbps"};
constexpr int kTabOrder[] = {1000, 1001, 1002, 1003, 1004, 1005, 1006, 1};
const struct {
    const wchar_t* label;
    int field;
} kLabels[] = {{L"Input :", 1000}, {L"Output :", 1001}, {L"Bit Rate :", 1003}};

int g_failures = 0;

// A text as a quoted line, its line feeds shown as \n.
std::string Quoted(const std::wstring& text) {
    std::string out = "\"";
    for (char c : ToUtf8(text))
        out += c == '\n' ? std::string("\\n") : std::string(1, c);
    return out + "\"";
}

void Check(bool passed, const std::string& what, const std::string& detail = {}) {
    std::printf("%s %s%s%s\n", passed ? "PASS" : "FAIL", what.c_str(), detail.empty() ? "" : ": ",
                detail.c_str());
    std::fflush(stdout);
    if (!passed)
        ++g_failures;
}

LRESULT Ask(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
    DWORD_PTR result = 0;
    SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, 5000, &result);
    return static_cast<LRESULT>(result);
}

std::vector<std::wstring> Entries(HWND list) {
    std::vector<std::wstring> entries;
    const auto count = static_cast<int>(Ask(list, CB_GETCOUNT));
    for (int i = 0; i < count; ++i) {
        const LRESULT length = Ask(list, CB_GETLBTEXTLEN, i);
        std::wstring entry(length > 0 ? static_cast<size_t>(length) + 1 : 1, L'\0');
        const LRESULT copied = Ask(list, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(entry.data()));
        entry.resize(copied > 0 && copied < static_cast<LRESULT>(entry.size()) ? static_cast<size_t>(copied)
                                                                               : 0);
        entries.push_back(entry);
    }
    return entries;
}

// The first window that found gives within 10 s, or null.
template <typename Find>
HWND WaitFor(Find found) {
    for (int i = 0; i < 100; ++i) {
        if (HWND window = found())
            return window;
        Sleep(100);
    }
    return nullptr;
}

struct TopLevel {
    HWND owner;  // the windows owned by this one (null: Voxmere's main window, not a box of its)
    HWND found = nullptr;
};

BOOL CALLBACK OnTopLevel(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<TopLevel*>(context);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    const bool wanted = search->owner != nullptr
                            ? GetWindow(window, GW_OWNER) == search->owner
                            : process != GetCurrentProcessId() && ClassOf(window) == L"#32770" &&
                                  TextOf(window) == L"Voxmere" && GetDlgItem(window, 1000) != nullptr;
    if (!IsWindowVisible(window) || !wanted)
        return TRUE;
    search->found = window;
    return FALSE;
}

HWND Owned(HWND owner) {
    TopLevel search{owner};
    EnumWindows(OnTopLevel, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Presses the button with BM_CLICK, posted: the box it opens runs inside the click, so a sent
// click would not return until the box had gone. Returns the window it opened, or null.
HWND Press(HWND dialog, int id) {
    PostMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
    return WaitFor([&] { return Owned(dialog); });
}

bool Dismiss(HWND box, int command) {
    PostMessageW(box, WM_COMMAND, command, 0);
    return WaitFor([&] { return IsWindow(box) ? nullptr : box; }) != nullptr;
}

// A message box: its caption, its texts (statics that show one) and its buttons' captions.
struct Box {
    std::wstring caption;
    std::vector<std::wstring> texts;
    std::vector<std::wstring> buttons;
};
Box Read(HWND box) {
    Box read{TextOf(box), {}, {}};
    for (HWND child : Descendants(box)) {
        if (!IsWindowVisible(child))
            continue;
        const std::wstring text = TextOf(child);
        if (ClassOf(child) == L"Static" && !text.empty())
            read.texts.push_back(text);
        else if (ClassOf(child) == L"Button")
            read.buttons.push_back(text);
    }
    return read;
}

void CheckBox(const char* what, const Box& box, const std::wstring& caption, const std::wstring* text) {
    Check(box.caption == caption, std::string(what) + " caption", Quoted(box.caption));
    Check(box.texts.size() == 1 && (text == nullptr || box.texts[0] == *text),
          std::string(what) + " one text",
          box.texts.empty() ? "none" : Quoted(box.texts[0]) + " of " + std::to_string(box.texts.size()));
    Check(box.buttons.size() == 1 && box.buttons[0] == L"OK", std::string(what) + " one OK button");
}

// The file a file:/// address names, or nothing for any other address.
std::wstring FileOf(const std::wstring& address) {
    const std::wstring scheme = L"file:///";
    if (address.compare(0, scheme.size(), scheme) != 0)
        return {};
    std::string bytes;
    for (size_t i = scheme.size(); i < address.size(); ++i) {
        if (address[i] == L'%' && i + 2 < address.size()) {
            bytes += static_cast<char>(std::wcstol(address.substr(i + 1, 2).c_str(), nullptr, 16));
            i += 2;
        } else {
            bytes += address[i] == L'/' ? std::string("\\") : ToUtf8(address.substr(i, 1));
        }
    }
    return FromUtf8(bytes);
}

// The name of the program that made window, without its folder and extension.
std::wstring ProgramOf(HWND window) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    wchar_t path[MAX_PATH] = {};
    DWORD size = MAX_PATH;
    HANDLE handle = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process);
    if (handle == nullptr || !QueryFullProcessImageNameW(handle, 0, path, &size))
        size = 0;
    if (handle != nullptr)
        CloseHandle(handle);
    std::wstring name(path, size);
    name.erase(0, name.find_last_of(L"\\/") + 1);
    return name.substr(0, name.find_last_of(L'.'));
}

// A rectangle in dialog units: pixels in the dialog's client area, converted with the base
// units the dialog manager gives the template's font.
struct Units {
    double left, top, width, height;
};
struct Converter {
    int baseX, baseY;
    Units operator()(HWND control, HWND dialog) const {
        RECT rect{};
        GetWindowRect(control, &rect);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
        return (*this)(rect);
    }
    Units operator()(const RECT& rect) const {
        return {rect.left * 4.0 / baseX, rect.top * 8.0 / baseY, (rect.right - rect.left) * 4.0 / baseX,
                (rect.bottom - rect.top) * 8.0 / baseY};
    }
};
bool Within1(const Units& a, const Units& b) {
    return std::fabs(a.left - b.left) <= 1 && std::fabs(a.top - b.top) <= 1 &&
           std::fabs(a.width - b.width) <= 1 && std::fabs(a.height - b.height) <= 1;
}
std::string Hex(DWORD value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lx", static_cast<unsigned long>(value));
    return text;
}

std::string Shown(const Units& units) {
    char text[80];
    std::snprintf(text, sizeof text, "%.1f,%.1f %.1fx%.1f", units.left, units.top, units.width, units.height);
    return text;
}

void CheckControls(HWND window, HWND reference, const Converter& units) {
    for (HWND model = GetWindow(reference, GW_CHILD); model != nullptr;
         model = GetWindow(model, GW_HWNDNEXT)) {
        const int id = GetDlgCtrlID(model);
        const std::wstring caption = TextOf(model);
        HWND control = nullptr;
        for (HWND child = GetWindow(window, GW_CHILD); child != nullptr && control == nullptr;
             child = GetWindow(child, GW_HWNDNEXT)) {
            if (id != -1 ? GetDlgCtrlID(child) == id
                         : ClassOf(child) == L"Static" && TextOf(child) == caption)
                control = child;
        }
        const std::string name = id != -1 ? std::to_string(id) : Quoted(caption);
        if (control == nullptr) {
            Check(false, "control " + name, "missing");
            continue;
        }
        Check(_wcsicmp(ClassOf(control).c_str(), ClassOf(model).c_str()) == 0 && GetDlgCtrlID(control) == id,
              "control " + name + " class and id",
              ToUtf8(ClassOf(control)) + " " + std::to_string(GetDlgCtrlID(control)));
        if (ClassOf(model) == L"Button" || ClassOf(model) == L"Static")
            Check(TextOf(control) == caption, "control " + name + " text",
                  Quoted(TextOf(control, L"(no answer)")));
        // A closed drop-down list has the height the system gives it in this font, as the
        // model's has; the template's height is that of the list dropped open.
        Check(Within1(units(control, window), units(model, reference)), "control " + name + " rectangle",
              Shown(units(control, window)) + " where the template gives " + Shown(units(model, reference)));
    }
}

void CheckLists(HWND window) {
    std::vector<std::wstring> devices;
    for (UINT device = 0; device < waveInGetNumDevs(); ++device) {
        WAVEINCAPSW caps{};
        if (waveInGetDevCapsW(device, &caps, sizeof caps) == MMSYSERR_NOERROR)
            devices.push_back(caps.szPname);
    }
    HWND deviceList = GetDlgItem(window, 1000);
    const std::vector<std::wstring> shown = Entries(deviceList);
    std::string entries;
    for (const std::wstring& entry : shown)
        entries += " " + Quoted(entry);
    Check(shown == devices, "device list: the input devices in device order", entries);
    Check(Ask(deviceList, CB_GETCURSEL) == (devices.empty() ? CB_ERR : 0), "device list: the first selected");
    HWND bitRates = GetDlgItem(window, 1003);
    Check(Entries(bitRates) == std::vector<std::wstring>(std::begin(kBitRates), std::end(kBitRates)),
          "bit-rate list: 16 to 256 Kbps");
    Check(Ask(bitRates, CB_GETCURSEL) == 3 && TextOf(bitRates) == L"64 Kbps",
          "bit-rate list: 64 Kbps selected");
    Check(TextOf(GetDlgItem(window, 1001)) == L"RecordedAudio.mp3", "output box: RecordedAudio.mp3");
}

void CheckOrder(HWND window) {
    for (const auto& pair : kLabels) {
        HWND label = nullptr;
        for (HWND child : Descendants(window))
            if (ClassOf(child) == L"Static" && TextOf(child) == pair.label)
                label = child;
        HWND next = label != nullptr ? GetWindow(label, GW_HWNDNEXT) : nullptr;
        Check(next != nullptr && GetDlgCtrlID(next) == pair.field,
              "z-order: " + Quoted(pair.label) + " just before " + std::to_string(pair.field),
              next != nullptr ? "before " + std::to_string(GetDlgCtrlID(next)) : "");
    }
    std::string order;
    bool inOrder = true;
    HWND at = GetDlgItem(window, 1);
    for (int id : kTabOrder) {
        at = GetNextDlgTabItem(window, at, FALSE);
        inOrder = inOrder && GetDlgCtrlID(at) == id;
        order += " " + std::to_string(GetDlgCtrlID(at));
    }
    Check(inOrder, "tab order from Start Recording", order);
}

void CheckBoxes(HWND window) {
    if (HWND box = Press(window, 1006)) {
        const std::wstring help = kHelpText;
        CheckBox("\" ?\" box", Read(box), ProgramOf(window), &help);
        Check(Dismiss(box, IDOK), "\" ?\" box closes with OK");
    } else {
        Check(false, "\" ?\" opens a box");
    }
    if (HWND box = Press(window, 1005)) {
        const Box about = Read(box);
        CheckBox("About box", about, L"Voxmere", nullptr);
        const std::wstring text = about.texts.empty() ? L"" : about.texts[0];
        const std::wstring start = kAboutStart, end = kAboutEnd;
        const bool framed = text.size() > start.size() + end.size() &&
                            text.compare(0, start.size(), start) == 0 &&
                            text.compare(text.size() - end.size(), end.size(), end) == 0;
        Check(framed, "About text: owner, address, LAME and its address", Quoted(text));
        const std::wstring address =
            framed ? text.substr(start.size(), text.size() - start.size() - end.size()) : L"";
        const std::wstring file = FileOf(address);
        if (!file.empty())
            Check(GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES,
                  "About address leads to a file", ToUtf8(address));
        else
            std::printf("NOTE About address %s is not a file here; not fetched\n", Quoted(address).c_str());
        Check(Dismiss(box, IDOK), "About box closes with OK");
    } else {
        Check(false, "About... opens a box");
    }
    if (HWND save = Press(window, 1002)) {
        bool named = false, filtered = false;
        for (HWND child : Descendants(save)) {
            const std::wstring kind = ClassOf(child);
            if (_wcsicmp(kind.c_str(), L"Edit") == 0 || _wcsicmp(kind.c_str(), L"ComboBox") == 0) {
                named = named || TextOf(child) == L"RecordedAudio";
                filtered = filtered || TextOf(child) == L"MP3 Files";
            }
        }
        Check(named, "save dialog offers the name RecordedAudio");
        Check(filtered, "save dialog's filter is MP3 Files");
        Check(Dismiss(save, IDCANCEL), "save dialog closes with Cancel");
    } else {
        Check(false, "Browse... opens a save dialog");
    }
}

}  // namespace

int main() {
    HWND window = WaitFor([] { return Owned(nullptr); });
    if (window == nullptr) {
        Check(false, "a window titled Voxmere");
        return 1;
    }
    HWND reference = CreateDialogParamW(
        GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1), nullptr,
        [](HWND, UINT, WPARAM, LPARAM) -> INT_PTR { return FALSE; }, 0);
    RECT base{0, 0, 4, 8};
    if (reference == nullptr || !MapDialogRect(reference, &base)) {
        Check(false, "the template's model dialog");
        return 1;
    }
    std::printf("dialog base units of MS Shell Dlg 8: %ld x %ld\n", base.right, base.bottom);
    const Converter units{static_cast<int>(base.right), static_cast<int>(base.bottom)};

    const auto style = static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE));
    const auto modelStyle = static_cast<DWORD>(GetWindowLongW(reference, GWL_STYLE)) | WS_VISIBLE;
    Check(style == modelStyle, "window style", Hex(style) + ", the template's " + Hex(modelStyle));
    const auto exStyle = static_cast<DWORD>(GetWindowLongW(window, GWL_EXSTYLE));
    const auto modelExStyle = static_cast<DWORD>(GetWindowLongW(reference, GWL_EXSTYLE));
    Check((exStyle & modelExStyle) == modelExStyle && (exStyle & WS_EX_APPWINDOW) != 0,
          "window extended style has the template's, WS_EX_APPWINDOW among them",
          Hex(exStyle) + ", the template's " + Hex(modelExStyle));
    RECT client{}, modelClient{};
    GetClientRect(window, &client);
    GetClientRect(reference, &modelClient);
    Check(Within1(units(client), units(modelClient)), "window client size", Shown(units(client)));

    CheckControls(window, reference, units);
    CheckOrder(window);
    CheckLists(window);
    CheckBoxes(window);
    DestroyWindow(reference);
    std::printf("%s\n", g_failures == 0 ? "All checks passed." : "Some checks failed.");
    return g_failures == 0 ? 0 : 1;
}
