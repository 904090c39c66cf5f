// What the image writer says when it refuses an image or what it is to
// write, in one place. The texts follow the file's name ("FILE: ..."); %s
// are numbers in hexadecimal or decimal, or names.
#pragma once

namespace kv::pe::messages {

// %s: the file alignment, %s: the section alignment.
inline constexpr const char* SUnusualAlignment =
    "file alignment %s and section alignment %s are not powers of two from 512 up, the section "
    "alignment at least the file alignment";
inline constexpr const char* SNoResourceSection = "the image has no resource section to rebuild";
// %s: the resource directory's RVA.
inline constexpr const char* SResourcesNotASection =
    "the resource directory (RVA %s) does not start a section";
// %s: the section's number, %s: its name.
inline constexpr const char* SResourceSectionUnaligned =
    "the resource section, section %s (%s), has no file-aligned data in the file";
inline constexpr const char* SSectionNotRelocations =
    "section %s (%s) follows the resource section and is not the base relocations, which alone "
    "can move";
inline constexpr const char* SRelocationsNotAdjacent =
    "section %s (%s), the base relocations, does not follow the resource section directly in the "
    "file";
inline constexpr const char* SSectionAfterResources =
    "section %s (%s) comes before the resource section in the section table but lies in or after "
    "it";
// %s: the directory's index, %s: its RVA, %s: its size.
inline constexpr const char* SDirectoryInResources =
    "data directory %s (RVA %s, %s bytes) reaches into the resource section or past it";
// %s: where the headers end, %s: where the resource section's data start.
inline constexpr const char* SHeadersInResources =
    "the headers, which end at %s, reach into the resource section's data at %s";
// %s: how many bytes.
inline constexpr const char* STrailingBytes =
    "%s bytes follow the last section's data, and they are not a certificate table";
inline constexpr const char* SResourcesTooLarge = "resources of %s bytes do not fit in an image";
// %s: their total, %s: the limit.
inline constexpr const char* SResourceDataTotal =
    "the resources' data add up to %s bytes, more than %s bytes";
// %s: the type, name and language.
inline constexpr const char* SDuplicateResource = "the resource %s is given twice";
inline constexpr const char* SResourceIdTooLarge =
    "the resource %s has a number above 0x7FFFFFFF, which the tree cannot hold";
// %s: the directory's path in the tree ("" for the root).
inline constexpr const char* STooManyEntries =
    "the resource directory '%s' would hold more than 65535 named or numbered entries";
// %s: the size it would have.
inline constexpr const char* SVersionTooLarge =
    "the version resource would grow to %s bytes, more than 65535";

}  // namespace kv::pe::messages
