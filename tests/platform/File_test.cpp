#include "platform/File.h"

#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <numeric>
#include <thread>
#include <vector>

using namespace platform;

namespace {

std::vector<uint8_t> Pattern(size_t Count) {
  std::vector<uint8_t> Bytes(Count);
  for (size_t I = 0; I < Count; ++I)
    Bytes[I] = static_cast<uint8_t>(I * 7 + 3);
  return Bytes;
}

void WriteFile(const std::string& Name, const std::vector<uint8_t>& Bytes) {
  const TFileHandle File = FileCreate(Name, TFileShare::ReadWrite);
  ASSERT_TRUE(File.Valid()) << SysErrorMessage(errno);
  ASSERT_EQ(FileWrite(File.Get(), Bytes.data(), Bytes.size()), static_cast<int64_t>(Bytes.size()));
}

std::vector<uint8_t> ReadFile(const std::string& Name) {
  const TFileHandle File = FileOpen(Name, TFileAccess::Read, TFileShare::ReadWrite);
  std::vector<uint8_t> Bytes(static_cast<size_t>(std::max<int64_t>(FileSize(File.Get()), 0)));
  EXPECT_EQ(FileRead(File.Get(), Bytes.data(), Bytes.size()), static_cast<int64_t>(Bytes.size()));
  return Bytes;
}

bool IsOpen(THandle Handle) {
  return fcntl(Handle, F_GETFD) != -1;
}

const TFileShare AllShares[] = {TFileShare::Exclusive, TFileShare::Read, TFileShare::Write,
                                TFileShare::ReadWrite};

TEST(FileCreate, CreatesOrTruncatesWithEveryShare) {
  const TTempDir Dir;
  for (const TFileShare Share : AllShares) {
    SCOPED_TRACE(static_cast<int>(Share));
    const std::string Name = Dir.File("created");
    {
      const TFileHandle File = FileCreate(Name, Share);
      ASSERT_TRUE(File.Valid()) << SysErrorMessage(errno);
      EXPECT_EQ(FileSize(File.Get()), 0);
      EXPECT_EQ(FileWrite(File.Get(), "abc", 3), 3);
      // Descriptors must not leak into programs we start.
      EXPECT_TRUE(fcntl(File.Get(), F_GETFD) & FD_CLOEXEC);
    }
    ASSERT_EQ(ReadFile(Name), (std::vector<uint8_t>{'a', 'b', 'c'}));
    const TFileHandle Again = FileCreate(Name, Share);
    ASSERT_TRUE(Again.Valid()) << SysErrorMessage(errno);
    EXPECT_EQ(FileSize(Again.Get()), 0);
  }
}

TEST(FileOpen, HonoursTheAccess) {
  struct TCase {
    TFileAccess Access;
    bool CanRead;
    bool CanWrite;
  };
  const TCase Cases[] = {{TFileAccess::Read, true, false},
                         {TFileAccess::Write, false, true},
                         {TFileAccess::ReadWrite, true, true}};
  const TTempDir Dir;
  const std::string Name = Dir.File("data");
  WriteFile(Name, Pattern(16));
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(static_cast<int>(Case.Access));
    const TFileHandle File = FileOpen(Name, Case.Access, TFileShare::ReadWrite);
    ASSERT_TRUE(File.Valid()) << SysErrorMessage(errno);
    EXPECT_TRUE(fcntl(File.Get(), F_GETFD) & FD_CLOEXEC);
    uint8_t Byte = 0;
    EXPECT_EQ(FileRead(File.Get(), &Byte, 1) == 1, Case.CanRead);
    EXPECT_EQ(FileWrite(File.Get(), &Byte, 1) == 1, Case.CanWrite);
  }
  // Opening never changes the contents.
  EXPECT_EQ(ReadFile(Name).size(), 16u);
}

TEST(FileOpen, MissingFileFailsWithTheSystemsReason) {
  const TTempDir Dir;
  for (const TFileAccess Access : {TFileAccess::Read, TFileAccess::Write, TFileAccess::ReadWrite}) {
    for (const TFileShare Share : AllShares) {
      errno = 0;
      EXPECT_FALSE(FileOpen(Dir.File("missing"), Access, Share).Valid());
      EXPECT_EQ(errno, ENOENT);
    }
  }
  errno = 0;
  EXPECT_FALSE(FileCreate(Dir.File("no/such/folder"), TFileShare::Exclusive).Valid());
  EXPECT_EQ(errno, ENOENT);
  // Failed opens create nothing.
  EXPECT_TRUE(std::filesystem::is_empty(Dir.Path()));
}

TEST(SysErrorMessage, GivesTheSystemsText) {
  struct TCase {
    int Error;
    const char* Text;
  };
  const TCase Cases[] = {{ENOENT, "No such file or directory"},
                         {EACCES, "Permission denied"},
                         {EWOULDBLOCK, "Resource temporarily unavailable"},
                         {123456, "Unknown error 123456"}};
  for (const TCase& Case : Cases)
    EXPECT_EQ(SysErrorMessage(Case.Error), Case.Text);
}

