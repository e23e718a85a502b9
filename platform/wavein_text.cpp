// The capture layer's error texts: one short sentence for each code it returns.
#include <algorithm>
#include <cwchar>

#include "wavein.h"

MMRESULT waveInGetErrorTextW(MMRESULT mmrError, WCHAR* pszText, UINT cchText) {
    if (pszText == nullptr || cchText == 0)
        return MMSYSERR_INVALPARAM;
    const wchar_t* text = nullptr;
    switch (mmrError) {
        case MMSYSERR_NOERROR:
            text = L"No error.";
            break;
        case MMSYSERR_ERROR:
            text = L"Unspecified error.";
            break;
        case MMSYSERR_BADDEVICEID:
            text = L"There is no input device with this number.";
            break;
        case MMSYSERR_NOTENABLED:
            text = L"The input device is not enabled.";
            break;
        case MMSYSERR_ALLOCATED:
            text = L"The input device is already in use.";
            break;
        case MMSYSERR_INVALHANDLE:
            text = L"The device handle is invalid.";
            break;
        case MMSYSERR_NODRIVER:
            text = L"The sound server or the input device is not available.";
            break;
        case MMSYSERR_NOMEM:
            text = L"Not enough memory.";
            break;
        case MMSYSERR_INVALFLAG:
            text = L"An invalid flag was given.";
            break;
        case MMSYSERR_INVALPARAM:
            text = L"An invalid parameter was given.";
            break;
        case WAVERR_BADFORMAT:
            text = L"The audio format is not supported.";
            break;
        case WAVERR_STILLPLAYING:
            text = L"The device still holds buffers.";
            break;
        case WAVERR_UNPREPARED:
            text = L"The buffer header is not prepared.";
            break;
        default:
            break;
    }
    if (text == nullptr) {
        pszText[0] = L'\0';
        return MMSYSERR_BADERRNUM;
    }
    const size_t length = std::min<size_t>(std::wcslen(text), cchText - 1);
    std::copy_n(text, length, pszText);
    pszText[length] = L'\0';
    return MMSYSERR_NOERROR;
}
