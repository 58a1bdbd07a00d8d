// What a log file is and how its text is encoded, judged from its first
// bytes, and UTF-16 text transcoded to UTF-8 as it is read.
#include <cstdio>
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

// At most this many bytes of a file in 8-bit text are judged (a header's
// free text may run long before the first tag), and this many characters of
// UTF-16 text, narrowed on the stack.
constexpr size_t judged_bytes = size_t{1} << 16;
constexpr size_t judged_utf16_characters = 4096;

char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool is_letter(char c) { return (upper(c) >= 'A' && upper(c) <= 'Z'); }

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// True when `text` (of `left` characters) starts with `word`, in any case.
bool starts_with_word(const char* text, size_t left, const char* word) {
  size_t size = std::strlen(word);
  if (left < size) return false;
  for (size_t i = 0; i < size; ++i) {
    if (upper(text[i]) != upper(word[i])) return false;
  }
  return true;
}

// True when a tag of the form <NAME:LENGTH> or <NAME:LENGTH:TYPE> starts at
// `text` (of `left` characters).
bool is_ADIF_tag(const char* text, size_t left) {
  size_t at = 1;
  while (at < left && at < 100 && text[at] != ':' && text[at] != '<' && text[at] != '>' &&
         static_cast<unsigned char>(text[at]) >= 0x20) {
    ++at;
  }
  if (at == 1 || at >= left || text[at] != ':' || is_space(text[1])) return false;
  size_t digits = ++at;
  while (at < left && is_digit(text[at])) ++at;
  if (at == digits) return false;
  if (at < left && text[at] == ':') {
    size_t letters = ++at;
    while (at < left && is_letter(text[at])) ++at;
    if (at == letters || at - letters > 3) return false;
  }
  return at < left && text[at] == '>';
}

// What the markup of a text shows.
struct Markup {
  bool ADIF_tag;       // a tag with a length: <NAME:LENGTH>
  bool end_of_header;  // an <EOH>
  bool bare_tag;       // a tag without a length, such as <CALL>
  bool prolog_open;    // the text starts with XML markup that runs past the sample
  bool prolog;         // a declaration, comment or DOCTYPE came before the root
  char root[24];       // the first element after the XML prolog, or empty
  size_t start;        // where the XML starts: its declaration, or its first markup
};

// Skips from `at` past the next `end`; returns the position after it, or `left`.
size_t skip_past(const char* text, size_t left, size_t at, const char* end) {
  size_t size = std::strlen(end);
  for (; at + size <= left; ++at) {
    if (std::memcmp(text + at, end, size) == 0) return at + size;
  }
  return left;
}

// Reads the XML prolog at the start of `text` (declaration, comments,
// processing instructions, DOCTYPE, white space) and the root element's name.
void read_prolog(const char* text, size_t left, Markup& markup) {
  size_t at = 0;
  bool started = false;   // markup was met
  bool declared = false;  // an XML declaration was met
  for (;;) {
    while (at < left && is_space(text[at])) ++at;
    if (at >= left) {
      markup.prolog_open = started;
      return;
    }
    if (text[at] != '<') return;  // text: no XML
    if (!declared && starts_with_word(text + at, left - at, "<?xml")) {
      markup.start = at;
      declared = true;
    } else if (!started) {
      markup.start = at;
    }
    started = true;
    markup.prolog =
        markup.prolog || (at + 1 < left && (text[at + 1] == '?' || text[at + 1] == '!'));
    size_t next = at;
    if (starts_with_word(text + at, left - at, "<?")) {
      next = skip_past(text, left, at, "?>");
    } else if (starts_with_word(text + at, left - at, "<!--")) {
      next = skip_past(text, left, at + 4, "-->");
    } else if (starts_with_word(text + at, left - at, "<!DOCTYPE")) {
      size_t close = skip_past(text, left, at, ">");
      size_t subset = skip_past(text, close, at, "[");
      next =
          subset < close ? skip_past(text, left, skip_past(text, left, subset, "]"), ">") : close;
    } else {
      size_t length = 0;
      for (++at; at < left && length + 1 < sizeof markup.root &&
                 (is_letter(text[at]) || is_digit(text[at]) || text[at] == '_' || text[at] == '-' ||
                  text[at] == '.');
           ++at) {
        markup.root[length++] = text[at];
      }
      if (at < left && text[at] == ':') length = 0;  // <NAME:LENGTH>, or a namespace
      markup.root[length] = '\0';
      return;
    }
    if (next >= left) {
      markup.prolog_open = true;
      return;
    }
    at = next;
  }
}

