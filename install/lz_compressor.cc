#include "install/lz_compressor.h"

#include <fcntl.h>

#include "install/kit_inflation.h"
#include "platform/error_codes.h"
#include "platform/file.h"
#include "platform/file_system.h"

namespace {

// The caller's FileSystem handle, which stays open and the caller's.
class HandleOutput final : public InflationOutput {
 public:
  explicit HandleOutput(void* handle) : m_handle(handle) {}
  int descriptor() const override { return descriptor_of_handle(m_handle); }
  Status write(const uint8_t* data, size_t size) override {
    unsigned written = 0;
    return error_status(
        FileSystem::WriteFile(m_handle, data, static_cast<unsigned>(size), &written, nullptr));
  }

 private:
  void* m_handle;
};

}  // namespace

unsigned LZCompressor::unpack(const wstring& source, const wstring& destination) const {
  KitInflation inflation;
  Status status = inflation.begin(source, false);
  if (!status.ok()) return status.code;
  // CREATE_ALWAYS of the Windows API: created when missing, never cut.
  File out;
  status = File::open(destination, O_WRONLY | O_CREAT, 0660, out);
  if (!status.ok()) return status.code;
  FileOutput output(out);
  return inflation.finishTo(output).code;
}

unsigned LZCompressor::unpackTo(const wstring& source, void* destination,
                                config::KitTrailer* trailer) const {
  KitInflation inflation;
  const Status status = inflation.begin(source, true);
  if (!status.ok()) return status.code;
  if (trailer != nullptr) *trailer = inflation.trailer();
  HandleOutput output(destination);
  return inflation.finishTo(output).code;
}

unsigned LZCompressor::pack(const wstring&, const wstring&) const { return 1; }
