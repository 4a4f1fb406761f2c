#pragma once

#include "libs/MACDll/MACDll.h"

// The entry points of the Monkey's Audio library (MACDll.dll), resolved by name in this order
// when it is loaded; a name the library lacks stays null.
struct TMACDllEntries {
  decltype(&::ProgressCallback) ProgressCallback = nullptr;
  decltype(&::RemoveTag) RemoveTag = nullptr;
  decltype(&::CompressFile) CompressFile = nullptr;
  decltype(&::ConvertFile) ConvertFile = nullptr;
  decltype(&::DecompressFile) DecompressFile = nullptr;
  decltype(&::FillWaveFormatEx) FillWaveFormatEx = nullptr;
  decltype(&::FillWaveHeader) FillWaveHeader = nullptr;
  decltype(&::GetID3Tag) GetID3Tag = nullptr;
  decltype(&::GetInterfaceCompatibility) GetInterfaceCompatibility = nullptr;
  decltype(&::GetVersionNumber) GetVersionNumber = nullptr;
  decltype(&::ShowFileInfoDialog) ShowFileInfoDialog = nullptr;
  decltype(&::TagFileSimple) TagFileSimple = nullptr;
  decltype(&::VerifyFile) VerifyFile = nullptr;
  decltype(&::c_APECompress_AddData) c_APECompress_AddData = nullptr;
  decltype(&::c_APECompress_Create) c_APECompress_Create = nullptr;
  decltype(&::c_APECompress_Destroy) c_APECompress_Destroy = nullptr;
  decltype(&::c_APECompress_Finish) c_APECompress_Finish = nullptr;
  decltype(&::c_APECompress_GetBufferBytesAvailable) c_APECompress_GetBufferBytesAvailable =
      nullptr;
  decltype(&::c_APECompress_Kill) c_APECompress_Kill = nullptr;
  decltype(&::c_APECompress_LockBuffer) c_APECompress_LockBuffer = nullptr;
  decltype(&::c_APECompress_Start) c_APECompress_Start = nullptr;
  decltype(&::c_APECompress_UnlockBuffer) c_APECompress_UnlockBuffer = nullptr;
  // The decompressor's wide-name Create keeps its decorated Windows name; the library's header
  // declares no such function, so it has no type here.
  void* c_APEDecompress_CreateW = nullptr;
  decltype(&::c_APEDecompress_Destroy) c_APEDecompress_Destroy = nullptr;
  decltype(&::c_APEDecompress_GetData) c_APEDecompress_GetData = nullptr;
  decltype(&::c_APEDecompress_GetInfo) c_APEDecompress_GetInfo = nullptr;
  decltype(&::c_APEDecompress_Seek) c_APEDecompress_Seek = nullptr;
};

// The process's entry points; all null until the library has been loaded.
const TMACDllEntries& MACDll();
bool MACLoaded();
// Loads the library under CodecLoadLock unless it is loaded; a failed load is retried at the
// next call. The library stays loaded until the process ends.
void LoadMACLibrary();
// Raises EAuException "MACDll.dll library could not be loaded." unless it is loaded.
void RequireMACLibrary();