// Reads what markup `text` (of `left` characters) holds.
Markup read_markup(const char* text, size_t left) {
  Markup markup{};
  read_prolog(text, left, markup);
  for (size_t at = 0; at < left; ++at) {
    if (text[at] != '<') continue;
    if (is_ADIF_tag(text + at, left - at)) {
      markup.ADIF_tag = true;
      return markup;
    }
    if (starts_with_word(text + at, left - at, "<EOH>")) markup.end_of_header = true;
    size_t end = at + 1;
    while (end < left && (is_letter(text[end]) || text[end] == '_')) ++end;
    if (end > at + 1 && end < left && text[end] == '>') markup.bare_tag = true;
  }
  return markup;
}

// Judges the text `text` (`left` characters; UTF-16 narrowed to one byte a
// character) as an ADX log, an ADIF log or neither; `start` receives where
// an ADX log's XML starts.
LogKind judge_text(const char* text, size_t left, LogIdentity& identity, size_t& start) {
  Markup markup = read_markup(text, left);
  start = markup.start;
  if (starts_with_word(markup.root, sizeof markup.root, "ADX") && !markup.root[3]) return LOG_ADX;
  if (markup.ADIF_tag || markup.end_of_header) return LOG_ADIF;
  if (!markup.root[0] && markup.prolog_open) return LOG_ADX;  // the reader will tell
  static char described[64];
  static const char* const page_roots[] = {"html", "head", "body"};
  bool page = false;
  for (const char* element : page_roots) {
    page = page || (starts_with_word(markup.root, sizeof markup.root, element) && !markup.root[4]);
  }
  if (page) {
    identity.what = "an HTML page";
  } else if (markup.root[0] && (markup.prolog || !markup.bare_tag)) {
    std::snprintf(described, sizeof described, "an XML file with root %s", markup.root);
    identity.what = described;
  } else if (markup.bare_tag) {
    identity.what = "its tags have no lengths, as ADIF fields must";
  } else {
    identity.what = "it holds no ADIF tag";
  }
  return LOG_OTHER;
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
  const char* sample = nullptr;  // the characters judged, one byte each
  char narrowed[judged_utf16_characters];
  size_t used = 0;
  size_t step = 1;
  if (identity.encoding != TEXT_BYTES) {
    // One byte a character: a character past U+00FF is no markup.
    step = 2;
    size_t low = identity.encoding == TEXT_UTF16LE ? 0 : 1;
    for (size_t i = 0; i + 1 < left && used < sizeof narrowed; i += 2) {
      narrowed[used++] = text[i + 1 - low] ? '?' : static_cast<char>(text[i + low]);
    }
    sample = narrowed;
  } else {
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
      return identity;
    }
    size_t bom = starts_with(text, left, "\xEF\xBB\xBF", 3) ? 3 : 0;
    used = left - bom < judged_bytes ? left - bom : judged_bytes;
    sample = reinterpret_cast<const char*>(text + bom);
    if (bom) identity.skip = 3;
  }
  size_t start = 0;
  identity.kind = judge_text(sample, used, identity, start);
  // An ADX log is read from its XML on: white space or comments before the
  // declaration would make it malformed. (A UTF-8 byte-order mark right
  // before the XML is left to the XML reader.)
  if (identity.kind == LOG_ADX && start > 0) {
    identity.skip += start * step;
  } else if (identity.encoding == TEXT_BYTES) {
    identity.skip = 0;
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
