// windows.h for the platform's Windows sources, without the macros that
// would rename the platform's own functions.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#undef GetEnvironmentVariable
#undef GetModuleFileName
#undef DeleteFile
#undef GetTempPath
#undef GetTempFileName
#undef FindResource
#undef MessageBox
#undef CreateWindow
#undef AnsiToOem
#undef OemToAnsi
