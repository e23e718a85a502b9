// Where Voxmere.exe's DLLs come from: the system folder, never the folder it was unpacked in.
//
// Windows looks for an imported DLL that is not one of its "known DLLs" in the executable's own
// folder first. The zip is unpacked wherever the user likes, typically a Downloads folder that
// may already hold a version.dll or winmm.dll saved from somewhere else; loaded from there, it
// would run with the user's rights the moment Voxmere starts. Two guards close that:
// - The load configuration's DependentLoadFlags: Windows 10 (1607) and later resolve the static
//   imports from the system folder only.
// - Every imported DLL but kernel32.dll and the C runtime is delay-loaded
//   (app/dll_search_windows.cmake), and before anything can need one, the process's default
//   search is the system folder only. That holds where the field above is ignored (older
//   Windows, Wine), for what the DLLs themselves load as they start (comctl32 version 6 is no
//   known DLL; Wine's user32 imports version.dll and its comctl32 loads uxtheme.dll), and for
//   every load the system makes on the program's behalf without naming a folder (the save
//   dialog, the shell). lame_enc.dll is loaded with explicit flags: beside the executable and
//   the system folder.
#include <windows.h>

namespace {

// A TLS callback: the loader calls it once the static imports are loaded, before the entry
// point, so before every C and C++ initialiser of the program and of the libraries linked into
// it, none of which can therefore reach a delay-loaded DLL first. SetDefaultDllDirectories
// came to Windows 7 with an update (KB2533623) that not every system has; without it the
// executable must still start, so it is looked up rather than imported.
void NTAPI SearchSystemFolderOnly(PVOID, DWORD reason, PVOID) {
    if (reason != DLL_PROCESS_ATTACH)
        return;
    using SetDefaults = BOOL(WINAPI*)(DWORD);
    FARPROC found = GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories");
    if (found != nullptr)
        reinterpret_cast<SetDefaults>(reinterpret_cast<void (*)()>(found))(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

// Static imports resolved from the system folder only.
constexpr IMAGE_LOAD_CONFIG_DIRECTORY64 LoadConfiguration() {
    IMAGE_LOAD_CONFIG_DIRECTORY64 configuration{};
    configuration.Size = sizeof configuration;
    configuration.Reserved1 = LOAD_LIBRARY_SEARCH_SYSTEM32;  // DependentLoadFlags in newer headers
    return configuration;
}

}  // namespace

extern "C" {

// The C runtime's TLS directory calls what lies between its .CRT$XLA and .CRT$XLZ in name
// order: .CRT$XLB comes before its own callbacks.
extern const PIMAGE_TLS_CALLBACK voxmereSearchSystemFolderOnly;
__attribute__((section(".CRT$XLB"), used)) const PIMAGE_TLS_CALLBACK voxmereSearchSystemFolderOnly =
    SearchSystemFolderOnly;

// The load configuration the loader reads; GNU ld makes no header entry for it, the build
// adds one after the link (cmake/pe-set-directories).
extern const IMAGE_LOAD_CONFIG_DIRECTORY64 _load_config_used;
__attribute__((used)) constinit const IMAGE_LOAD_CONFIG_DIRECTORY64 _load_config_used = LoadConfiguration();

// The null descriptor that ends the table of delay-import descriptors. dlltool's delay-import
// libraries put theirs, 32 bytes each at 16-byte alignment, in .text$2; the linker lays out
// .text$ sections in name order, so this one follows the last of them without a gap (its
// alignment is held at 16: the compiler would give a 32-byte object 32).
extern const IMAGE_DELAYLOAD_DESCRIPTOR voxmereEndOfDelayImports;
__attribute__((section(".text$3"), used, aligned(16)))
const IMAGE_DELAYLOAD_DESCRIPTOR voxmereEndOfDelayImports = {};

}  // extern "C"
