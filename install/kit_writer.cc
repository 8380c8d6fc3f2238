#include "install/kit_writer.h"

#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <memory>

#include "platform/directory.h"
#include "platform/file.h"
#include "platform/system_path.h"
#include "platform/text_encoding.h"

namespace config {

void append_u32_le(std::string& out, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<char>(value >> shift));
}

void append_kit_string(std::string& out, const wstring& text) {
  append_u32_le(out, static_cast<uint32_t>(text.size()));
  for (char16_t unit : text) {
    out.push_back(static_cast<char>(unit & 0xFF));
    out.push_back(static_cast<char>(unit >> 8));
  }
}

std::string encode_single_header(const wstring& product, const wstring& vendor,
                                 const wstring& description) {
  std::string out;
  append_u32_le(out, 0);
  append_kit_string(out, product);
  append_kit_string(out, vendor);
  append_kit_string(out, description);
  return out;
}

// A language or file record: its size (counting the size field itself),
// the fields, then `padding` zero bytes that readers skip.
static std::string sized_record(std::string body, uint32_t padding) {
  body.append(padding, '\0');
  std::string out;
  append_u32_le(out, static_cast<uint32_t>(body.size() + 4));
  return out + body;
}

std::string encode_language_record(const KitProductInfo& record, uint32_t padding) {
  std::string body;
  append_kit_string(body, record.language);
  append_kit_string(body, record.product);
  append_kit_string(body, record.vendor);
  append_kit_string(body, record.description);
  return sized_record(body, padding);
}

std::string encode_multi_header(const std::vector<KitProductInfo>& records, uint32_t flag) {
  std::string out;
  append_u32_le(out, flag);
  append_u32_le(out, static_cast<uint32_t>(records.size()));
  for (const KitProductInfo& record : records) out += encode_language_record(record);
  return out;
}

std::string encode_file_record(const KitEntry& entry, uint32_t padding) {
  std::string body;
  append_kit_string(body, entry.name);
  append_u32_le(body, entry.lastWriteTime.dwLowDateTime);
  append_u32_le(body, entry.lastWriteTime.dwHighDateTime);
  append_u32_le(body, entry.offset);
  append_u32_le(body, entry.size);
  return sized_record(body, padding);
}

std::string encode_file_table(const std::vector<KitEntry>& entries) {
  std::string out;
  append_u32_le(out, static_cast<uint32_t>(entries.size()));
  for (const KitEntry& entry : entries) out += encode_file_record(entry);
  return out;
}

struct RawDeflater::State {
  z_stream stream;
  uint8_t out[65536];
};

RawDeflater::RawDeflater(int level, Sink sink)
    : m_state(new State()), m_sink(std::move(sink)), m_ok(true) {
  m_state->stream = z_stream{};
  m_ok = deflateInit2(&m_state->stream, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) == Z_OK;
  if (!m_ok) {
    delete m_state;
    m_state = nullptr;
  }
}

RawDeflater::~RawDeflater() {
  if (m_state != nullptr) {
    deflateEnd(&m_state->stream);
    delete m_state;
  }
}

bool RawDeflater::write(const void* data, size_t size) {
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  if (m_ok && size != 0) {
    m_trailer.crc = static_cast<uint32_t>(crc32_z(m_trailer.crc, bytes, size));
    m_trailer.length += size;
  }
  // avail_in is 32-bit: feed large blocks in slices.
  while (m_ok && size != 0) {
    const uInt slice = size > (1u << 30) ? (1u << 30) : static_cast<uInt>(size);
    m_state->stream.next_in = const_cast<Bytef*>(bytes);
    m_state->stream.avail_in = slice;
    if (!run(Z_NO_FLUSH)) break;
    bytes += slice;
    size -= slice;
  }
  return m_ok;
}

bool RawDeflater::finish() {
  if (m_ok) {
    m_state->stream.next_in = nullptr;
    m_state->stream.avail_in = 0;
    run(Z_FINISH);
  }
  return m_ok;
}

