// Whether an entry is one the updater takes: the check of zlbtool test, and
// of the read-back of every updater zlbtool makes.
#pragma once

#include <cstdint>
#include <string>

#include "Input.h"
#include "konvoro/zlb/ZLIBArchive.h"

namespace zlbtool {

// What is wrong with entry Index (Entry) of the archive that Input opened
// in Archive, or "": extraction's rules for its name and stored path, which
// it applies before it writes anything, then its data, read alone (in
// memory that does not grow with its size), against its length and CRC-32.
// The text is the component's, followed by how and why it failed.
std::string EntryProblem(kv::TZLBArchive& Archive, TInput& Input, int32_t Index,
                         const kv::TZLBFileEntry& Entry);

}  // namespace zlbtool
