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

#include <algorithm>
#include <optional>
#include <string>

namespace kv {

// The string that Get(Buffer, Size) writes, for the Windows calls that fill
// a caller's buffer (of char, or of wchar_t for the wide calls): each
// returns the length written when the buffer was large enough, else the
// size it needs (GetModuleFileName: the size it was given, having cut the
// name), or 0 on failure. nullopt on failure.
template <class Char = char, class F>
std::optional<std::basic_string<Char>> StringFromGrowingBuffer(F Get) {
  std::basic_string<Char> Buffer(MAX_PATH, Char());
  for (;;) {
    const DWORD Length = Get(Buffer.data(), static_cast<DWORD>(Buffer.size()));
    if (Length == 0) return std::nullopt;
    if (Length < Buffer.size()) {
      Buffer.resize(Length);
      return Buffer;
    }
    Buffer.resize(std::max(size_t(Length) + 1, Buffer.size() * 2));
  }
}

}  // namespace kv