TEST(FileShare, ExclusiveHolderKeepsOtherExclusiveOpenersOut) {
  const TTempDir Dir;
  const std::string Name = Dir.File("held");
  const std::vector<uint8_t> Contents = Pattern(100);
  WriteFile(Name, Contents);
  {
    const TFileHandle Holder = FileOpen(Name, TFileAccess::ReadWrite, TFileShare::Exclusive);
    ASSERT_TRUE(Holder.Valid()) << SysErrorMessage(errno);

    errno = 0;
    EXPECT_FALSE(FileOpen(Name, TFileAccess::Read, TFileShare::Exclusive).Valid());
    EXPECT_EQ(errno, EWOULDBLOCK);
    errno = 0;
    EXPECT_FALSE(FileCreate(Name, TFileShare::Exclusive).Valid());
    EXPECT_EQ(errno, EWOULDBLOCK);
    // The refused creator left the held file whole.
    EXPECT_EQ(FileSize(Holder.Get()), 100);
    EXPECT_EQ(ReadFile(Name), Contents);

    // Sharing openers take no lock.
    EXPECT_TRUE(FileOpen(Name, TFileAccess::Read, TFileShare::ReadWrite).Valid());
  }
  EXPECT_TRUE(FileOpen(Name, TFileAccess::Read, TFileShare::Exclusive).Valid());
}

TEST(FileHandle, ClosesWhatItOwns) {
  const TTempDir Dir;
  TFileHandle First = FileCreate(Dir.File("a"), TFileShare::ReadWrite);
  const THandle FirstHandle = First.Get();
  TFileHandle Second = FileCreate(Dir.File("b"), TFileShare::ReadWrite);
  const THandle SecondHandle = Second.Get();
  ASSERT_TRUE(IsOpen(FirstHandle) && IsOpen(SecondHandle));

  Second = std::move(First);
  EXPECT_FALSE(First.Valid());
  EXPECT_EQ(Second.Get(), FirstHandle);
  EXPECT_FALSE(IsOpen(SecondHandle));

  const THandle Released = Second.Release();
  EXPECT_FALSE(Second.Valid());
  EXPECT_TRUE(IsOpen(Released));
  { const TFileHandle Owner(Released); }
  EXPECT_FALSE(IsOpen(Released));
}

TEST(FilePrimitives, ReadWriteSeekAndSetEndRoundTrip) {
  const TTempDir Dir;
  const TFileHandle File = FileCreate(Dir.File("data"), TFileShare::Exclusive);
  ASSERT_TRUE(File.Valid()) << SysErrorMessage(errno);
  const THandle Handle = File.Get();
  const std::vector<uint8_t> Bytes = Pattern(1000);
  ASSERT_EQ(FileWrite(Handle, Bytes.data(), Bytes.size()), 1000);
  EXPECT_EQ(FileSize(Handle), 1000);

  std::vector<uint8_t> Read(200);
  EXPECT_EQ(FileSeek(Handle, 10, TSeekOrigin::Begin), 10);
  ASSERT_EQ(FileRead(Handle, Read.data(), 5), 5);
  EXPECT_TRUE(std::equal(Read.begin(), Read.begin() + 5, Bytes.begin() + 10));
  EXPECT_EQ(FileSeek(Handle, 5, TSeekOrigin::Current), 20);
  EXPECT_EQ(FileSeek(Handle, -100, TSeekOrigin::End), 900);
  // A short read is the end of the file.
  ASSERT_EQ(FileRead(Handle, Read.data(), 200), 100);
  EXPECT_TRUE(std::equal(Read.begin(), Read.begin() + 100, Bytes.begin() + 900));
  EXPECT_EQ(FileRead(Handle, Read.data(), 200), 0);

  EXPECT_EQ(FileSeek(Handle, 500, TSeekOrigin::Begin), 500);
  ASSERT_TRUE(FileSetEnd(Handle));
  EXPECT_EQ(FileSize(Handle), 500);
  EXPECT_EQ(FileSeek(Handle, 800, TSeekOrigin::Begin), 800);
  ASSERT_TRUE(FileSetEnd(Handle));
  EXPECT_EQ(FileSize(Handle), 800);
  EXPECT_EQ(FileSeek(Handle, 400, TSeekOrigin::Begin), 400);
  ASSERT_EQ(FileRead(Handle, Read.data(), 200), 200);
  EXPECT_TRUE(std::equal(Read.begin(), Read.begin() + 100, Bytes.begin() + 400));
  EXPECT_TRUE(std::all_of(Read.begin() + 100, Read.end(), [](uint8_t B) { return B == 0; }));

  errno = 0;
  EXPECT_EQ(FileSeek(Handle, -1, TSeekOrigin::Begin), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(FileRead(InvalidHandle, Read.data(), 1), -1);
  EXPECT_EQ(FileWrite(InvalidHandle, Read.data(), 1), -1);
  EXPECT_EQ(FileSize(InvalidHandle), -1);
  EXPECT_FALSE(FileSetEnd(InvalidHandle));
}

TEST(FilePrimitives, ReadGathersPartialTransfersUntilTheEnd) {
  int Ends[2];
  ASSERT_EQ(pipe2(Ends, O_CLOEXEC), 0);
  const TFileHandle Reader(Ends[0]);
  TFileHandle Writer(Ends[1]);
  // Pieces that arrive one by one, each a partial transfer for a pipe's reader; together they
  // fit in the pipe, so the feeder never waits on a reader that stopped early.
  const std::vector<uint8_t> Bytes = Pattern(8 * 1024);
  std::thread Feeder([&] {
    for (size_t Done = 0; Done < Bytes.size(); Done += 1024) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      FileWrite(Writer.Get(), Bytes.data() + Done, 1024);
    }
    Writer.Reset();
  });
  std::vector<uint8_t> Read(Bytes.size() + 1);
  const int64_t Count = FileRead(Reader.Get(), Read.data(), Read.size());
  Feeder.join();
  EXPECT_EQ(Count, static_cast<int64_t>(Bytes.size()));
  Read.pop_back();
  EXPECT_EQ(Read, Bytes);
}

