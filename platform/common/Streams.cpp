// Streams: the abstract stream, the file stream and the memory streams.
#include "konvoro/Streams.h"

#include <algorithm>
#include <cstring>

#include "konvoro/Binary.h"
#include "konvoro/ClassMessages.h"
#include "konvoro/Exceptions.h"
#include "konvoro/Format.h"

namespace kv {

int64_t TStream::SeekBase(TSeekOrigin Origin, int64_t Position, int64_t Size) noexcept {
  switch (Origin) {
    case TSeekOrigin::soBeginning:
      break;
    case TSeekOrigin::soCurrent:
      return Position;
    case TSeekOrigin::soEnd:
      return Size;
  }
  return 0;
}

int64_t TStream::GetSize() {
  const int64_t Position = Seek(0, TSeekOrigin::soCurrent);
  const int64_t Size = Seek(0, TSeekOrigin::soEnd);
  Seek(Position, TSeekOrigin::soBeginning);
  return Size;
}

void TStream::ReadBuffer(void* Buffer, int32_t Count) {
  if (Count != 0 && Read(Buffer, Count) != Count) throw EReadError(messages::SReadError, Error());
}

void TStream::WriteBuffer(const void* Buffer, int32_t Count) {
  if (Count != 0 && Write(Buffer, Count) != Count)
    throw EWriteError(messages::SWriteError, Error());
}

// ---------------------------------------------------------------------------

namespace {

[[noreturn]] void RaiseCreateError(const std::string& FileName, std::error_code Error) {
  throw EFCreateError(Format(messages::SFCreateErrorEx, ExpandFileName(FileName), Error.message()),
                      Error);
}

// A new file named FileName + ".XXXXXXXX.tmp" in the folder Dir holds,
// with a number nobody can foresee: a process that plants something at the
// name it expects (a pipe server, to be connected to and impersonate the
// writer) has nothing to aim at. Created receives the name.
TErrorOr<TFileHandle> CreateUniqueBeside(const TFileHandle& Dir, const std::string& FileName,
                                         std::string& Created) {
  for (int Attempt = 1;; ++Attempt) {
    TErrorOr<uint32_t> Number = UniqueNumber();
    if (!Number) return Number.Error();
    std::string Suffix = ".00000000.tmp";
    for (size_t Digit = 8, Rest = *Number; Digit > 0; --Digit, Rest >>= 4)
      Suffix[Digit] = "0123456789ABCDEF"[Rest & 0xF];
    Created = FileName + Suffix;
    TErrorOr<TFileHandle> File = FileCreateIn(Dir, Created);
    if (File || File.Error() != std::errc::file_exists || Attempt == 64) return File;
  }
}

}  // namespace

TFileStream::TFileStream(const std::string& FileName, TOpenMode Mode) : FFileName(FileName) {
  TErrorOr<TFileHandle> File = FileOpen(FileName, Mode);
  if (File) {
    FHandle = std::move(*File);
    return;
  }
  if (Mode.Disposition != TDisposition::OpenExisting) RaiseCreateError(FileName, File.Error());
  throw EFOpenError(
      Format(messages::SFOpenErrorEx, ExpandFileName(FileName), File.Error().message()),
      File.Error());
}

TReplacingFileStream::TReplacingFileStream(const std::string& FileName)
    : TFileStream(std::string(), TFileHandle()), FTarget(FileName), FShownName(FileName) {
  TErrorOr<TFileHandle> Dir = DirectoryOpen(ExtractFilePath(FileName));
  if (!Dir) RaiseCreateError(FileName, Dir.Error());
  FOwnDir = std::move(*Dir);
  FDir = &FOwnDir;
  TErrorOr<TFileHandle> File = CreateUniqueBeside(*FDir, FileName, FFileName);
  if (!File) RaiseCreateError(FileName, File.Error());
  FHandle = std::move(*File);
}

TReplacingFileStream::TReplacingFileStream(const TFileHandle& Dir, const std::string& Name,
                                           const std::string& ShownName)
    : TFileStream(std::string(), TFileHandle()),
      FTarget(ExtractFileName(Name)),
      FShownName(ShownName),
      FDir(&Dir) {
  TErrorOr<TFileHandle> File = CreateUniqueBeside(Dir, FTarget, FFileName);
  if (!File) RaiseCreateError(ShownName, File.Error());
  FHandle = std::move(*File);
}

TReplacingFileStream::~TReplacingFileStream() {
  // Cleanup: the new file goes whatever the reason; there is nobody to tell.
  if (!FDone) (void)FileDeleteIn(*FDir, FHandle, FFileName);
}

TFileHandle TReplacingFileStream::Commit() {
  FDone = true;
  const std::error_code Error = FileReplaceIn(*FDir, FHandle, FFileName, FTarget);
  if (!Error) return std::move(FHandle);
  (void)FileDeleteIn(*FDir, FHandle, FFileName);
  FHandle.Reset();
  RaiseCreateError(FShownName, Error);
}

namespace {

// What a port call returned as a stream reports it: the value, or Failed
// with the reason recorded.
template <class T>
T Outcome(TErrorOr<T> Result, T Failed, std::error_code& Error) {
  Error = Result.Error();
  return Result ? *Result : Failed;
}

}  // namespace

int32_t TFileStream::Read(void* Buffer, int32_t Count) {
  std::error_code Error;
  const int32_t Got =
      FHandle.Valid() && Count > 0 ? Outcome(FileRead(FHandle, Buffer, Count), 0, Error) : 0;
  SetError(Error);
  return Got;
}

int32_t TFileStream::Write(const void* Buffer, int32_t Count) {
  std::error_code Error;
  const int32_t Put =
      FHandle.Valid() && Count > 0 ? Outcome(FileWrite(FHandle, Buffer, Count), 0, Error) : 0;
  SetError(Error);
  return Put;
}

int64_t TFileStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  std::error_code Error;
  const int64_t Position =
      FHandle.Valid() ? Outcome(FileSeek(FHandle, Offset, Origin), int64_t(-1), Error) : -1;
  SetError(Error);
  return Position;
}

