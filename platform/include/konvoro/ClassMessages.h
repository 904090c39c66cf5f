// The class library's own failure texts, in one place.
#pragma once

namespace kv::messages {

// %s: the expanded file name; %s: the system's description of the error.
inline constexpr const char* SFCreateErrorEx = "Cannot create file \"%s\". %s";
inline constexpr const char* SFOpenErrorEx = "Cannot open file \"%s\". %s";
inline constexpr const char* SWriteError = "Stream write error";
inline constexpr const char* SReadError = "Stream read error";
inline constexpr const char* SInvalidStreamOperation = "Invalid stream operation";
inline constexpr const char* SZlibError = "error";
// %s: the resource name.
inline constexpr const char* SResNotFound = "Resource %s not found";
inline constexpr const char* SCannotCreateDir = "Unable to create directory";
// %d: the index.
inline constexpr const char* SListIndexError = "List index out of bounds (%d)";
// %s: the property name.
inline constexpr const char* SUnknownProperty = "Property %s does not exist";
inline constexpr const char* SInvalidPropertyValue = "Invalid property value";
// %s: the resource; %d: the line; %s: what is wrong there.
inline constexpr const char* SReadFormError = "Error reading form resource %s, line %d: %s";

// Windows and their message loop.
inline constexpr const char* SWindowCreateError = "Error creating window";
inline constexpr const char* SUnknownException = "Unknown exception";

}  // namespace kv::messages
