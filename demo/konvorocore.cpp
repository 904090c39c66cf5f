// konvorocore.dll of the demo release: exports the version it was built as.
#include "konvorocore.h"

#include <type_traits>

#ifndef KONVORO_VERSION
#error "KONVORO_VERSION must be defined"
#endif

extern "C" __declspec(dllexport) int __cdecl KonvoroCoreVersion() {
  return KONVORO_VERSION;
}

static_assert(std::is_same_v<decltype(&KonvoroCoreVersion), TKonvoroCoreVersion>);
