#include "platform/Module.h"

#include "tests/support/ScopedEnv.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdlib>
#include <optional>

using namespace platform;

namespace {

const std::string StandinFolder = TAVRUNE_STANDIN_DIR;

// Whether the process still has the library loaded; the probe's own reference goes with it.
bool StillLoaded(const std::string& Path) {
  return TModule(dlopen(Path.c_str(), RTLD_NOW | RTLD_NOLOAD), Path).Loaded();
}

TEST(ModuleFileNames, MapsWindowsNamesIgnoringCase) {
  struct TCase {
    const char* Name;
    std::vector<std::string> Files;
  };
  const TCase Cases[] = {
      {"cdrip.dll", {"libcdrip.so"}},
      {"CDRip.DLL", {"libcdrip.so"}},
      {"lame_enc.dll", {"liblame_enc.so"}},
      {"MACDll.dll", {"libMACDll.so"}},
      {"macdll.dll", {"libMACDll.so"}},
      {"ogg.dll", {"libogg.so.0"}},
      {"vorbis.dll", {"libvorbis.so.0"}},
      {"vorbisenc.dll", {"libvorbisenc.so.2"}},
      {"VorbisFile.dll", {"libvorbisfile.so.3"}},
      {"libFLAC.dll", {"libFLAC.so.12", "libFLAC.so.8"}},
      {"LIBFLAC.DLL", {"libFLAC.so.12", "libFLAC.so.8"}},
      // Names the map does not know, near misses included, stand for themselves.
      {"libm.so.6", {"libm.so.6"}},
      {"cdrip", {"cdrip"}},
      {"cdrip.dll.bak", {"cdrip.dll.bak"}},
      {"xcdrip.dll", {"xcdrip.dll"}},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    EXPECT_EQ(ModuleFileNames(Case.Name), Case.Files);
  }
}

TEST(LoadModule, PrefersAStandinFromTheLibraryPath) {
  // Empty entries and a missing folder come first and are passed over.
  const std::string Folders = "::/nonexistent/tavrune:" + StandinFolder + ":";
  TScopedEnv Env("TAVRUNE_LIBRARY_PATH", Folders.c_str());

  const TModule Module = LoadModule("CDRIP.dll");
  ASSERT_TRUE(Module.Loaded()) << LastModuleError();
  EXPECT_EQ(Module.Path(), StandinFolder + "libcdrip.so");
  const auto GetNumCDROM = reinterpret_cast<int (*)()>(Module.Symbol("CR_GetNumCDROM"));
  ASSERT_NE(GetNumCDROM, nullptr);
  EXPECT_EQ(GetNumCDROM(), 4242);
  EXPECT_EQ(Module.Symbol("CR_NoSuchExport"), nullptr);
}

TEST(LoadModule, FindsASystemLibraryThroughTheSystemSearch) {
  TScopedEnv Env("TAVRUNE_LIBRARY_PATH", StandinFolder.c_str());

  const TModule Module = LoadModule("libm.so.6");
  ASSERT_TRUE(Module.Loaded()) << LastModuleError();
  // The file the loader found, not the bare name it was asked for.
  EXPECT_EQ(Module.Path().front(), '/');
  EXPECT_TRUE(Module.Path().ends_with("/libm.so.6")) << Module.Path();
  const auto Cos = reinterpret_cast<double (*)(double)>(Module.Symbol("cos"));
  ASSERT_NE(Cos, nullptr);
  EXPECT_EQ(Cos(0.0), 1.0);
}

TEST(LoadModule, UnknownLibraryGivesAnUnloadedModuleAndTheLoadersReason) {
  TScopedEnv Env("TAVRUNE_LIBRARY_PATH", StandinFolder.c_str());

  const TModule Module = LoadModule("tavrune_nosuch.dll");
  EXPECT_FALSE(Module.Loaded());
  EXPECT_TRUE(Module.Path().empty());
  EXPECT_EQ(Module.Symbol("CR_GetNumCDROM"), nullptr);
  EXPECT_NE(LastModuleError().find("tavrune_nosuch.dll"), std::string::npos) << LastModuleError();
}

TEST(TModule, UnloadsWhenTheLastOwnerGoes) {
  TScopedEnv Env("TAVRUNE_LIBRARY_PATH", StandinFolder.c_str());
  const std::string Path = StandinFolder + "libcdrip.so";

  TModule First = LoadModule("cdrip.dll");
  ASSERT_TRUE(First.Loaded()) << LastModuleError();
  TModule Second = std::move(First);
  EXPECT_FALSE(First.Loaded());
  EXPECT_TRUE(First.Path().empty());
  EXPECT_TRUE(Second.Loaded());
  EXPECT_EQ(Second.Path(), Path);
  EXPECT_TRUE(StillLoaded(Path));

  Second = TModule();
  EXPECT_FALSE(Second.Loaded());
  EXPECT_FALSE(StillLoaded(Path));

  {
    const TModule Scoped = LoadModule("cdrip.dll");
    ASSERT_TRUE(Scoped.Loaded());
  }
  EXPECT_FALSE(StillLoaded(Path));
}

} // namespace
