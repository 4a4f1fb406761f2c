#include "platform/DriveRegistry.h"

#include "platform/IniReader.h"
#include "platform/System.h"

#include <cdio/cdio.h>
#include <cdio/logging.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>

namespace platform {

// One drive of the list; discs opened on it keep it, so that they see it leave the list.
struct TDriveEntry {
  char Letter = 0;
  std::string Name, Path;
  bool Virtual = false;
  std::atomic<bool> Listed{true};
  std::atomic<bool> TrayOpen{false};
  // Every opening of the tray, so that a disc read before still sees it after the tray closed.
  std::atomic<uint32_t> Ejections{0};
  std::atomic<bool> Playing{false};
};

namespace {

struct TFileStamp {
  bool Exists = false;
  dev_t Device = 0;
  ino_t Inode = 0;
  off_t Size = 0;
  int64_t Modified = 0, StatusChanged = 0;
  bool operator==(const TFileStamp&) const = default;
};

TFileStamp StampOf(const std::string& Path) {
  struct stat Status;
  if (Path.empty() || stat(Path.c_str(), &Status) != 0)
    return {};
  const auto Nanoseconds = [](const timespec& Time) {
    return static_cast<int64_t>(Time.tv_sec) * 1'000'000'000 + Time.tv_nsec;
  };
  return {true,
          Status.st_dev,
          Status.st_ino,
          Status.st_size,
          Nanoseconds(Status.st_mtim),
          Nanoseconds(Status.st_ctim)};
}

// What the list is made from; the list is made again when any of it differs.
struct TSources {
  std::string IniFile, DemoFile;
  TFileStamp Ini, Demo;
  bool operator==(const TSources&) const = default;
};

struct TDriveSpec {
  std::string Name, Path;
  bool Virtual = false;
};

// libcdio's cue parser keeps its place in strtok and its driver table is set up on first use,
// so handles are opened, and drives probed, one at a time.
std::mutex CdIoLock;

// libcdio's own handler ends the process on an error, such as a cue sheet that is a folder.
// Warnings (short pregaps and the like) would come at every opening of an image.
void LogCdIo(cdio_log_level_t Level, const char Message[]) {
  if (Level == CDIO_LOG_ASSERT)
    cdio_default_log_handler(Level, Message);
  else if (Level >= CDIO_LOG_ERROR)
    std::fprintf(stderr, "libcdio: %s\n", Message);
}

struct TRegistry {
  TRegistry() { cdio_log_set_handler(LogCdIo); }

