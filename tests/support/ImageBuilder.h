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

// The RVA of the resource section, where the tree starts.
inline constexpr uint32_t ResourceSectionRva = 0x1000;

// Resources of one type and name share one language directory.
struct TImageResource {
  uint16_t Type = 10;
  std::string Name;     // a named resource when not empty, in UTF-8
  uint16_t NameId = 1;  // else this ID
  TBytes Data;
  uint16_t Language = 0x409;
};

struct TImageRecipe {
  bool PE32Plus = false;
  uint16_t Machine = 0x014C;
  uint16_t Subsystem = 2;
  std::vector<TImageResource> Resources;
  TBytes Relocations;            // a ".reloc" section after ".rsrc" when not empty
  TBytes Certificate;            // appended as the certificate table when not empty
  uint16_t CertificateType = 2;  // its WIN_CERTIFICATE type: PKCS #7 signed data
  // When not empty, the resource section as it stands, Resources ignored:
  // a tree made by hand (offsets from its start, data at RVAs from
  // ResourceSectionRva).
  TBytes RawTree;
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
  size_t Certificate = 0;   // the certificate table, 0 when none
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

// DER, to make signatures: an element of Tag holding Parts one after the
// other; an object identifier from its dotted text.
TBytes Der(uint8_t Tag, const std::vector<TBytes>& Parts);
TBytes Oid(const std::string& Dotted);
// A distinguished name: its relative names in order, each of one or more
// attributes (dotted type, value as DER).
using TNameRecipe = std::vector<std::vector<std::pair<std::string, TBytes>>>;
TBytes Name(const TNameRecipe& Recipe);
// A DER string: UTF8String of Text, or another string type of Bytes.
TBytes Utf8String(const std::string& Text);

// PKCS #7 SignedData as Authenticode signs (ContentInfo, DER), cut down to
// what names the signer: two certificates by one issuer, "CN=Konvoro test
// CA": serial 5 for "CN=Other", then serial 7 for Subject; and the signers,
// each naming its certificate by issuer and serial.
struct TSignatureRecipe {
  TBytes Subject;                // the certificate with serial 7
  TBytes SignerSerial = {0x07};  // the serial each signer names
  size_t Signers = 1;
  bool Certificates = true;                          // whether it carries them
  std::string ContentType = "1.2.840.113549.1.7.2";  // signedData
};
TBytes Signature(const TSignatureRecipe& Recipe);

}  // namespace kvtest
