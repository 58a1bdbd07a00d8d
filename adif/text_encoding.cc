// What a log file is and how its text is encoded, judged from its first
// bytes, and UTF-16 text transcoded to UTF-8 as it is read.
#include <cstring>

#include "adif/adif_reader.h"

namespace {

// Signatures of files that are sometimes picked instead of a log.
struct Signature {
  const char* bytes;
  size_t size;
  const char* what;
};

const Signature signatures[] = {
    {"%PDF-", 5, "a PDF document"},
    {"PK\x03\x04", 4, "a zip archive or an office document"},
    {"\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8, "an old office document"},
    {"{\\rtf", 5, "an RTF document"},
    {"\x1F\x8B", 2, "a gzip archive"},
    {"Rar!\x1A\x07", 6, "a RAR archive"},
    {"7z\xBC\xAF\x27\x1C", 6, "a 7-Zip archive"},
    {nullptr, 0, nullptr},
};

bool starts_with(const unsigned char* bytes, size_t count, const char* prefix, size_t size) {
  return count >= size && std::memcmp(bytes, prefix, size) == 0;
}

// The encoding of text without a byte-order mark: UTF-16 shows as a NUL byte
// in most of the even (big-endian) or odd (little-endian) places, since logs
// are mostly ASCII.
TextEncoding guess_utf16(const unsigned char* bytes, size_t count) {
  size_t units = count / 2 < 256 ? count / 2 : 256;
  if (units < 2) return TEXT_BYTES;
  size_t zero_even = 0, zero_odd = 0;
  for (size_t i = 0; i < units; ++i) {
    zero_even += bytes[2 * i] == 0;
    zero_odd += bytes[2 * i + 1] == 0;
  }
  if (zero_odd * 4 >= units * 3 && zero_even * 8 < units) return TEXT_UTF16LE;
  if (zero_even * 4 >= units * 3 && zero_odd * 8 < units) return TEXT_UTF16BE;
  return TEXT_BYTES;
}

// True when the text (8-bit, or every other byte of UTF-16) starts, after
// white space, with "<?xml" or "<ADX", in any case.
bool starts_as_xml(const unsigned char* bytes, size_t count, size_t step) {
  char start[6] = {};
  size_t used = 0;
  for (size_t i = 0; i < count && used < 5; i += step) {
    char c = static_cast<char>(bytes[i]);
    if (used == 0 && (c == ' ' || c == '\t' || c == '\r' || c == '\n')) continue;
    start[used++] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  }
  return std::strncmp(start, "<?XML", 5) == 0 || std::strncmp(start, "<ADX", 4) == 0;
}

// True when more than one byte in ten is a control character that text does
// not hold (a stray NUL in a log is reported where it stands, not here).
bool is_binary(const unsigned char* bytes, size_t count) {
  size_t control = 0;
  for (size_t i = 0; i < count; ++i) {
    unsigned char c = bytes[i];
    control += c < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != '\f' && c != 0x1A;
  }
  return control * 10 > count;
}

void put_utf8(char*& out, unsigned long code) {
  if (code < 0x80) {
    *out++ = static_cast<char>(code);
  } else if (code < 0x800) {
    *out++ = static_cast<char>(0xC0 | (code >> 6));
    *out++ = static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    *out++ = static_cast<char>(0xE0 | (code >> 12));
    *out++ = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (code & 0x3F));
  } else {
    *out++ = static_cast<char>(0xF0 | (code >> 18));
    *out++ = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    *out++ = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (code & 0x3F));
  }
}

constexpr unsigned long replacement_character = 0xFFFD;

}  // namespace

const CodePage code_pages[] = {
    {"utf-8", 65001, {}, {}},
    {"windows-1252", 1252, {}, {}},
    {"gbk", 936, {{0x81, 0xFE}, {0, 0}}, {{0x40, 0x7E}, {0x80, 0xFE}, {0, 0}}},
    {"shift-jis", 932, {{0x81, 0x9F}, {0xE0, 0xFC}}, {{0x40, 0x7E}, {0x80, 0xFC}, {0, 0}}},
    {"big5", 950, {{0x81, 0xFE}, {0, 0}}, {{0x40, 0x7E}, {0xA1, 0xFE}, {0, 0}}},
    {"euc-kr", 949, {{0xA1, 0xFE}, {0, 0}}, {{0xA1, 0xFE}, {0, 0}, {0, 0}}},
    {"windows-1250", 1250, {}, {}},
    {"windows-1251", 1251, {}, {}},
    {"windows-1253", 1253, {}, {}},
    {"windows-1254", 1254, {}, {}},
    {"iso-8859-1", 28591, {}, {}},
    {"iso-8859-2", 28592, {}, {}},
    {"iso-8859-5", 28595, {}, {}},
    {"iso-8859-15", 28605, {}, {}},
    {"koi8-r", 20866, {}, {}},
    {nullptr, 0, {}, {}},
};

