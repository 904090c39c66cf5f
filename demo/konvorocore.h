// The one export of konvorocore.dll, the demo client's library.
#pragma once

// The export's name: cdecl, so undecorated on i686.
inline constexpr char KonvoroCoreVersionExport[] = "KonvoroCoreVersion";

// The export's type: returns the release version the library was built as.
using TKonvoroCoreVersion = int(__cdecl*)();
