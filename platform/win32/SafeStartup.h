// Process hardening done first thing at start-up (Windows only).
#pragma once

namespace kv {

// Restricts DLL loading to the system directory: the default search order
// becomes System32 only (where the system offers it; looked up at run time
// so that older systems still start), and the current directory is taken
// out of the search. Raises nothing.
void RestrictDllSearchToSystem() noexcept;

}  // namespace kv