bool RawDeflater::run(int flush) {
  z_stream& stream = m_state->stream;
  while (true) {
    stream.next_out = m_state->out;
    stream.avail_out = sizeof m_state->out;
    const int answer = deflate(&stream, flush);
    if (answer == Z_STREAM_ERROR) return m_ok = false;
    const size_t produced = sizeof m_state->out - stream.avail_out;
    if (produced != 0 && !m_sink(m_state->out, produced)) return m_ok = false;
    if (flush == Z_FINISH ? answer == Z_STREAM_END : stream.avail_out != 0) return true;
  }
}

std::string deflate_raw(const std::string& data, int level) {
  std::string out;
  RawDeflater deflater(level, [&out](const uint8_t* bytes, size_t size) {
    out.append(reinterpret_cast<const char*>(bytes), size);
    return true;
  });
  deflater.write(data.data(), data.size());
  deflater.finish();
  return out;
}

KitTrailer kit_trailer_of(const std::string& data, size_t tableEnd) {
  const auto* bytes = reinterpret_cast<const Bytef*>(data.data());
  KitTrailer trailer;
  trailer.crc = static_cast<uint32_t>(crc32_z(0, bytes, data.size()));
  trailer.length = data.size();
  if (tableEnd != kNoTableEnd) {
    trailer.version = 2;
    trailer.tableEnd = tableEnd;
    trailer.tableCrc = static_cast<uint32_t>(crc32_z(0, bytes, tableEnd));
  }
  return trailer;
}

std::string deflate_raw_with_trailer(const std::string& data, int level, size_t tableEnd) {
  return deflate_raw(data, level) + encode_kit_trailer(kit_trailer_of(data, tableEnd));
}

namespace {

// Bytes read from a source file at a time.
constexpr size_t kReadChunk = 65536;
// Mode of the kit file; the umask applies.
constexpr unsigned kKitMode = 0644;

std::string reason_of(const Status& status) { return narrow_lib(status_reason(status)); }

// Streams one file into the deflater; it must hold exactly `size` bytes.
// False with `error` set when the file fails, with `error` empty when the
// kit could not be written.
// `packed` counts the bytes of all files packed so far, of `allBytes`.
bool pack_file_contents(RawDeflater& deflater, const KitSourceFile& file, std::string& error,
                        const PackProgress& progress, uint64_t& packed, uint64_t allBytes) {
  File source;
  Status status = File::open(from_system_path(file.path), O_RDONLY, 0, source);
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[kReadChunk]);
  uint64_t total = 0;
  while (status.ok()) {
    size_t got = 0;
    status = source.readAt(total, buffer.get(), kReadChunk, got);
    if (!status.ok() || got == 0) break;
    total += got;
    if (total > file.size) break;
    // A failed write of the kit leaves `error` empty: the caller knows the
    // kit's path and the system's reason.
    if (!deflater.write(buffer.get(), got)) return false;
    packed += got;
    if (progress) progress(packed, allBytes, file.path);
  }
  if (!status.ok()) {
    error = "cannot read " + file.path + ": " + reason_of(status);
    return false;
  }
  if (total != file.size) {
    error = file.path + " changed while it was packed";
    return false;
  }
  return true;
}

// A temporary file beside `outputPath` in `directory` (its folder, open),
// created exclusively; `name` gets its name in the folder.
Status create_beside(const Directory& directory, const wstring& base, File& out, wstring& name) {
  static unsigned counter = 0;
  Status status;
  for (int attempt = 0; attempt < 100; ++attempt) {
    name = u"." + base + from_system_path(".tmp" + std::to_string(getpid()) + "-" +
                                          std::to_string(counter++));
    status = directory.openFile(name, O_WRONLY | O_CREAT | O_EXCL, kKitMode, out);
    if (status.code != kErrorAlreadyExists) return status;
  }
  return status;
}

