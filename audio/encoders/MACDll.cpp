#include "audio/encoders/MACDll.h"

#include "audio/encoders/CodecLibrary.h"

namespace {

TCodecLibrary Library("MACDll.dll");
TMACDllEntries Entries;

void ResolveEntries() {
  Library.Resolve(Entries.ProgressCallback, "ProgressCallback");
  Library.Resolve(Entries.RemoveTag, "RemoveTag");
  Library.Resolve(Entries.CompressFile, "CompressFile");
  Library.Resolve(Entries.ConvertFile, "ConvertFile");
  Library.Resolve(Entries.DecompressFile, "DecompressFile");
  Library.Resolve(Entries.FillWaveFormatEx, "FillWaveFormatEx");
  Library.Resolve(Entries.FillWaveHeader, "FillWaveHeader");
  Library.Resolve(Entries.GetID3Tag, "GetID3Tag");
  Library.Resolve(Entries.GetInterfaceCompatibility, "GetInterfaceCompatibility");
  Library.Resolve(Entries.GetVersionNumber, "GetVersionNumber");
  Library.Resolve(Entries.ShowFileInfoDialog, "ShowFileInfoDialog");
  Library.Resolve(Entries.TagFileSimple, "TagFileSimple");
  Library.Resolve(Entries.VerifyFile, "VerifyFile");
  Library.Resolve(Entries.c_APECompress_AddData, "c_APECompress_AddData");
  Library.Resolve(Entries.c_APECompress_Create, "c_APECompress_Create");
  Library.Resolve(Entries.c_APECompress_Destroy, "c_APECompress_Destroy");
  Library.Resolve(Entries.c_APECompress_Finish, "c_APECompress_Finish");
  Library.Resolve(Entries.c_APECompress_GetBufferBytesAvailable,
                  "c_APECompress_GetBufferBytesAvailable");
  Library.Resolve(Entries.c_APECompress_Kill, "c_APECompress_Kill");
  Library.Resolve(Entries.c_APECompress_LockBuffer, "c_APECompress_LockBuffer");
  Library.Resolve(Entries.c_APECompress_Start, "c_APECompress_Start");
  Library.Resolve(Entries.c_APECompress_UnlockBuffer, "c_APECompress_UnlockBuffer");
  Library.Resolve(Entries.c_APEDecompress_CreateW, "_c_APEDecompress_CreateW@8");
  Library.Resolve(Entries.c_APEDecompress_Destroy, "c_APEDecompress_Destroy");
  Library.Resolve(Entries.c_APEDecompress_GetData, "c_APEDecompress_GetData");
  Library.Resolve(Entries.c_APEDecompress_GetInfo, "c_APEDecompress_GetInfo");
  Library.Resolve(Entries.c_APEDecompress_Seek, "c_APEDecompress_Seek");
}

} // namespace

const TMACDllEntries& MACDll() {
  return Entries;
}

bool MACLoaded() {
  return Library.Loaded();
}

void LoadMACLibrary() {
  Library.Load(ResolveEntries);
}

void RequireMACLibrary() {
  Library.RequireLoaded();
}