static_assert(sizeof code_pages / sizeof code_pages[0] <=
                  sizeof AdifReader::page_hits / sizeof AdifReader::page_hits[0],
              "a code page without its count of values read in it");

int find_code_page(const char* name) {
  struct Alias {
    const char* other;
    const char* name;
  };
  static const Alias aliases[] = {
      {"utf8", "utf-8"},          {"cp1252", "windows-1252"}, {"cp936", "gbk"},
      {"sjis", "shift-jis"},      {"cp932", "shift-jis"},     {"cp950", "big5"},
      {"cp949", "euc-kr"},        {"cp1251", "windows-1251"}, {"latin1", "iso-8859-1"},
      {"cp1250", "windows-1250"}, {nullptr, nullptr}};
  char wanted[24];
  size_t length = 0;
  for (; name[length] && length < sizeof wanted - 1; ++length) {
    char c = name[length];
    wanted[length] = c == '_' ? '-' : (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  }
  if (name[length]) return -1;
  wanted[length] = '\0';
  for (const Alias* alias = aliases; alias->other; ++alias) {
    if (std::strcmp(wanted, alias->other) == 0) return find_code_page(alias->name);
  }
  for (int page = 0; code_pages[page].name; ++page) {
    if (std::strcmp(wanted, code_pages[page].name) == 0) return page;
  }
  return -1;
}

const uint16_t windows_1252_high[32] = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

int32_t next_UTF8(const unsigned char*& text, const unsigned char* end) {
  unsigned char lead = *text;
  if (lead < 0x80) {
    ++text;
    return lead;
  }
  int extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
  if (extra == 0 || lead > 0xF4 || end - text <= extra) return -1;
  int32_t code = lead & (0x3F >> extra);
  for (int i = 1; i <= extra; ++i) {
    if ((text[i] & 0xC0) != 0x80) return -1;
    code = (code << 6) | (text[i] & 0x3F);
  }
  static const int32_t lowest[4] = {0, 0x80, 0x800, 0x10000};
  if (code < lowest[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return -1;
  text += extra + 1;
  return code;
}

LogIdentity identify_log(const unsigned char* bytes, size_t count) {
  LogIdentity identity{};
  if (starts_with(bytes, count, "\xFF\xFE", 2) || starts_with(bytes, count, "\xFE\xFF", 2)) {
    identity.encoding = bytes[0] == 0xFF ? TEXT_UTF16LE : TEXT_UTF16BE;
    identity.skip = 2;
  } else {
    identity.encoding = guess_utf16(bytes, count);
  }
  const unsigned char* text = bytes + identity.skip;
  size_t left = count - identity.skip;
  if (identity.encoding != TEXT_BYTES) {
    size_t first = identity.encoding == TEXT_UTF16LE ? 0 : 1;
    if (left > first && starts_as_xml(text + first, left - first, 2)) identity.kind = LOG_ADX;
    return identity;
  }
  size_t bom = starts_with(text, left, "\xEF\xBB\xBF", 3) ? 3 : 0;
  if (starts_as_xml(text + bom, left - bom, 1)) {
    identity.kind = LOG_ADX;
    return identity;
  }
  for (const Signature* signature = signatures; signature->bytes; ++signature) {
    if (starts_with(text, left, signature->bytes, signature->size)) {
      identity.kind = LOG_OTHER;
      identity.what = signature->what;
      return identity;
    }
  }
  if (is_binary(text, left)) {
    identity.kind = LOG_OTHER;
    identity.what = "binary data, not text";
  }
  return identity;
}

size_t utf16_to_utf8(const unsigned char* in, size_t count, bool big_endian, bool final, char* out,
                     size_t room, size_t& consumed) {
  char* start = out;
  char* limit = out + room;
  size_t at = 0;
  auto unit = [&](size_t i) {
    return big_endian ? (static_cast<unsigned>(in[i]) << 8 | in[i + 1])
                      : (static_cast<unsigned>(in[i + 1]) << 8 | in[i]);
  };
  while (at + 1 < count && limit - out >= 4) {
    unsigned long code = unit(at);
    size_t used = 2;
    if (code >= 0xD800 && code <= 0xDBFF) {
      if (at + 3 >= count && !final) break;  // its pair comes with the next read
      unsigned long low = at + 3 < count ? unit(at + 2) : 0;
      if (low >= 0xDC00 && low <= 0xDFFF) {
        code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
        used = 4;
      } else {
        code = replacement_character;
      }
    } else if (code >= 0xDC00 && code <= 0xDFFF) {
      code = replacement_character;
    }
    put_utf8(out, code);
    at += used;
  }
  if (final && at + 1 == count && limit - out >= 3) {  // an odd byte at the very end
    put_utf8(out, replacement_character);
    ++at;
  }
  consumed = at;
  return static_cast<size_t>(out - start);
}