// ---------------------------------------------------------------------------

TBufferedFileStream::TBufferedFileStream(const std::string& FileName, TOpenMode Mode,
                                         int32_t BufferSize)
    : TFileStream(FileName, Mode), FBuffer(size_t(std::max(BufferSize, 1))) {}

TBufferedFileStream::~TBufferedFileStream() {
  WriteGathered();
}

bool TBufferedFileStream::WriteGathered() {
  if (FUsed == 0) return true;
  const int32_t Put = TFileStream::Write(FBuffer.data(), int32_t(FUsed));
  if (Put == int32_t(FUsed)) {
    FUsed = 0;
    return true;
  }
  // Keep what did not go out, so that a later attempt writes it in order.
  if (Put > 0) {
    std::memmove(FBuffer.data(), FBuffer.data() + Put, FUsed - size_t(Put));
    FUsed -= size_t(Put);
  }
  return false;
}

void TBufferedFileStream::Flush() {
  if (!WriteGathered()) throw EWriteError(messages::SWriteError, Error());
}

int32_t TBufferedFileStream::Read(void* Buffer, int32_t Count) {
  if (!WriteGathered()) return 0;
  return TFileStream::Read(Buffer, Count);
}

int32_t TBufferedFileStream::Write(const void* Buffer, int32_t Count) {
  if (Count <= 0) return 0;
  const auto* Bytes = static_cast<const uint8_t*>(Buffer);
  if (FUsed + size_t(Count) > FBuffer.size()) {
    if (!WriteGathered()) return 0;
    if (size_t(Count) >= FBuffer.size()) return TFileStream::Write(Bytes, Count);
  }
  std::memcpy(FBuffer.data() + FUsed, Bytes, size_t(Count));
  FUsed += size_t(Count);
  SetError({});
  return Count;
}

int64_t TBufferedFileStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  if (!WriteGathered()) return -1;
  return TFileStream::Seek(Offset, Origin);
}

// ---------------------------------------------------------------------------

namespace {

int32_t ReadFromMemory(const uint8_t* Data, int64_t Size, int64_t& Position, void* Buffer,
                       int32_t Count) {
  if (Count <= 0 || Position >= Size) return 0;
  const auto N = static_cast<int32_t>(std::min<int64_t>(Count, Size - Position));
  std::memcpy(Buffer, Data + Position, static_cast<size_t>(N));
  Position += N;
  return N;
}

}  // namespace

void TReadOnlyMemoryStream::Reset(const void* Data, int64_t Size) {
  FData = static_cast<const uint8_t*>(Data);
  FSize = Size;
  FPosition = 0;
}

int32_t TReadOnlyMemoryStream::Read(void* Buffer, int32_t Count) {
  return ReadFromMemory(FData, FSize, FPosition, Buffer, Count);
}

int64_t TReadOnlyMemoryStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  const std::optional<int64_t> Target = SeekTarget(SeekBase(Origin, FPosition, FSize), Offset);
  if (!Target) return -1;
  FPosition = *Target;
  return FPosition;
}

int32_t TMemoryStream::Read(void* Buffer, int32_t Count) {
  return ReadFromMemory(FData.data(), GetSize(), FPosition, Buffer, Count);
}

int32_t TMemoryStream::Write(const void* Buffer, int32_t Count) {
  if (Count <= 0) return 0;
  const int64_t End = FPosition + Count;
  if (End > GetSize()) FData.resize(static_cast<size_t>(End));
  std::memcpy(FData.data() + FPosition, Buffer, static_cast<size_t>(Count));
  FPosition = End;
  return Count;
}

int64_t TMemoryStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  const std::optional<int64_t> Target = SeekTarget(SeekBase(Origin, FPosition, GetSize()), Offset);
  if (!Target) return -1;
  FPosition = *Target;
  return FPosition;
}

std::vector<uint8_t> TMemoryStream::TakeBytes() {
  std::vector<uint8_t> Out = std::move(FData);
  Clear();
  return Out;
}

void TMemoryStream::Clear() {
  FData.clear();
  FPosition = 0;
}

}  // namespace kv
