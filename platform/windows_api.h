// <windows.h> for the files that call both the real Windows API and this
// layer. Its ANSI/wide macros would rename the layer's own functions
// (plat::CreateFile into plat::CreateFileA, ...), so they are taken back
// here, once; the real API is then called by its explicit -A name.
#pragma once

#ifndef _WIN32
#error "windows_api.h is for Windows builds only"
#endif

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#undef CreateFile
#undef CreateDirectory
#undef FindFirstFile
#undef FormatMessage
#undef LoadLibrary
#undef LoadString
#undef RegOpenKey
#undef RegCreateKey
#undef RegEnumKey
#undef SetEnvironmentVariable
