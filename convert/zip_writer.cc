// The zip writer: each entry's local header is written with room for zip64
// sizes and rewritten with the real ones when the entry ends (the file must
// be seekable), then the central directory is written from the entries kept
// in memory: a name and five numbers each.
#include "convert/zip_writer.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

#include "os/file_path.h"

uint64_t zip64_from = 0xffffffff;

namespace {

constexpr uint32_t local_signature = 0x04034b50;
constexpr uint32_t central_signature = 0x02014b50;
constexpr uint32_t end_signature = 0x06054b50;
constexpr uint32_t end64_signature = 0x06064b50;
constexpr uint32_t locator64_signature = 0x07064b50;
constexpr uint16_t zip64_extra = 0x0001;
constexpr uint16_t padding_extra = 0x4c4c;  // an id no reader knows: skipped
constexpr uint32_t over_32_bits = 0xffffffff;
constexpr uint16_t dos_date = (0 << 9) | (1 << 5) | 1;  // 1980-01-01, as the library writes
constexpr uint16_t method_deflate = 8;
constexpr size_t local_header_bytes = 30;
constexpr size_t central_header_bytes = 46;
constexpr size_t max_name = 1024;  // bytes of an entry's name
constexpr size_t header_bytes = central_header_bytes + max_name + 28;

struct ZipEntry {
  char* name;  // malloc'ed
  uint32_t crc;
  uint64_t compressed;
  uint64_t size;
  uint64_t offset;  // of the local header
  uint16_t method;
};

// Little-endian fields written at `at`; each returns the end.
unsigned char* put16(unsigned char* at, uint32_t value) {
  at[0] = static_cast<unsigned char>(value & 0xff);
  at[1] = static_cast<unsigned char>((value >> 8) & 0xff);
  return at + 2;
}

unsigned char* put32(unsigned char* at, uint32_t value) {
  return put16(put16(at, value & 0xffff), value >> 16);
}

unsigned char* put64(unsigned char* at, uint64_t value) {
  return put32(put32(at, static_cast<uint32_t>(value)), static_cast<uint32_t>(value >> 32));
}

// Writes the `length` bytes of `name` at `at`; returns the end.
unsigned char* put_name(unsigned char* at, const char* name, size_t length) {
  std::memcpy(at, name, length);
  return at + length;
}

// Little-endian fields read at `at`.
uint32_t get16(const unsigned char* at) { return at[0] | (at[1] << 8); }

uint32_t get32(const unsigned char* at) {
  return get16(at) | (static_cast<uint32_t>(get16(at + 2)) << 16);
}

// Returns `value` for a 32-bit field: 0xffffffff when it takes the zip64 form.
uint32_t clamp32(uint64_t value) {
  return value >= zip64_from ? over_32_bits : static_cast<uint32_t>(value);
}

// Writes at `out` (local_header_bytes + max_name + 20 long) the local header
// of `entry` with a 20-byte extra field: zip64 sizes when the entry needs
// them, else padding of the same length. Returns its length.
size_t local_header(const ZipEntry& entry, unsigned char* out) {
  bool large = entry.size >= zip64_from || entry.compressed >= zip64_from;
  size_t name_length = std::strlen(entry.name);
  unsigned char* at = put32(out, local_signature);
  at = put16(at, large ? 45 : 20);
  at = put16(at, 0);
  at = put16(at, entry.method);
  at = put16(at, 0);
  at = put16(at, dos_date);
  at = put32(at, entry.crc);
  at = put32(at, large ? over_32_bits : clamp32(entry.compressed));
  at = put32(at, large ? over_32_bits : clamp32(entry.size));
  at = put16(at, static_cast<uint32_t>(name_length));
  at = put16(at, 20);
  at = put_name(at, entry.name, name_length);
  at = put16(at, large ? zip64_extra : padding_extra);
  at = put16(at, 16);
  at = put64(at, large ? entry.size : 0);
  at = put64(at, large ? entry.compressed : 0);
  return static_cast<size_t>(at - out);
}

// Moves `file` to `offset`; false when it cannot.
bool seek_to(FILE* file, uint64_t offset) {
#ifdef _WIN32
  return _fseeki64(file, static_cast<__int64>(offset), SEEK_SET) == 0;
#else
  return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}

}  // namespace

struct ZipWriter {
  FILE* file;
  uint64_t end;       // bytes in the file
  ZipEntry* entries;  // malloc'ed
  size_t count;
  size_t slots;
  DeflateThread* deflater;  // the open entry's
  int error;
};

