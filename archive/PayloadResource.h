// Where an updater carries its release, and what the release must hold: the
// facts that the updater, zlbtool and the build share.
#pragma once

#include <cstdint>

namespace kv {

// The payload is the RCDATA resource of this name in KVUpdater.exe. Resource
// names compare without letter case, and resource compilers store them in
// upper case ("ZLBDATA").
inline constexpr const char* PayloadResourceName = "ZLBData";
// RT_RCDATA, the resource type of the payload.
inline constexpr uint16_t PayloadResourceType = 10;
// The entry the update script runs as "@wait" from the update directory;
// entry names compare without the letter case of ASCII letters.
inline constexpr const char* PayloadWaitProgramName = "wait.exe";
// The string of the version resource that marks this project's updater
// program made to carry no payload of its own, the stub (KVUpdater-stub.exe),
// which zlbtool makes updaters of. Updaters made of it keep the mark; what
// tells them apart is the payload.
inline constexpr const char* PayloadStubMarker = "KVUpdaterStub";

}  // namespace kv