TEST(HandleStream, SetSizeMovesThePositionToTheNewEnd) {
  const TTempDir Dir;
  const TFileHandle File = FileCreate(Dir.File("stream"), TFileShare::Exclusive);
  THandleStream Stream(File.Get());
  const std::vector<uint8_t> Bytes = Pattern(100);
  ASSERT_EQ(Stream.Write(Bytes.data(), Bytes.size()), 100);

  for (const int64_t Size : {40, 300, 0}) {
    SCOPED_TRACE(Size);
    ASSERT_TRUE(Stream.SetSize(Size));
    EXPECT_EQ(Stream.Size(), Size);
    EXPECT_EQ(Stream.Position(), Size);
  }
  EXPECT_EQ(Stream.Write("xy", 2), 2);
  EXPECT_EQ(Stream.Size(), 2);
  EXPECT_FALSE(Stream.SetSize(-1));
}

TEST(FileMapping, WritesReachTheFileAndReadsSeeIt) {
  const TTempDir Dir;
  const std::string Name = Dir.File("mapped");
  const std::vector<uint8_t> Bytes = Pattern(8192);
  WriteFile(Name, Bytes);
  const TFileHandle File = FileOpen(Name, TFileAccess::ReadWrite, TFileShare::Exclusive);
  TFileMapping Mapping(File.Get(), Bytes.size());
  ASSERT_TRUE(Mapping.Valid()) << SysErrorMessage(errno);
  ASSERT_EQ(Mapping.Size(), Bytes.size());
  EXPECT_TRUE(std::equal(Bytes.begin(), Bytes.end(), Mapping.Data()));

  std::iota(Mapping.Data(), Mapping.Data() + Mapping.Size(), uint8_t{0});
  EXPECT_TRUE(Mapping.Flush());
  const std::vector<uint8_t> Written = ReadFile(Name);
  ASSERT_EQ(Written.size(), Bytes.size());
  for (size_t I = 0; I < Written.size(); ++I)
    ASSERT_EQ(Written[I], static_cast<uint8_t>(I)) << I;

  const TFileMapping Moved = std::move(Mapping);
  EXPECT_FALSE(Mapping.Valid());
  EXPECT_EQ(Mapping.Size(), 0u);
  EXPECT_FALSE(Mapping.Flush());
  EXPECT_TRUE(Moved.Valid());
  EXPECT_EQ(Moved.Size(), Bytes.size());
}

TEST(FileMapping, NothingToMapGivesAnInvalidMapping) {
  const TTempDir Dir;
  const std::string Name = Dir.File("small");
  WriteFile(Name, Pattern(10));
  const TFileHandle ReadOnly = FileOpen(Name, TFileAccess::Read, TFileShare::ReadWrite);
  const TFileHandle ReadWrite = FileOpen(Name, TFileAccess::ReadWrite, TFileShare::ReadWrite);
  struct TCase {
    const char* What;
    THandle Handle;
    size_t Length;
  };
  const TCase Cases[] = {{"no length", ReadWrite.Get(), 0},
                         {"read-only file", ReadOnly.Get(), 10},
                         {"no file", InvalidHandle, 10}};
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.What);
    TFileMapping Mapping(Case.Handle, Case.Length);
    EXPECT_FALSE(Mapping.Valid());
    EXPECT_EQ(Mapping.Data(), nullptr);
    EXPECT_EQ(Mapping.Size(), 0u);
    EXPECT_FALSE(Mapping.Flush());
  }
}

} // namespace
