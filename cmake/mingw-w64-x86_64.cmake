# Cross-building for 64-bit Windows with mingw-w64 (posix threads: std::thread needs them).
# The runtime (libgcc, libstdc++, winpthread) is linked statically, so Voxmere.exe and
# lame_enc.dll need nothing beside them.
#
# VOXMERE_WINDOWS_PREFIXES: the folders holding the Windows builds of the third-party
# libraries; they are searched as well as the toolchain's own root, and nothing of the host.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VOXMERE_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VOXMERE_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VOXMERE_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${VOXMERE_MINGW}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VOXMERE_MINGW} ${VOXMERE_WINDOWS_PREFIXES})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VOXMERE_WINDOWS_PREFIXES)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

# Test programs run under Wine, discovery included.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
