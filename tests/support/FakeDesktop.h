#pragma once

// A desktop for tests: recording stand-ins of xdg-open and dbus-send first on PATH, so that a
// test sees what the program asked the desktop to open or show.

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

class TFakeDesktop {
public:
  // Folder ends in '/'; the stand-ins and their log live there.
  explicit TFakeDesktop(const std::string& Folder) : FLog(Folder + "desktop.log") {
    const std::string Bin = Folder + "bin";
    std::filesystem::create_directories(Bin);
    for (const char* Program : {"xdg-open", "dbus-send"}) {
      const std::string File = Bin + "/" + Program;
      {
        std::ofstream Script(File);
        Script << "#!/bin/sh\nprintf '" << Program << "' >> '" << FLog << "'\n"
               << "for a in \"$@\"; do printf ' [%s]' \"$a\" >> '" << FLog << "'; done\n"
               << "echo >> '" << FLog << "'\n";
      }
      std::filesystem::permissions(File, std::filesystem::perms::owner_all);
    }
    const std::string Path = Bin + ":" + getenv("PATH");
    setenv("PATH", Path.c_str(), 1);
  }

  // One line per call: the program's name and its arguments in brackets.
  std::string Log() const {
    std::ifstream In(FLog);
    return {std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>()};
  }
  void Clear() const { std::filesystem::remove(FLog); }

private:
  std::string FLog;
};
