// DWORD, the unsigned 32-bit word of the Windows interfaces the capture contract and the
// encoder module's record are written in. On Windows it is <windows.h>'s own (unsigned long,
// 32 bits there); elsewhere it is defined here and nowhere else, so that the headers built on
// it agree and none of them redefines it under <windows.h>.
#pragma once

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX  // the engine uses std::min and std::max
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN  // no <winsock.h>, which would clash with a later <winsock2.h>
#endif
#include <windows.h>
#else
#include <cstdint>
typedef uint32_t DWORD;
#endif