// Compresses the header, the table and the files into `out`, then the
// trailer. False with `error` set (naming the kit `outputPath` or a source
// file).
bool write_contents(File& out, const std::string& outputPath, const std::string& header,
                    const std::string& table, const std::vector<KitSourceFile>& files, int level,
                    std::string& error, const PackProgress& progress) {
  uint64_t total = 0;
  for (const KitSourceFile& file : files) total += file.size;
  uint64_t packed = 0;
  Status written;
  RawDeflater deflater(level, [&out, &written](const uint8_t* data, size_t size) {
    written = out.writeAll(data, size);
    return written.ok();
  });
  bool ok = deflater.write(header.data(), header.size()) && deflater.write(table.data(), table.size());
  // The header and table get a CRC of their own, so that a reader can
  // trust them without inflating the data area.
  const KitTrailer tablePart = deflater.trailer();
  for (size_t i = 0; ok && i < files.size(); ++i) {
    ok = pack_file_contents(deflater, files[i], error, progress, packed, total);
  }
  if (ok) ok = deflater.finish();
  if (ok) {
    KitTrailer whole = deflater.trailer();
    whole.version = 2;
    whole.tableCrc = tablePart.crc;
    whole.tableEnd = tablePart.length;
    const std::string trailer = encode_kit_trailer(whole);
    written = out.writeAll(trailer.data(), trailer.size());
    ok = written.ok();
  }
  if (ok) {
    written = out.sync();
    ok = written.ok();
  }
  if (!ok && error.empty()) {
    error = "cannot write " + outputPath +
            (written.systemError != 0 ? ": " + reason_of(written) : "");
  }
  return ok;
}

}  // namespace

bool write_kit(const std::string& outputPath, const std::string& header,
               const std::vector<KitSourceFile>& files, int level, std::string& error,
               const PackProgress& progress) {
  std::vector<KitEntry> entries;
  entries.reserve(files.size());
  uint64_t offset = 0;
  for (const KitSourceFile& file : files) {
    if (file.size > kMaxUnpackedKitSize || offset + file.size > kMaxUnpackedKitSize) {
      error = "the kit would exceed 4 GiB";
      return false;
    }
    entries.push_back(KitEntry{file.name, file.lastWriteTime, static_cast<uint32_t>(offset),
                               static_cast<uint32_t>(file.size)});
    offset += file.size;
  }
  const std::string table = encode_file_table(entries);
  if (header.size() + table.size() + offset > kMaxUnpackedKitSize) {
    error = "the kit would exceed 4 GiB";
    return false;
  }

  const wstring output = from_system_path(outputPath);
  const size_t slash = output.rfind(kPathSeparatorChar);
  const wstring folder = slash == wstring::npos ? u"." : slash == 0 ? u"/" : output.substr(0, slash);
  const wstring base = slash == wstring::npos ? output : output.substr(slash + 1);
  Directory directory;
  File out;
  wstring tempName;
  Status status = Directory::open(folder, directory);
  if (status.ok()) status = create_beside(directory, base, out, tempName);
  if (!status.ok()) {
    error = "cannot create " + outputPath + ": " + reason_of(status);
    return false;
  }
  bool ok = write_contents(out, outputPath, header, table, files, level, error, progress);
  const Status closed = out.close();
  if (ok && !closed.ok()) {
    error = "cannot write " + outputPath + ": " + reason_of(closed);
    ok = false;
  }
  if (ok) {
    status = directory.rename(tempName, directory, base);
    if (!status.ok()) {
      error = "cannot replace " + outputPath + ": " + reason_of(status);
      ok = false;
    }
  }
  if (!ok) {
    directory.remove(tempName);
    return false;
  }
  // Makes the finished rename survive a power loss; a directory that
  // cannot be synced costs nothing but that guarantee.
  directory.sync();
  return true;
}

}  // namespace config
