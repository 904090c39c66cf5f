// The archive component's failure texts, in one place.
#pragma once

namespace kv::messages {

inline constexpr const char* SArchiveNotFound = "Archive file not found";
// %s: the archive's file name.
inline constexpr const char* SUnableToOpenFile = "Unable to open file (%s)";
inline constexpr const char* SArchiveCorrupted = "The archive file appears to be corrupted";
inline constexpr const char* SUnableToReadFileList = "Unable to read archive file list";
inline constexpr const char* SNoArchiveOpen = "No archive is currently open";
inline constexpr const char* SIndexOutOfBounds = "Index out of bounds";
// %d: the entry's index.
inline constexpr const char* SFileCorrupt = "File (%d) is corrupt";
inline constexpr const char* SFileFailedCRC = "File (%d) failed CRC check";
inline constexpr const char* SFileInvalidName = "File (%d) has an invalid name";
inline constexpr const char* SUnableToCreateDestPath = "Unable to create destination path";

// Why an entry is corrupt (TCorruptCause), for tools that diagnose archives.
inline constexpr const char* SCauseOutsideFile = "its record places no data in the file";
inline constexpr const char* SCauseChunkFailed = "reading or writing its data failed";
inline constexpr const char* SCauseDataShort = "its data ends before its size";
inline constexpr const char* SCauseStreamNotEnded =
    "its zlib stream does not end, intact, right after its size";
inline constexpr const char* SCauseWriteBack = "the destination could not write it out";

// Progress messages. %s: the entry's name.
inline constexpr const char* SExtractingRegistry = "Extracting archive registry";
inline constexpr const char* SExtractingFile = "Extracting %s";

// Records: a name or path that does not fit a length-prefixed field.
inline constexpr const char* SNameTooLong = "Name or path longer than 255 bytes";

// The writer: an archive whose offsets or sizes would not fit the format's
// signed 32-bit fields.
inline constexpr const char* SArchiveTooLarge =
    "Archive too large: offsets and sizes must stay below 2 GiB";
inline constexpr const char* SDeflateFailed = "zlib could not compress the data";
inline constexpr const char* SWriterFinished = "The archive has already been finished";
inline constexpr const char* SNoEntryStream = "An entry's source opened no stream";

}  // namespace kv::messages
