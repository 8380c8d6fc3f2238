#include "install/lz_compressor.h"

#include "install/kit_inflation.h"
#include "platform/error_codes.h"
#include "platform/file_system.h"

unsigned LZCompressor::unpack(const wstring& source, const wstring& destination) const {
  KitInflation inflation;
  unsigned code = inflation.begin(source, false);
  if (code != kErrorSuccess) return code;
  void* out = kInvalidHandleValue;
  code = FileSystem::CreateFile(destination, kGenericWrite, 0, kCreateAlways, out);
  if (code != kErrorSuccess) return code;
  code = inflation.finishTo(out);
  FileSystem::CloseHandle(out);
  return code;
}

unsigned LZCompressor::unpackTo(const wstring& source, void* destination,
                                config::KitTrailer* trailer) const {
  KitInflation inflation;
  const unsigned code = inflation.begin(source, true);
  if (code != kErrorSuccess) return code;
  if (trailer != nullptr) *trailer = inflation.trailer();
  return inflation.finishTo(destination);
}

unsigned LZCompressor::pack(const wstring&, const wstring&) const { return 1; }
