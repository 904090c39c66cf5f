// Streams: the abstract stream, the file stream and the memory streams.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "konvoro/Files.h"

namespace kv {

// Which streams raise, and where: Read, Write and Seek of the streams here
// (files, memory) report by their results and never raise, and Error() then
// tells why the last of them failed; ReadBuffer, WriteBuffer and Flush raise
// when less was moved than asked, with that reason. The inflating stream
// (TDecompressionStream) also raises on Read, when zlib reports an error. A
// stream that a caller hands in may raise anything anywhere, which is why
// the archive reader guards whole stretches rather than calls.
class TStream {
 public:
  TStream() = default;
  TStream(const TStream&) = delete;
  TStream& operator=(const TStream&) = delete;
  virtual ~TStream() = default;

  // Reads up to Count bytes into Buffer. Returns the count delivered; 0 at
  // the end of the data.
  virtual int32_t Read(void* Buffer, int32_t Count) = 0;
  // Writes up to Count bytes. Returns the count stored.
  virtual int32_t Write(const void* Buffer, int32_t Count) = 0;
  // Moves the position. Returns the new position, or -1 when the stream could
  // not move (the position is then unchanged).
  virtual int64_t Seek(int64_t Offset, TSeekOrigin Origin) = 0;

  int64_t GetPosition() { return Seek(0, TSeekOrigin::soCurrent); }
  void SetPosition(int64_t Position) { Seek(Position, TSeekOrigin::soBeginning); }
  // The size in bytes; the position is left where it was.
  virtual int64_t GetSize();

  // Reads exactly Count bytes or raises EReadError("Stream read error").
  void ReadBuffer(void* Buffer, int32_t Count);
  // Writes exactly Count bytes or raises EWriteError("Stream write error").
  void WriteBuffer(const void* Buffer, int32_t Count);
  // Writes out whatever the stream holds back, or raises EWriteError("Stream
  // write error"). Most streams hold nothing back.
  virtual void Flush() {}

  // Why the last Read, Write or Seek failed, as the system told it at that
  // call: none when it succeeded (an end of data is no failure) or the
  // stream knows no reason.
  std::error_code Error() const noexcept { return FError; }

 protected:
  // What a seek from Origin counts from: 0, Position or Size.
  static int64_t SeekBase(TSeekOrigin Origin, int64_t Position, int64_t Size) noexcept;
  // Records the reason of the call now ending; none for a success.
  void SetError(std::error_code Error) noexcept { FError = Error; }

 private:
  std::error_code FError;
};

// A stream over a file of the operating system.
class TFileStream : public TStream {
 public:
  // Opens FileName with Mode: fmCreate, or an fmOpen* access combined with a
  // share mode (fmOpenRead | fmShareDenyWrite). Raises EFCreateError ("Cannot
  // create file \"%s\". %s") when a file is to be created, else EFOpenError
  // ("Cannot open file \"%s\". %s"), with the expanded file name and the
  // system's description of the error.
  TFileStream(const std::string& FileName, TOpenMode Mode);
  // Takes over Handle, a file open already, known as FileName.
  TFileStream(std::string FileName, TFileHandle Handle)
      : FFileName(std::move(FileName)), FHandle(std::move(Handle)) {}

  int32_t Read(void* Buffer, int32_t Count) override;
  int32_t Write(const void* Buffer, int32_t Count) override;
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;

  const std::string& FileName() const { return FFileName; }
  // The open file, for a second handle on it (FileDuplicate).
  const TFileHandle& Handle() const { return FHandle; }

 protected:
  std::string FFileName;
  TFileHandle FHandle;
};

// A new file that takes FileName's place only when it is complete. It is
// written under a fresh name beside FileName that nobody can foresee (made
// new, so nothing that exists is ever opened) and moved over FileName by
// Commit, through its open handle: whatever stood at FileName (a file, a
// symbolic or hard link, a junction) is replaced as a directory entry,
// never written through, truncated or deleted. The folder is held from the
// start, and the file is made and moved within it whatever its path leads
// to meanwhile. Nobody else can open the new file while it is written, nor
// later while its handle is held. Destroyed uncommitted, or when Commit
// fails, the new file is removed.
class TReplacingFileStream : public TFileStream {
 public:
  // Raises EFCreateError ("Cannot create file \"%s\". %s") naming FileName
  // when no new file can be made beside it, or what was made is no file on
  // a disk in that folder.
  explicit TReplacingFileStream(const std::string& FileName);
  // As above, in the folder Dir holds, which must outlive the stream: the
  // file takes the place of Name (its last part alone) there, and texts
  // call it ShownName.
  TReplacingFileStream(const TFileHandle& Dir, const std::string& Name,
                       const std::string& ShownName);
  ~TReplacingFileStream() override;

  // Moves the file into FileName's place and hands its open file over; the
  // stream is closed then. Whoever keeps the handle reads exactly what was
  // written, whatever later happens to the name. Raises EFCreateError naming
  // FileName when that place cannot be taken (another process holds it,
  // say); the new file is removed then.
  TFileHandle Commit();

 private:
  std::string FTarget;
  std::string FShownName;
  TFileHandle FOwnDir;                // the folder held, when the stream opened it itself
  const TFileHandle* FDir = nullptr;  // the folder the file is made and moved in
  bool FDone = false;
};

// A file stream that gathers writes in memory and hands them to the system
// in large pieces. Reads and seeks write the gathered bytes out first; so
// does Flush, and the destructor (whose failures go unreported: call Flush
// to learn of them).
class TBufferedFileStream : public TFileStream {
 public:
  static constexpr int32_t DefaultBufferSize = 256 * 1024;

  TBufferedFileStream(const std::string& FileName, TOpenMode Mode,
                      int32_t BufferSize = DefaultBufferSize);
  ~TBufferedFileStream() override;

  int32_t Read(void* Buffer, int32_t Count) override;
  // Returns Count, or fewer when gathered bytes could not be written out.
  int32_t Write(const void* Buffer, int32_t Count) override;
  // Returns -1 when the gathered bytes could not be written out.
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
  // Writes the gathered bytes out. Raises EWriteError("Stream write error")
  // when the system stores fewer.
  void Flush() override;

 private:
  bool WriteGathered();

  std::vector<uint8_t> FBuffer;
  size_t FUsed = 0;
};

// A stream over memory that it does not own, for reading only; writes store
// nothing.
class TReadOnlyMemoryStream : public TStream {
 public:
  TReadOnlyMemoryStream(const void* Data, int64_t Size)
      : FData(static_cast<const uint8_t*>(Data)), FSize(Size) {}

  int32_t Read(void* Buffer, int32_t Count) override;
  int32_t Write(const void*, int32_t) override { return 0; }
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
  int64_t GetSize() override { return FSize; }
  const uint8_t* Memory() const { return FData; }

 protected:
  void Reset(const void* Data, int64_t Size);

 private:
  const uint8_t* FData;
  int64_t FSize;
  int64_t FPosition = 0;
};

// A growable stream in memory.
class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;

  int32_t Read(void* Buffer, int32_t Count) override;
  int32_t Write(const void* Buffer, int32_t Count) override;
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
  int64_t GetSize() override { return static_cast<int64_t>(FData.size()); }

  const uint8_t* Memory() const { return FData.data(); }
  const std::vector<uint8_t>& Bytes() const { return FData; }
  // Gives up the contents; the stream is empty afterwards.
  std::vector<uint8_t> TakeBytes();
  void Clear();

 private:
  std::vector<uint8_t> FData;
  int64_t FPosition = 0;
};

}  // namespace kv