namespace {

// Keeps the first failure's errno (EIO for none); returns false.
bool fail(ZipWriter& zip, int error) {
  if (!zip.error) zip.error = error ? error : EIO;
  return false;
}

// Appends `size` bytes to the file; false once anything failed.
bool write_bytes(ZipWriter& zip, const void* bytes, size_t size) {
  if (zip.error) return false;
  if (std::fwrite(bytes, 1, size, zip.file) != size) return fail(zip, errno);
  zip.end += size;
  return true;
}

// Adds an entry named by the `length` bytes at `name` at the end of the
// file and writes its local header.
bool start_entry(ZipWriter& zip, ZipEntry entry, const char* name, size_t length) {
  if (zip.error) return false;
  if (length > max_name) return fail(zip, EINVAL);
  if (zip.count == zip.slots) {
    size_t slots = zip.slots ? zip.slots * 2 : 16;
    auto* more = static_cast<ZipEntry*>(std::realloc(zip.entries, slots * sizeof(ZipEntry)));
    if (!more) return fail(zip, ENOMEM);
    zip.entries = more;
    zip.slots = slots;
  }
  entry.name = static_cast<char*>(std::malloc(length + 1));
  if (!entry.name) return fail(zip, ENOMEM);
  std::memcpy(entry.name, name, length);
  entry.name[length] = '\0';
  entry.offset = zip.end;
  zip.entries[zip.count++] = entry;
  unsigned char header[header_bytes];
  return write_bytes(zip, header, local_header(entry, header));
}

// Frees the writer and its entries (not its file).
void free_zip(ZipWriter* zip) {
  for (size_t i = 0; i < zip->count; ++i) std::free(zip->entries[i].name);
  std::free(zip->entries);
  delete zip;
}

}  // namespace

ZipWriter* zip_create(const char* path, int& error) {
  auto* zip = new (std::nothrow) ZipWriter();
  if (!zip) {
    error = ENOMEM;
    return nullptr;
  }
  zip->file = open_file(path, "wb");
  if (!zip->file) {
    error = errno ? errno : EIO;
    delete zip;
    return nullptr;
  }
  return zip;
}

DeflateBlock* zip_begin_entry(ZipWriter* zip, const char* name) {
  ZipEntry entry{nullptr, 0, 0, 0, 0, method_deflate};
  if (!start_entry(*zip, entry, name, std::strlen(name))) return nullptr;
  if (std::fflush(zip->file) != 0) {
    fail(*zip, errno);
    return nullptr;
  }
  zip->deflater = deflate_start(zip->file);
  if (!zip->deflater) {
    fail(*zip, ENOMEM);
    return nullptr;
  }
  return deflate_block(zip->deflater);
}

DeflateBlock* zip_next_block(ZipWriter* zip) {
  int error = 0;
  DeflateBlock* block = deflate_hand_off(zip->deflater, error);
  if (!block) fail(*zip, error);
  return block;
}

bool zip_end_entry(ZipWriter* zip) {
  DeflateTotals totals{};
  int error = 0;
  DeflateThread* deflater = zip->deflater;
  zip->deflater = nullptr;
  if (!deflate_finish(deflater, totals, error)) return fail(*zip, error);
  ZipEntry& entry = zip->entries[zip->count - 1];
  entry.crc = totals.crc;
  entry.size = totals.in_bytes;
  entry.compressed = totals.out_bytes;
  zip->end += totals.out_bytes;
  unsigned char header[header_bytes];
  size_t length = local_header(entry, header);
  if (std::fflush(zip->file) != 0 || !seek_to(zip->file, entry.offset) ||
      std::fwrite(header, 1, length, zip->file) != length || std::fflush(zip->file) != 0 ||
      !seek_to(zip->file, zip->end)) {
    return fail(*zip, errno);
  }
  return true;
}