  std::mutex Lock;
  // Guarded by Lock.
  std::optional<TSources> Sources;
  std::vector<std::shared_ptr<TDriveEntry>> Drives;
};

// Never destroyed, so that discs and threads still about at process end find it.
TRegistry& Registry() {
  static TRegistry* const Instance = new TRegistry;
  return *Instance;
}

std::string DemoDiscFile() {
  if (const char* File = std::getenv("TAVRUNE_DEMO_DISC"); File && *File)
    return File;
  static const std::string Installed = [] {
    const std::string Folder = ProgramFolder();
    if (Folder.empty())
      return std::string();
    return (std::filesystem::path(Folder) / "../share/tavrune/demo.cue")
        .lexically_normal()
        .string();
  }();
  return Installed;
}

TSources CurrentSources() {
  TSources Sources;
  if (const std::string AppData = AppDataFolder(); !AppData.empty())
    Sources.IniFile = AppData + "/tavrune/drives.ini";
  Sources.DemoFile = DemoDiscFile();
  Sources.Ini = StampOf(Sources.IniFile);
  Sources.Demo = StampOf(Sources.DemoFile);
  return Sources;
}

// The number of a key "Image<N>", 0 for any other key.
unsigned ImageNumber(const std::string& Key) {
  constexpr std::string_view Prefix = "image";
  if (Key.size() <= Prefix.size())
    return 0;
  for (size_t I = 0; I < Prefix.size(); ++I)
    if ((Key[I] | 0x20) != Prefix[I])
      return 0;
  unsigned Number = 0;
  const char* End = Key.data() + Key.size();
  const auto [Stop, Error] = std::from_chars(Key.data() + Prefix.size(), End, Number);
  return Error == std::errc() && Stop == End ? Number : 0;
}

std::vector<std::string> ImageFiles(const std::string& IniFile) {
  std::map<unsigned, std::string> Images;
  for (const auto& [Key, Value] : TIniReader(IniFile).ReadSection("Images"))
    if (const unsigned Number = ImageNumber(Key); Number > 0 && !Value.empty())
      Images.try_emplace(Number, Value);
  // A relative name is taken from the folder of drives.ini, not from wherever we were started.
  const std::filesystem::path Folder = std::filesystem::path(IniFile).parent_path();
  std::vector<std::string> Files;
  for (const auto& [Number, File] : Images)
    Files.push_back((Folder / File).lexically_normal().string());
  return Files;
}

std::string HardwareName(const std::string& Device) {
  const std::lock_guard Guard(CdIoLock);
  const TCdIoPtr Handle(cdio_open(Device.c_str(), DRIVER_DEVICE));
  cdio_hwinfo_t Info{};
  if (!Handle || !cdio_get_hwinfo(Handle.get(), &Info))
    return Device;
  std::string Name = std::string(Info.psz_vendor) + " " + Info.psz_model;
  Name.erase(0, Name.find_first_not_of(' '));
  Name.erase(Name.find_last_not_of(' ') + 1);
  return Name.empty() ? Device : Name;
}

std::vector<TDriveSpec> PhysicalDrives() {
  std::vector<std::string> Devices;
  {
    const std::lock_guard Guard(CdIoLock);
    char** List = cdio_get_devices(DRIVER_DEVICE);
    for (char** Device = List; Device && *Device; ++Device)
      Devices.emplace_back(*Device);
    cdio_free_device_list(List);
  }
  std::vector<TDriveSpec> Drives;
  for (const std::string& Device : Devices)
    Drives.push_back({HardwareName(Device), Device, false});
  return Drives;
}

std::vector<TDriveSpec> DriveSpecs(const TSources& Sources) {
  std::vector<TDriveSpec> Drives = PhysicalDrives();
  const std::vector<std::string> Images = ImageFiles(Sources.IniFile);
  for (const std::string& Image : Images)
    Drives.push_back({std::filesystem::path(Image).stem().string(), Image, true});
  if (Drives.empty() && Sources.Demo.Exists)
    Drives.push_back({"demo", Sources.DemoFile, true});
  return Drives;
}

// Under Registry().Lock.
void Refresh(TRegistry& Registry) {
  TSources Sources = CurrentSources();
  if (Registry.Sources == Sources)
    return;
  std::vector<std::shared_ptr<TDriveEntry>> Drives;
  char Letter = 'D';
  for (TDriveSpec& Spec : DriveSpecs(Sources)) {
    if (Letter > 'Z')
      break;
    // A drive that stays what it was keeps its tray and play state, and its discs stay valid.
    const auto Same = std::ranges::find_if(Registry.Drives, [&](const auto& Old) {
      return Old->Letter == Letter && Old->Path == Spec.Path && Old->Virtual == Spec.Virtual;
    });
    if (Same != Registry.Drives.end()) {
      Drives.push_back(*Same);
    } else {
      auto Entry = std::make_shared<TDriveEntry>();
      Entry->Letter = Letter;
      Entry->Name = std::string(1, Letter) + ": " + Spec.Name;
      Entry->Path = std::move(Spec.Path);
      Entry->Virtual = Spec.Virtual;
      Drives.push_back(std::move(Entry));
    }
    ++Letter;
  }
  for (const auto& Old : Registry.Drives)
    if (std::ranges::find(Drives, Old) == Drives.end())
      Old->Listed = false;
  Registry.Drives = std::move(Drives);
  Registry.Sources = std::move(Sources);
}

std::shared_ptr<TDriveEntry> FindDrive(char Letter) {
  if (Letter >= 'a' && Letter <= 'z')
    Letter = static_cast<char>(Letter - 'a' + 'A');
  TRegistry& Registry = platform::Registry();
  const std::lock_guard Guard(Registry.Lock);
  Refresh(Registry);
  const auto Found = std::ranges::find_if(
      Registry.Drives, [&](const auto& Entry) { return Entry->Letter == Letter; });
  return Found == Registry.Drives.end() ? nullptr : *Found;
}

TCdIoPtr OpenImage(const std::string& File) {
  const std::lock_guard Guard(CdIoLock);
  for (const driver_id_t Driver : {DRIVER_BINCUE, DRIVER_CDRDAO, DRIVER_NRG})
    if (TCdIoPtr Handle(cdio_open(File.c_str(), Driver)); Handle)
      return Handle;
  return nullptr;
}

TCdIoPtr OpenDevice(const std::string& Device) {
  const std::lock_guard Guard(CdIoLock);
  TCdIoPtr Handle(cdio_open(Device.c_str(), DRIVER_DEVICE));
  // The first answer tells of changes before we opened.
  if (Handle)
    cdio_get_media_changed(Handle.get());
  return Handle;
}

std::optional<TDiscToc> ReadToc(CdIo_t* Handle) {
  const track_t First = cdio_get_first_track_num(Handle);
  const track_t Count = cdio_get_num_tracks(Handle);
  if (First == CDIO_INVALID_TRACK || Count == CDIO_INVALID_TRACK || Count == 0 ||
      First + Count - 1 > 99)
    return std::nullopt;
  TDiscToc Toc;
  Toc.FirstTrack = First;
  for (track_t Track = First; Track < First + Count; ++Track)
    Toc.Tracks.push_back({Track, cdio_get_track_lsn(Handle, Track),
                          cdio_get_track_format(Handle, Track) == TRACK_FORMAT_AUDIO});
  Toc.LeadOut = cdio_get_track_lsn(Handle, CDIO_CDROM_LEADOUT_TRACK);
  // A table out of order would give ranges that overlap or run past the end of the image.
  int32_t Previous = -1;
  for (const TTocTrack& Track : Toc.Tracks) {
    if (Track.Lsn == CDIO_INVALID_LSN || Track.Lsn <= Previous)
      return std::nullopt;
    Previous = Track.Lsn;
  }
  if (Toc.LeadOut == CDIO_INVALID_LSN || Toc.LeadOut <= Previous)
    return std::nullopt;
  return Toc;
}

} // namespace

void TCdIoDeleter::operator()(_CdIo* Handle) const {
  cdio_destroy(Handle);
}

struct TDisc::TState {
  TCdIoPtr Handle;
  std::shared_ptr<TDriveEntry> Drive;
  uint32_t Ejections = 0;
  TDiscToc Toc;
  // The image's files (the image and its data file) as they were when the disc was read.
  std::vector<std::pair<std::string, TFileStamp>> Files;
  bool Changed = false;
};

TDisc::TDisc(std::unique_ptr<TState> State) : FState(std::move(State)) {}
TDisc::~TDisc() = default;

char TDisc::Letter() const {
  return FState->Drive->Letter;
}

bool TDisc::Virtual() const {
  return FState->Drive->Virtual;
}

const TDiscToc& TDisc::Toc() const {
  return FState->Toc;
}

_CdIo* TDisc::Handle() const {
  return FState->Handle.get();
}

bool TDisc::Changed() {
  TState& State = *FState;
  if (State.Changed)
    return true;
  {
    TRegistry& Registry = platform::Registry();
    const std::lock_guard Guard(Registry.Lock);
    Refresh(Registry);
  }
  const bool FilesChanged = std::ranges::any_of(
      State.Files, [](const auto& File) { return StampOf(File.first) != File.second; });
  State.Changed = !State.Drive->Listed || State.Drive->Ejections != State.Ejections ||
                  FilesChanged ||
                  (!State.Drive->Virtual && cdio_get_media_changed(State.Handle.get()) == 1);
  return State.Changed;
}

bool TDisc::ReadAudioSectors(int32_t Lsn, uint32_t Count, void* Buffer) {
  if (!Buffer || Count == 0 || Lsn < 0 || int64_t{Lsn} + Count > FState->Toc.LeadOut)
    return false;
  if (cdio_read_audio_sectors(FState->Handle.get(), Buffer, Lsn, Count) != DRIVER_OP_SUCCESS)
    return false;
  // libcdio reports success for a short read of an image that shrank; the stamps tell.
  return !Changed();
}

std::vector<TDriveInfo> CDDrives() {
  TRegistry& Registry = platform::Registry();
  const std::lock_guard Guard(Registry.Lock);
  Refresh(Registry);
  std::vector<TDriveInfo> Drives;
  for (const auto& Entry : Registry.Drives)
    Drives.push_back({Entry->Letter, Entry->Name, Entry->Path, Entry->Virtual});
  return Drives;
}

uint32_t GetDriveType(char Letter) {
  return FindDrive(Letter) ? DRIVE_CDROM : DRIVE_NO_ROOT_DIR;
}

std::unique_ptr<TDisc> OpenDisc(char Letter) {
  std::shared_ptr<TDriveEntry> Drive = FindDrive(Letter);
  if (!Drive || (Drive->Virtual && Drive->TrayOpen))
    return nullptr;
  auto State = std::make_unique<TDisc::TState>();
  State->Ejections = Drive->Ejections;
  const TFileStamp Before = Drive->Virtual ? StampOf(Drive->Path) : TFileStamp();
  State->Handle = Drive->Virtual ? OpenImage(Drive->Path) : OpenDevice(Drive->Path);
  if (!State->Handle)
    return nullptr;
  std::optional<TDiscToc> Toc = ReadToc(State->Handle.get());
  if (!Toc)
    return nullptr;
  State->Toc = std::move(*Toc);
  if (Drive->Virtual) {
    State->Files.emplace_back(Drive->Path, StampOf(Drive->Path));
    // An image that changed while it was being opened may have given a table of another disc.
    if (State->Files.front().second != Before)
      return nullptr;
    if (const char* Data = cdio_get_arg(State->Handle.get(), "source"); Data && Data != Drive->Path)
      State->Files.emplace_back(Data, StampOf(Data));
  }
  State->Drive = std::move(Drive);
  return std::make_unique<TDisc>(std::move(State));
}

bool EjectDrive(char Letter, bool Eject) {
  const std::shared_ptr<TDriveEntry> Drive = FindDrive(Letter);
  if (!Drive)
    return false;
  if (Eject)
    ++Drive->Ejections;
  if (Drive->Virtual) {
    Drive->TrayOpen = Eject;
    return true;
  }
  const std::lock_guard Guard(CdIoLock);
  driver_id_t Driver = DRIVER_DEVICE;
  const driver_return_code_t Result = Eject ? cdio_eject_media_drive(Drive->Path.c_str())
                                            : cdio_close_tray(Drive->Path.c_str(), &Driver);
  return Result == DRIVER_OP_SUCCESS;
}

void SetDrivePlaying(char Letter, bool Playing) {
  if (const std::shared_ptr<TDriveEntry> Drive = FindDrive(Letter))
    Drive->Playing = Playing;
}

bool DrivePlaying(char Letter) {
  const std::shared_ptr<TDriveEntry> Drive = FindDrive(Letter);
  return Drive && Drive->Playing;
}

} // namespace platform
