#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

// Writes <ConfigHome>tavrune/drives.ini naming Images as Image1, Image2, ... in that order. The
// file is replaced as an editor replaces it, and every write gets a modification time of its
// own, as writes seconds apart would, so that the drive registry sees each one.
inline void WriteDrivesIni(const std::string& ConfigHome, const std::vector<std::string>& Images) {
  static std::atomic<int> Writes{0};
  const std::filesystem::path Folder = std::filesystem::path(ConfigHome) / "tavrune";
  std::filesystem::create_directories(Folder);
  const std::filesystem::path Temp = Folder / "drives.ini.new";
  {
    std::ofstream Out(Temp, std::ios::binary);
    Out << "[Images]\n";
    for (size_t I = 0; I < Images.size(); ++I)
      Out << "Image" << I + 1 << "=" << Images[I] << "\n";
  }
  std::filesystem::last_write_time(Temp, std::filesystem::file_time_type::clock::now() +
                                             std::chrono::seconds(++Writes));
  std::filesystem::rename(Temp, Folder / "drives.ini");
}

// Sectors [First, End) of a BIN file of 2352-byte sectors, as stored.
inline std::vector<uint8_t> BinSectors(const std::string& BinFile, uint32_t First, uint32_t End) {
  std::vector<uint8_t> Bytes(size_t{End - First} * 2352);
  std::ifstream In(BinFile, std::ios::binary);
  In.seekg(static_cast<std::streamoff>(First) * 2352);
  In.read(reinterpret_cast<char*>(Bytes.data()), static_cast<std::streamsize>(Bytes.size()));
  Bytes.resize(static_cast<size_t>(In.gcount()));
  return Bytes;
}
