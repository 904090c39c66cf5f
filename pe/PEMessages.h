// What the PE reader says is wrong with an image, in one place. The texts
// follow the file's name ("FILE: ..."); %s are numbers in hexadecimal or
// decimal, names, or what was being read.
#pragma once

namespace kv::pe::messages {

inline constexpr const char* SNotExecutable =
    "not an executable image: it does not start with \"MZ\"";
// %s: what was being read, %s: its file offset.
inline constexpr const char* SFileEndsWithin = "the file ends within the %s at %s";
inline constexpr const char* SNoPESignature =
    "no PE signature at e_lfanew (%s): an MS-DOS program, not a Windows image";
inline constexpr const char* SNewHeaderPastEnd =
    "e_lfanew (%s) points past the end of the file (%s bytes)";
inline constexpr const char* SUnknownOptionalMagic = "unknown optional header magic %s";
// %s: its size, %s: the bytes its fields need.
inline constexpr const char* SOptionalHeaderTooSmall =
    "the optional header of %s bytes is too small for its fields (%s bytes)";
inline constexpr const char* STooManySections = "%s sections, more than Windows loads (96)";
// %s: the section's number, %s: its name.
inline constexpr const char* SSectionPastEnd = "section %s (%s) reaches past the end of the file";
// %s: what, %s: the RVA, %s: the size.
inline constexpr const char* SRvaInNoSection = "%s at RVA %s (%s bytes) lies in no section";
inline constexpr const char* SRvaPastSectionData =
    "%s at RVA %s (%s bytes) reaches past its section's data in the file";
// %s: what, %s: its offset in the resource tree.
inline constexpr const char* SResourcePastSection = "%s at %s reaches past the resource section";
inline constexpr const char* SResourceEntryCount =
    "the resource directory at %s claims %s entries, more than fit in the resource section";
inline constexpr const char* SResourceLoop =
    "the resource directory at %s refers back to itself or to a directory above it";
// %s: "resource directory" or "resource data entry", %s: its offset.
inline constexpr const char* SResourceReachedTwice = "the %s at %s is reached twice";
inline constexpr const char* SResourceOverlaps =
    "the %s at %s overlaps another part of the resource tree";
// %s: the limit.
inline constexpr const char* SResourceNamesTooLong =
    "the resource names add up to more than %s characters";
inline constexpr const char* SResourceTooDeep = "the resource tree is deeper than three levels";
// %s: the level (1 or 2).
inline constexpr const char* SResourceDataTooHigh =
    "a resource entry at level %s names data where a directory belongs";
// %s: the offset, %s: the size.
inline constexpr const char* SCertificatesPastEnd =
    "the certificate table (offset %s, %s bytes) reaches past the end of the file";
// %s: what, %s: its size, %s: the limit.
inline constexpr const char* SResourceTooLarge = "the %s of %s bytes is larger than %s bytes";
// %s: what is wrong inside it.
inline constexpr const char* SBadVersionResource = "the version resource is malformed: %s";
inline constexpr const char* SBadSignature = "the signature is malformed: %s";

}  // namespace kv::pe::messages
