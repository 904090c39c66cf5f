// The owners of the Windows handles the programs keep: one TUniqueAny per
// kind, with the kind's close function and the value its API returns on
// failure. The updater itself holds only find handles, registry keys,
// windows and brushes; the other kinds are held by the programs built
// beside it (the demo release, the tests' window driver and test programs),
// and stay here so that each kind's close function and failure value are
// written once for every program.
#pragma once

#include "WinApi.h"
#include "konvoro/UniqueHandle.h"

namespace kv {

// Kernel objects that the API reports as null on failure: processes,
// threads, OpenProcess. Held by the demo and the tests.
using TUniqueHandle = TUniqueAny<HANDLE, &::CloseHandle>;
// Kernel objects that the API reports as INVALID_HANDLE_VALUE on failure:
// CreateFile, CreateToolhelp32Snapshot. (The platform's own files are kept
// as TFileHandle, Files.h.) Held by the demo and the tests.
using TUniqueHFile = TUniqueAny<HANDLE, &::CloseHandle, -1>;
// Directory enumerations (FindFirstFile).
using TUniqueFind = TUniqueAny<HANDLE, &::FindClose, -1>;
// Registry keys; the predefined root keys are never held.
using TUniqueKey = TUniqueAny<HKEY, &::RegCloseKey>;
using TUniqueWindow = TUniqueAny<HWND, &::DestroyWindow>;
using TUniqueBrush = TUniqueAny<HBRUSH, &::DeleteObject>;
// Libraries loaded with LoadLibrary. Held by the demo client.
using TUniqueModule = TUniqueAny<HMODULE, &::FreeLibrary>;

}  // namespace kv
