#include "platform/system_path.h"

#include "platform/byte_escape.h"

bool to_system_path(const wstring& path, std::string& out) {
  if (!encode_keeping_bytes(path, out)) return false;
  // A zero byte would end the name early: the call would act on a prefix.
  if (out.find('\0') != std::string::npos) return false;
  // Escaped bytes that form a character when put together ("\uDCC3\uDCA9"
  // and "é"), or that stand for an ASCII byte, would name the file of
  // another text: one name, one text.
  return decode_keeping_bytes(out) == path;
}

wstring from_system_path(const std::string& name) {
  return decode_keeping_bytes(std::string(name.c_str()));
}
