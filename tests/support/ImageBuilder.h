// Windows PE images made in memory for the tests: headers, one ".rsrc"
// section holding a resource tree, optionally the base relocations after it
// and a certificate table; and the file offsets of their parts, so that a
// test can damage any one of them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kvtest {

using TBytes = std::vector<uint8_t>;

// Resources of one type and name share one language directory.
struct TImageResource {
  uint16_t Type = 10;
  std::string Name;     // a named resource when not empty
  uint16_t NameId = 1;  // else this ID
  TBytes Data;
  uint16_t Language = 0x409;
};

struct TImageRecipe {
  bool PE32Plus = false;
  uint16_t Machine = 0x014C;
  uint16_t Subsystem = 2;
  std::vector<TImageResource> Resources;
  TBytes Relocations;  // a ".reloc" section after ".rsrc" when not empty
  TBytes Certificate;  // appended as the certificate table when not empty
};

// Where the parts of a built image lie (file offsets).
struct TBuiltImage {
  TBytes Bytes;
  size_t Coff = 0;          // the COFF header, after "PE\0\0"
  size_t Optional = 0;      // the optional header
  size_t Directories = 0;   // the first data directory
  size_t SectionTable = 0;  // the first section header, ".rsrc"
  size_t Relocations = 0;   // the base relocations' data, 0 when none
  size_t Resources = 0;     // the resource tree's root; tree offsets count from here
  // Per resource, in the order given: its type's and its name's language
  // directory, its name's entry in its type's directory and its data entry.
  std::vector<size_t> TypeDirectory, LanguageDirectory, NameEntry, DataEntry;
};

TBuiltImage BuildImage(const TImageRecipe& Recipe);

// A VS_VERSIONINFO resource with the fixed part and the string table
// 040904B0 holding Strings (key, value pairs).
TBytes VersionResource(const std::string& FixedVersion,
                       const std::vector<std::pair<std::string, std::string>>& Strings);

// The manifest of the updaters the build makes, with the execution level
// that zlbtool info reads behind a commented-out decoy.
extern const std::string UpdaterManifest;
// An updater as the build makes one: version, manifest, form and Payload as
// RCDATA "ZlbData" (any letter case must be found).
TImageRecipe UpdaterRecipe(const TBytes& Payload);

// Little-endian stores into a built image.
void PutU16(TBytes& Bytes, size_t At, uint16_t Value);
void PutU32(TBytes& Bytes, size_t At, uint32_t Value);

}  // namespace kvtest
