// What an image says about itself in its resources: the version resource
// (VS_VERSIONINFO) and the manifest's requested execution level.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kv::pe {

// Field offsets of VS_FIXEDFILEINFO, the value of the version resource's
// root block.
namespace fixed_info_layout {
inline constexpr size_t Signature = 0;
inline constexpr uint32_t SignatureValue = 0xFEEF04BD;
inline constexpr size_t FileVersionMS = 8;
inline constexpr size_t FileVersionLS = 12;
inline constexpr size_t ProductVersionMS = 16;
inline constexpr size_t ProductVersionLS = 20;
inline constexpr size_t Size = 52;
static_assert(ProductVersionLS + 8 * 4 == Size);
}  // namespace fixed_info_layout

// The version resource can be no larger: its root block counts its length
// in 16 bits.
inline constexpr size_t MaxVersionResourceBytes = 0xFFFF;
// Manifests are a few kilobytes; a larger one is not read.
inline constexpr size_t MaxManifestBytes = 256 * 1024;

using TVersionNumber = std::array<uint16_t, 4>;

struct TVersionInfo {
  std::optional<TVersionNumber> FixedFileVersion;
  std::optional<TVersionNumber> FixedProductVersion;
  // The strings of StringFileInfo (all its tables, in order), in UTF-8.
  std::vector<std::pair<std::string, std::string>> Strings;

  // The first string of that key; nullopt when there is none.
  std::optional<std::string> String(std::string_view Key) const;
};

// "a.b.c.d".
std::string VersionText(const TVersionNumber& Version);
// The version that Text writes as "a.b.c.d": four decimal numbers of 0 to
// 65535, without signs, blanks or leading zeros; nullopt for anything else.
std::optional<TVersionNumber> ParseVersion(std::string_view Text);

// Decodes a VS_VERSIONINFO resource: the fixed part when its signature is
// right, and the strings of StringFileInfo. Every block length is checked
// against its parent; raises EPEFormatError ("the version resource is
// malformed: ...") for blocks that do not fit.
TVersionInfo DecodeVersionInfo(std::span<const uint8_t> Bytes);

// Bytes, a VS_VERSIONINFO resource, with Version as its fixed file and
// product versions and as the value of each FileVersion and ProductVersion
// string; every other block is kept byte for byte. Raises EPEFormatError as
// DecodeVersionInfo does, and when the resource has no fixed part or the
// result would outgrow MaxVersionResourceBytes.
std::vector<uint8_t> WithVersion(std::span<const uint8_t> Bytes, const TVersionNumber& Version);

// The level attribute of the manifest's requestedExecutionLevel element
// (any namespace prefix, attributes in any order, either quote), skipping
// comments, processing instructions and CDATA; nullopt when there is none.
std::optional<std::string> RequestedExecutionLevel(std::string_view Manifest);

class TPEImage;

// What an image tells of itself: its headers' format, machine and
// subsystem, the versions of its version resource, the execution level its
// manifest requests, and the size of its Authenticode signature and who
// signed it (as the signature says: nothing here verifies one).
struct TImageFacts {
  std::string Format;  // "PE32" or "PE32+"
  std::string Machine;
  uint16_t Subsystem = 0;
  std::optional<std::string> FileVersion, ProductVersion;
  std::optional<std::string> FixedFileVersion, FixedProductVersion;
  std::optional<std::string> ExecutionLevel;
  std::optional<int64_t> SignatureBytes;
  // Who signed it, as its signature says: the signing certificate's
  // subject, "CN=Konvoro updater, O=Konvoro" (SignerSubject in
  // Authenticode.h). Unset for an image without a PKCS #7 signature, and for
  // one whose signature cannot be read, SignerProblem then telling why ("the
  // signature is malformed: ..."): a signature is reported, not relied on.
  std::optional<std::string> SignerSubject;
  std::optional<std::string> SignerProblem;
};
// Reads Image's facts. Raises EPEFormatError for a version resource,
// manifest or certificate table that is malformed or reaches outside the
// file.
[[nodiscard]] TImageFacts ReadImageFacts(const TPEImage& Image);

// UTF-16LE code units as UTF-8; a lone surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::span<const uint16_t> Units);

}  // namespace kv::pe