namespace {

// Reads the whole of `source` into a malloc'ed buffer; null when memory or
// the read fails, with the errno in `error`.
unsigned char* read_whole(FILE* source, size_t& size, int& error) {
  size_t slots = size_t{1} << 16;
  auto* bytes = static_cast<unsigned char*>(std::malloc(slots));
  size = 0;
  while (bytes) {
    size += std::fread(bytes + size, 1, slots - size, source);
    if (size < slots) break;
    auto* more = static_cast<unsigned char*>(std::realloc(bytes, slots * 2));
    if (!more) std::free(bytes);
    bytes = more;
    slots *= 2;
  }
  error = !bytes ? ENOMEM : std::ferror(source) ? (errno ? errno : EIO) : 0;
  if (error) std::free(bytes);
  return error ? nullptr : bytes;
}

// Copies the entries of the zip in the `size` bytes at `at` that `keep`
// accepts; false with zip.error set.
bool copy_entries(ZipWriter& zip, const unsigned char* at, size_t size,
                  bool (*keep)(const char* name, void* context), void* context) {
  size_t end = size >= 22 ? size - 22 : 0;
  while (end > 0 && get32(at + end) != end_signature) --end;
  if (size < 22 || get32(at + end) != end_signature) return fail(zip, EINVAL);
  uint32_t count = get16(at + end + 10);
  size_t central = get32(at + end + 16);
  for (uint32_t i = 0; i < count; ++i) {
    if (central + central_header_bytes > size || get32(at + central) != central_signature) {
      return fail(zip, EINVAL);
    }
    const unsigned char* c = at + central;
    size_t name_length = get16(c + 28);
    size_t local = get32(c + 42);
    if (name_length > max_name || central + central_header_bytes + name_length > size) {
      return fail(zip, EINVAL);
    }
    char name[max_name + 1];
    std::memcpy(name, c + central_header_bytes, name_length);
    name[name_length] = '\0';
    central += central_header_bytes + name_length + get16(c + 30) + get16(c + 32);
    if (!keep(name, context)) continue;
    if (local + local_header_bytes > size || get32(at + local) != local_signature) {
      return fail(zip, EINVAL);
    }
    size_t data = local + local_header_bytes + get16(at + local + 26) + get16(at + local + 28);
    ZipEntry entry{nullptr,
                   get32(c + 16),
                   get32(c + 20),
                   get32(c + 24),
                   0,
                   static_cast<uint16_t>(get16(c + 10))};
    if (data > size || entry.compressed > size - data) return fail(zip, EINVAL);
    if (!start_entry(zip, entry, name, name_length) ||
        !write_bytes(zip, at + data, entry.compressed)) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool zip_copy_entries(ZipWriter* zip, FILE* source, bool (*keep)(const char* name, void* context),
                      void* context) {
  size_t size = 0;
  int error = 0;
  unsigned char* bytes = read_whole(source, size, error);
  if (!bytes) return fail(*zip, error);
  bool copied = copy_entries(*zip, bytes, size, keep, context);
  std::free(bytes);
  return copied;
}

namespace {

// Writes the central directory entry of `entry`.
bool write_central(ZipWriter& zip, const ZipEntry& entry) {
  unsigned char extra[28];
  unsigned char* more = extra + 4;
  if (entry.size >= zip64_from) more = put64(more, entry.size);
  if (entry.compressed >= zip64_from) more = put64(more, entry.compressed);
  if (entry.offset >= zip64_from) more = put64(more, entry.offset);
  size_t extra_length = more == extra + 4 ? 0 : static_cast<size_t>(more - extra);
  put16(put16(extra, zip64_extra), static_cast<uint32_t>(extra_length - 4));
  size_t name_length = std::strlen(entry.name);
  unsigned char header[header_bytes];
  unsigned char* at = put32(header, central_signature);
  at = put16(at, 45);
  at = put16(at, extra_length ? 45 : 20);
  at = put16(at, 0);
  at = put16(at, entry.method);
  at = put16(at, 0);
  at = put16(at, dos_date);
  at = put32(at, entry.crc);
  at = put32(at, clamp32(entry.compressed));
  at = put32(at, clamp32(entry.size));
  at = put16(at, static_cast<uint32_t>(name_length));
  at = put16(at, static_cast<uint32_t>(extra_length));
  at = put32(at, 0);  // comment length, disk number
  at = put16(at, 0);  // internal attributes
  at = put32(at, 0);  // external attributes
  at = put32(at, clamp32(entry.offset));
  at = put_name(at, entry.name, name_length);
  if (extra_length) at = put_name(at, reinterpret_cast<const char*>(extra), extra_length);
  return write_bytes(zip, header, static_cast<size_t>(at - header));
}

// Writes the end of the directory at `directory`, with zip64 records when
// the counts or offsets need them.
bool write_end(ZipWriter& zip, uint64_t directory) {
  uint64_t entries = zip.count;
  uint64_t directory_size = zip.end - directory;
  unsigned char end[98];
  unsigned char* at = end;
  if (entries >= 0xffff || directory >= zip64_from || directory_size >= zip64_from) {
    at = put32(at, end64_signature);
    at = put64(at, 44);
    at = put16(at, 45);
    at = put16(at, 45);
    at = put32(at, 0);
    at = put32(at, 0);
    at = put64(at, entries);
    at = put64(at, entries);
    at = put64(at, directory_size);
    at = put64(at, directory);
    at = put32(at, locator64_signature);
    at = put32(at, 0);
    at = put64(at, zip.end);
    at = put32(at, 1);
  }
  uint32_t count = entries >= 0xffff ? 0xffff : static_cast<uint32_t>(entries);
  at = put32(at, end_signature);
  at = put32(at, 0);
  at = put16(at, count);
  at = put16(at, count);
  at = put32(at, clamp32(directory_size));
  at = put32(at, clamp32(directory));
  at = put16(at, 0);
  return write_bytes(zip, end, static_cast<size_t>(at - end));
}

}  // namespace

bool zip_close(ZipWriter* zip, int& error) {
  uint64_t directory = zip->end;
  for (size_t i = 0; i < zip->count && !zip->error; ++i) write_central(*zip, zip->entries[i]);
  write_end(*zip, directory);
  if (std::fclose(zip->file) != 0) fail(*zip, errno);
  error = zip->error;
  free_zip(zip);
  return error == 0;
}

void zip_abandon(ZipWriter* zip) {
  if (!zip) return;
  deflate_abandon(zip->deflater);
  if (zip->file) std::fclose(zip->file);
  free_zip(zip);
}

int zip_error(const ZipWriter* zip) { return zip->error; }
