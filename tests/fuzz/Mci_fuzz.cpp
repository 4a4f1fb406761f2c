// The media control layer on arbitrary commands. The input's first line is a command string,
// parsed and then sent; what follows scripts the drive's disc and the commands sent to a device
// that opened. A parse passes exactly the open command's shape and gives its values; every
// error has a text; the device is asked to play only within the disc; the times that come
// back are well formed and agree with the disc.
#include "platform/DriveRegistry.h"
#include "platform/Mci.h"
#include "tests/fuzz/FuzzSupport.h"
#include "tests/support/ScriptedCdAudio.h"
#include "tests/support/TempDir.h"
#include "tests/support/VirtualDrives.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstring>

using namespace platform;

namespace {

// The script that the factory's next device follows; set while a command string is sent.
TScript* CurrentScript = nullptr;

// One drive, whose image need not exist: the scripted device stands in for the play engine.
struct TDrive {
  TTempDir Dir;
  char Letter = 0;

  TDrive() {
    setenv("XDG_CONFIG_HOME", Dir.Path().c_str(), 1);
    setenv("TAVRUNE_DEMO_DISC", Dir.File("no-demo.cue").c_str(), 1);
    WriteDrivesIni(Dir.Path(), {Dir.File("disc.cue")});
    for (const TDriveInfo& Drive : CDDrives())
      if (Drive.Virtual)
        Letter = Drive.Letter;
    Check(Letter != 0, "the image's drive is listed");
    SetCdAudioDeviceFactory([](char) -> std::unique_ptr<TCdAudioDevice> {
      return std::make_unique<TScriptedDevice>(*CurrentScript);
    });
  }
};

bool SameWord(std::string_view A, std::string_view B) {
  return A.size() == B.size() && std::equal(A.begin(), A.end(), B.begin(), [](char X, char Y) {
           return std::tolower(static_cast<unsigned char>(X)) ==
                  std::tolower(static_cast<unsigned char>(Y));
         });
}

std::vector<std::string_view> WordsOf(std::string_view Text) {
  std::vector<std::string_view> Words;
  for (size_t At = Text.find_first_not_of(" \t"); At != std::string_view::npos;) {
    const size_t End = std::min(Text.find_first_of(" \t", At), Text.size());
    Words.push_back(Text.substr(At, End - At));
    At = Text.find_first_not_of(" \t", End);
  }
  return Words;
}

bool HasText(MCIERROR Error) {
  char Text[256];
  return mciGetErrorStringA(Error, Text, sizeof Text) && std::strlen(Text) > 0;
}

// "open <letter>\: type cdaudio alias <alias> [shareable]", keywords in any case.
void CheckParse(std::string_view Command) {
  const std::vector<std::string_view> Word = WordsOf(Command);
  const bool Shaped = (Word.size() == 6 || (Word.size() == 7 && SameWord(Word[6], "shareable"))) &&
                      SameWord(Word[0], "open") && Word[1].size() == 3 &&
                      std::isalpha(static_cast<unsigned char>(Word[1][0])) &&
                      Word[1].substr(1) == "\\:" && SameWord(Word[2], "type") &&
                      SameWord(Word[3], "cdaudio") && SameWord(Word[4], "alias");
  TOpenCommand Open;
  const MCIERROR Error = ParseOpenCommand(Command, Open);
  Check((Error == 0) == Shaped, "exactly the open command's shape parses");
  if (Error != 0) {
    Check(HasText(Error), "a parse error has a text");
    return;
  }
  Check(Open.Letter == std::toupper(static_cast<unsigned char>(Word[1][0])) &&
            Open.Alias == Word[5] && Open.Shareable == (Word.size() == 7),
        "a parsed open command gives its letter, alias and sharing");
}

// A disc of 1 to 99 tracks from frame 150 on, its length after the last start.
TScript ScriptOf(FuzzedDataProvider& Input) {
  TScript Script;
  Script.Media = Input.ConsumeBool();
  Script.Mode = Input.ConsumeIntegralInRange<uint32_t>(MCI_MODE_NOT_READY, MCI_MODE_OPEN);
  const size_t Tracks = Input.ConsumeIntegralInRange<size_t>(1, 99);
  Script.Starts.clear();
  Script.Audio.clear();
  uint32_t Start = CdAudioFirstFrame + Input.ConsumeIntegralInRange<uint32_t>(0, 300);
  for (size_t I = 0; I < Tracks; ++I) {
    Script.Starts.push_back(Start);
    Script.Audio.push_back(Input.ConsumeBool());
    Start += Input.ConsumeIntegralInRange<uint32_t>(1, 60 * 75 * 10);
  }
  Script.Length = Start;
  Script.Position = Input.ConsumeIntegralInRange<uint32_t>(0, Script.Length);
  return Script;
}

struct TMsf {
  uint32_t Minutes, Seconds, Frames;
};

// Minutes, seconds and frames from the low byte up, each within its range.
TMsf UnpackMsf(uintptr_t Packed) {
  const TMsf Msf{uint32_t(Packed & 0xFF), uint32_t(Packed >> 8 & 0xFF),
                 uint32_t(Packed >> 16 & 0xFF)};
  Check(Packed >> 24 == 0 && Msf.Seconds < 60 && Msf.Frames < 75, "a time is well formed");
  return Msf;
}

uint32_t FramesOf(const TMsf& Msf) {
  return (Msf.Minutes * 60 + Msf.Seconds) * 75 + Msf.Frames;
}

// A time of up to 255 minutes comes back exact; minutes stop at 255.
void CheckTime(uintptr_t Packed, uint32_t Frames) {
  const uint32_t Got = FramesOf(UnpackMsf(Packed));
  Check(Frames >= 256 * 60 * 75 || Got == Frames, "a time is the disc's");
}

void CheckStatus(const TScript& Script, uint32_t Format, uintptr_t Flags,
                 const MCI_STATUS_PARMS& Params) {
  const uint32_t Count = static_cast<uint32_t>(Script.Starts.size());
  const bool WithTrack = Flags & MCI_TRACK;
  const uint32_t Track = Params.dwTrack;
  switch (Params.dwItem) {
  case MCI_STATUS_MEDIA_PRESENT:
    return Check(Params.dwReturn == Script.Media, "media present is the drive's");
  case MCI_STATUS_MODE:
    return Check(Params.dwReturn == (Script.Media ? Script.Mode : MCI_MODE_NOT_READY),
                 "the mode is the drive's");
  case MCI_STATUS_NUMBER_OF_TRACKS:
    return Check(Params.dwReturn == Count, "the track count is the disc's");
  case MCI_CDA_STATUS_TYPE_TRACK:
    return Check(Params.dwReturn ==
                     (Script.Audio[Track - 1] ? MCI_CDA_TRACK_AUDIO : MCI_CDA_TRACK_OTHER),
                 "a track's type is the disc's");
  case MCI_STATUS_LENGTH: {
    const uint32_t End = !WithTrack || Track == Count ? Script.Length : Script.Starts[Track];
    return CheckTime(Params.dwReturn, WithTrack ? End - Script.Starts[Track - 1] : End);
  }
  default: // MCI_STATUS_POSITION
    if (WithTrack && Format == MCI_FORMAT_TMSF)
      return Check(Params.dwReturn == Track, "a track's position is its start");
    if (WithTrack)
      return CheckTime(Params.dwReturn, Script.Starts[Track - 1]);
    if (Format == MCI_FORMAT_MSF)
      return CheckTime(Params.dwReturn, Script.Position);
    const uint32_t In = Params.dwReturn & 0xFF;
    Check(In >= 1 && In <= Count, "a position lies in a track");
    UnpackMsf(Params.dwReturn >> 8);
  }
}

// Sends commands drawn from Input to the open device until the input runs out or it closes.
void SendCommands(FuzzedDataProvider& Input, MCIDEVICEID Id, const std::string& Alias,
                  TScript& Script) {
  static constexpr uint32_t Messages[] = {MCI_SET,   MCI_STATUS, MCI_PLAY, MCI_STOP,
                                          MCI_PAUSE, MCI_CLOSE,  MCI_OPEN};
  static constexpr uintptr_t FlagBits[] = {MCI_FROM, MCI_TO, MCI_TRACK, MCI_STATUS_ITEM,
                                           MCI_SET_TIME_FORMAT};
  uint32_t Format = MCI_FORMAT_MSF;
  while (Input.remaining_bytes() > 0) {
    const uint32_t Message = Input.PickValueInArray(Messages);
    uintptr_t Flags = 0;
    for (const uintptr_t Bit : FlagBits)
      if (Input.ConsumeBool())
        Flags |= Bit;
    const bool NoRecord = Input.ConsumeIntegralInRange(0, 15) == 0;
    MCI_SET_PARMS Set;
    Set.dwTimeFormat = Input.ConsumeIntegralInRange<uint32_t>(0, 12);
    MCI_STATUS_PARMS Status;
    Status.dwItem = Input.ConsumeBool() ? Input.ConsumeIntegral<uint32_t>()
                                        : Input.ConsumeIntegralInRange<uint32_t>(0, 6);
    if (Input.ConsumeBool())
      Status.dwItem = MCI_CDA_STATUS_TYPE_TRACK;
    Status.dwTrack = Input.ConsumeIntegralInRange<uint32_t>(0, 100);
    MCI_PLAY_PARMS Play;
    Play.dwFrom = Input.ConsumeIntegral<uint32_t>();
    Play.dwTo = Input.ConsumeIntegral<uint32_t>();
    MCI_GENERIC_PARMS Generic;
    void* const Record = NoRecord                ? nullptr
                         : Message == MCI_SET    ? static_cast<void*>(&Set)
                         : Message == MCI_STATUS ? static_cast<void*>(&Status)
                         : Message == MCI_PLAY   ? static_cast<void*>(&Play)
                                                 : static_cast<void*>(&Generic);

    const size_t Calls = Script.Calls.size();
    const MCIERROR Error = mciSendCommandA(Id, Message, Flags, Record);
    Check(Error == 0 || HasText(Error), "every error has a text");
    Check(Error != MCIERR_INTERNAL, "a disc in order gives no internal error");
    for (size_t I = Calls; I < Script.Calls.size(); ++I) {
      unsigned From = 0, To = 0;
      if (std::sscanf(Script.Calls[I].c_str(), "play %u %u", &From, &To) == 2)
        Check(CdAudioFirstFrame <= From && From <= To && To <= Script.Length,
              "the device plays only within the disc");
    }
    if (Error != 0)
      continue;
    if (Message == MCI_SET)
      Format = Set.dwTimeFormat;
    else if (Message == MCI_STATUS)
      CheckStatus(Script, Format, Flags, Status);
    if (Message == MCI_CLOSE) {
      Check(mciGetDeviceIDA(Alias.c_str()) == 0, "a closed device frees its alias");
      Check(mciSendCommandA(Id, MCI_STOP, 0, nullptr) == MCIERR_INVALID_DEVICE_ID,
            "a closed device takes no commands");
      return;
    }
  }
  Check(mciSendCommandA(Id, MCI_CLOSE, 0, nullptr) == 0, "an open device closes");
}

// What mciSendStringA does with the command, and with the device it opens.
void SendString(const std::string& Command, FuzzedDataProvider& Input) {
  static const TDrive Drive;
  TScript Script = ScriptOf(Input);
  CurrentScript = &Script;
  // Exactly the length given, so that a write past it is caught.
  std::vector<char> Return(Input.ConsumeIntegralInRange<size_t>(0, 12), 'x');
  const MCIERROR Error =
      mciSendStringA(Command.c_str(), Return.data(), static_cast<uint32_t>(Return.size()), nullptr);
  CurrentScript = nullptr;
  if (!Return.empty())
    Check(std::memchr(Return.data(), '\0', Return.size()) != nullptr,
          "the return string ends within its buffer");
  TOpenCommand Open;
  const bool Parsed = ParseOpenCommand(Command, Open) == 0;
  if (Error != 0) {
    Check(HasText(Error), "every error has a text");
    Check(Return.empty() || Return[0] == '\0', "a failed command returns no text");
    return;
  }
  Check(Parsed && GetDriveType(Open.Letter) == DRIVE_CDROM,
        "only an open command on a drive opens");
  const MCIDEVICEID Id = mciGetDeviceIDA(Open.Alias.c_str());
  Check(Id != 0, "an open device is found by its alias");
  const std::string Decimal = std::to_string(Id);
  if (!Return.empty())
    Check(Decimal.compare(0, Return.size() - 1, Return.data()) == 0,
          "the return string is the device's id");
  SendCommands(Input, Id, Open.Alias, Script);
}

// Every error number, with a buffer of every length up to a little past its text.
void CheckErrorTexts(FuzzedDataProvider& Input) {
  const MCIERROR Error = Input.ConsumeIntegralInRange<MCIERROR>(250, 300);
  std::vector<char> Text(Input.ConsumeIntegralInRange<size_t>(1, 80), 'x');
  const bool Known = mciGetErrorStringA(Error, Text.data(), static_cast<uint32_t>(Text.size()));
  Check(std::memchr(Text.data(), '\0', Text.size()) != nullptr, "an error text ends in its buffer");
  Check(Known || Text[0] == '\0', "an unknown error has an empty text");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const auto* Begin = reinterpret_cast<const char*>(Data);
  const size_t Line = std::min<size_t>(std::find(Begin, Begin + Size, '\n') - Begin, Size);
  // Exactly the line, so that a read past it is caught.
  const std::vector<char> Bytes(Begin, Begin + Line);
  FuzzedDataProvider Input(Data + std::min(Line + 1, Size), Size - std::min(Line + 1, Size));
  NothingEscapes(
      [&] {
        CheckParse(std::string_view(Bytes.data(), Bytes.size()));
        CheckErrorTexts(Input);
        // The string command stops at a NUL, as a C string does.
        SendString(std::string(Bytes.begin(), Bytes.end()).c_str(), Input);
      },
      "no exception escapes the media control layer");
  return 0;
}
