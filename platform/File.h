#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Files on POSIX descriptors, in place of the Windows file handle interface.
namespace platform {

using THandle = int;
inline constexpr THandle InvalidHandle = -1;

// Owns a descriptor and closes it.
class TFileHandle {
public:
  TFileHandle() = default;
  explicit TFileHandle(THandle Handle) : FHandle(Handle) {}
  ~TFileHandle() { Reset(); }
  TFileHandle(TFileHandle&& Other) noexcept : FHandle(Other.Release()) {}
  TFileHandle& operator=(TFileHandle&& Other) noexcept;
  TFileHandle(const TFileHandle&) = delete;
  TFileHandle& operator=(const TFileHandle&) = delete;

  THandle Get() const { return FHandle; }
  bool Valid() const { return FHandle != InvalidHandle; }
  THandle Release();
  void Reset(THandle Handle = InvalidHandle);

private:
  THandle FHandle = InvalidHandle;
};

enum class TFileAccess { Read, Write, ReadWrite };
// What other openers may do while we hold the file. Enforced among cooperating openers with
// advisory locks: Exclusive takes an exclusive lock and fails when another holds one.
enum class TFileShare { Exclusive, Read, Write, ReadWrite };

// Creates the file (or truncates an existing one) for reading and writing. Invalid on failure,
// with errno set.
TFileHandle FileCreate(const std::string& Name, TFileShare Share);
// Opens an existing file. Invalid on failure, with errno set.
TFileHandle FileOpen(const std::string& Name, TFileAccess Access, TFileShare Share);

enum class TSeekOrigin { Begin, Current, End };

// The primitives on a handle. Each returns -1 (or false) on failure with errno set. Read and
// Write retry interrupted and partial transfers: a short read means the end of the file, and
// Write either writes everything or fails (ENOSPC when the system stops taking bytes).
int64_t FileSeek(THandle Handle, int64_t Offset, TSeekOrigin Origin);
int64_t FileRead(THandle Handle, void* Buffer, size_t Count);
int64_t FileWrite(THandle Handle, const void* Buffer, size_t Count);
int64_t FileSize(THandle Handle);
// Cuts the file at the current position (or lengthens it with zeros up to it).
bool FileSetEnd(THandle Handle);

// The system's message for an error number ("No such file or directory").
std::string SysErrorMessage(int Error);

// A stream over a handle it does not own: read, write, seek, size.
class THandleStream {
public:
  explicit THandleStream(THandle Handle) : FHandle(Handle) {}
  virtual ~THandleStream() = default;
  THandleStream(const THandleStream&) = delete;
  THandleStream& operator=(const THandleStream&) = delete;

  THandle Handle() const { return FHandle; }
  int64_t Read(void* Buffer, size_t Count) { return FileRead(FHandle, Buffer, Count); }
  int64_t Write(const void* Buffer, size_t Count) { return FileWrite(FHandle, Buffer, Count); }
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) { return FileSeek(FHandle, Offset, Origin); }
  int64_t Position() { return FileSeek(FHandle, 0, TSeekOrigin::Current); }
  int64_t Size() { return FileSize(FHandle); }
  // Sets the size of the file, leaving the position at the new end.
  bool SetSize(int64_t NewSize);

protected:
  THandle FHandle;
};

// A file mapped into memory for reading and writing; unmapped when the owner goes.
class TFileMapping {
public:
  TFileMapping() = default;
  // Maps the first Length bytes of the file; the file must be at least that long.
  TFileMapping(THandle Handle, size_t Length);
  ~TFileMapping();
  TFileMapping(TFileMapping&& Other) noexcept;
  TFileMapping& operator=(TFileMapping&& Other) noexcept;
  TFileMapping(const TFileMapping&) = delete;
  TFileMapping& operator=(const TFileMapping&) = delete;

  bool Valid() const { return FData != nullptr; }
  uint8_t* Data() const { return FData; }
  size_t Size() const { return FSize; }
  // Writes the mapped bytes back to the file now.
  bool Flush();

private:
  uint8_t* FData = nullptr;
  size_t FSize = 0;
};

} // namespace platform
