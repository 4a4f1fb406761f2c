#include "platform/File.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace platform {
namespace {

int OpenFlags(TFileAccess Access) {
  switch (Access) {
  case TFileAccess::Read:
    return O_RDONLY;
  case TFileAccess::Write:
    return O_WRONLY;
  case TFileAccess::ReadWrite:
    return O_RDWR;
  }
  return O_RDONLY;
}

// Closes the file when another opener already holds the exclusive lock.
bool LockExclusive(TFileHandle& File) {
  if (flock(File.Get(), LOCK_EX | LOCK_NB) == 0)
    return true;
  File.Reset();
  return false;
}

// Retries interrupted and partial transfers; stops early only when nothing more moves.
template <typename TTransfer, typename TByte>
int64_t TransferAll(TTransfer Transfer, THandle Handle, TByte* Bytes, size_t Count) {
  size_t Done = 0;
  while (Done < Count) {
    const ssize_t Moved = Transfer(Handle, Bytes + Done, Count - Done);
    if (Moved < 0 && errno == EINTR)
      continue;
    if (Moved < 0)
      return -1;
    if (Moved == 0)
      break;
    Done += static_cast<size_t>(Moved);
  }
  return static_cast<int64_t>(Done);
}

} // namespace

TFileHandle& TFileHandle::operator=(TFileHandle&& Other) noexcept {
  Reset(Other.Release());
  return *this;
}

THandle TFileHandle::Release() {
  return std::exchange(FHandle, InvalidHandle);
}

void TFileHandle::Reset(THandle Handle) {
  if (FHandle != InvalidHandle && FHandle != Handle)
    close(FHandle);
  FHandle = Handle;
}

TFileHandle FileCreate(const std::string& Name, TFileShare Share) {
  const bool Exclusive = Share == TFileShare::Exclusive;
  // An exclusive creator truncates only once it holds the lock, so that a file another
  // holder has open is left whole.
  TFileHandle File(
      open(Name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | (Exclusive ? 0 : O_TRUNC), 0666));
  if (!File.Valid() || !Exclusive)
    return File;
  if (LockExclusive(File) && ftruncate(File.Get(), 0) != 0)
    File.Reset();
  return File;
}

TFileHandle FileOpen(const std::string& Name, TFileAccess Access, TFileShare Share) {
  TFileHandle File(open(Name.c_str(), OpenFlags(Access) | O_CLOEXEC));
  if (File.Valid() && Share == TFileShare::Exclusive)
    LockExclusive(File);
  return File;
}

int64_t FileSeek(THandle Handle, int64_t Offset, TSeekOrigin Origin) {
  const int Whence = Origin == TSeekOrigin::Begin     ? SEEK_SET
                     : Origin == TSeekOrigin::Current ? SEEK_CUR
                                                      : SEEK_END;
  return lseek(Handle, Offset, Whence);
}

int64_t FileRead(THandle Handle, void* Buffer, size_t Count) {
  return TransferAll(read, Handle, static_cast<uint8_t*>(Buffer), Count);
}

int64_t FileWrite(THandle Handle, const void* Buffer, size_t Count) {
  const int64_t Written = TransferAll(write, Handle, static_cast<const uint8_t*>(Buffer), Count);
  // A write that moves nothing more has found the disk full, and says so like any failure.
  if (Written >= 0 && static_cast<size_t>(Written) < Count) {
    errno = ENOSPC;
    return -1;
  }
  return Written;
}

int64_t FileSize(THandle Handle) {
  struct stat Status;
  if (fstat(Handle, &Status) != 0)
    return -1;
  return Status.st_size;
}

bool FileSetEnd(THandle Handle) {
  const off_t Position = lseek(Handle, 0, SEEK_CUR);
  return Position >= 0 && ftruncate(Handle, Position) == 0;
}

std::string SysErrorMessage(int Error) {
  char Buffer[256];
  // glibc's strerror_r returns the text, which need not be in Buffer.
  return strerror_r(Error, Buffer, sizeof Buffer);
}

bool THandleStream::SetSize(int64_t NewSize) {
  return ftruncate(FHandle, NewSize) == 0 && Seek(NewSize, TSeekOrigin::Begin) == NewSize;
}

TFileMapping::TFileMapping(THandle Handle, size_t Length) {
  if (Length == 0)
    return;
  void* Data = mmap(nullptr, Length, PROT_READ | PROT_WRITE, MAP_SHARED, Handle, 0);
  if (Data == MAP_FAILED)
    return;
  FData = static_cast<uint8_t*>(Data);
  FSize = Length;
}

TFileMapping::~TFileMapping() {
  if (FData)
    munmap(FData, FSize);
}

TFileMapping::TFileMapping(TFileMapping&& Other) noexcept
    : FData(std::exchange(Other.FData, nullptr)), FSize(std::exchange(Other.FSize, 0)) {}

TFileMapping& TFileMapping::operator=(TFileMapping&& Other) noexcept {
  // Our old mapping goes with Taken, right here.
  TFileMapping Taken(std::move(Other));
  std::swap(FData, Taken.FData);
  std::swap(FSize, Taken.FSize);
  return *this;
}

bool TFileMapping::Flush() {
  return Valid() && msync(FData, FSize, MS_SYNC) == 0;
}

} // namespace platform
