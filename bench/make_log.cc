// make-bench-log: writes a made-up ADIF log to standard output, the same bytes
// on every run for the same arguments.
//
//   make-bench-log RECORDS             typical log: 12 to 20 fields a record
//   make-bench-log RECORDS --fields N  every record carries the same N fields
//   make-bench-log --mixed SEED        a small log full of awkward input, for
//                                      comparing two builds' output
//   make-bench-log --correct SEED      a small log of right lengths only, in
//                                      awkward shapes: its output must never
//                                      change
//   make-bench-log RECORDS --adx       the typical log's records as an ADX
//                                      (XML) document
//   make-bench-log RECORDS --duplicate the typical log with a second CALL in
//                                      every record (a message per record)
//
// Typical logs look like what loggers export: a header of free text and
// fields, CR LF line ends, most records on one line and some with one field a
// line, tag names in upper, lower or mixed case, data-type indicators on some
// tags, comments and place names with commas, apostrophes and double quotes,
// and now and then a note that runs over two lines.
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

// splitmix64: small, fast and the same everywhere.
struct Random {
  uint64_t state;
};

uint64_t next(Random& random) {
  uint64_t z = (random.state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

// Returns a number from 0 to `count` - 1.
uint32_t below(Random& random, uint32_t count) {
  return static_cast<uint32_t>(next(random) % count);
}

template <size_t N>
const char* pick(Random& random, const char* const (&table)[N]) {
  return table[below(random, N)];
}

const char* const prefixes[] = {"DL", "K",  "W",  "N",  "JA", "VK", "G",  "F",   "EA",  "I",
                                "OH", "SM", "PY", "LU", "VE", "ZL", "ON", "HB9", "OK",  "SP",
                                "UA", "YO", "HA", "LZ", "9A", "S5", "OE", "PA",  "KH6", "VA"};
const char* const suffixes[] = {"/P", "/M", "/QRP", "/MM"};

struct Band {
  const char* name;
  const char* freq;
};
const Band bands[] = {{"160m", "1.8"}, {"80m", "3.5"},  {"40m", "7.0"},  {"30m", "10.1"},
                      {"20m", "14.0"}, {"17m", "18.0"}, {"15m", "21.0"}, {"12m", "24.9"},
                      {"10m", "28.0"}, {"6m", "50.1"},  {"2m", "144.1"}, {"70cm", "432.1"}};

struct Mode {
  const char* mode;
  const char* submode;  // null when the mode has none
  bool digital;         // reports are signal-to-noise numbers
};
const Mode modes[] = {{"SSB", "USB", false},  {"SSB", "LSB", false},  {"CW", nullptr, false},
                      {"FT8", nullptr, true}, {"MFSK", "FT4", true},  {"RTTY", nullptr, false},
                      {"FM", nullptr, false}, {"PSK", "PSK31", true}, {"MFSK", "JS8", true}};

const char* const first_names[] = {"Hans", "Bob", "Yuki", "Ana",   "Pat O'Brien", "Mika",
                                   "Jo",   "Ian", "Olga", "Pedro", "Liz",         "D'Arcy"};
const char* const places[] = {
    "Springfield, IL", "Munich", "Osaka",   "Kildare",   "St. John's, NL", "Rio de Janeiro", "Brno",
    "Hobart, TAS",     "Lyon",   "Ushuaia", "Reykjavik", "Bergen"};
const char* const countries[] = {"Fed. Rep. of Germany",
                                 "United States of America",
                                 "Japan",
                                 "Australia",
                                 "England",
                                 "France",
                                 "Spain",
                                 "Italy",
                                 "Finland",
                                 "Brazil",
                                 "Canada",
                                 "Czech Republic"};
const char* const comments[] = {"said \"hi\", nice signal",
                                "QSB, called twice",
                                "worked him on a \"new\" antenna, 5 el yagi",
                                "tnx for the QSO",
                                "pileup, 2nd call",
                                "op's first HF contact",
                                "rig: IC-7300, 100 W, dipole",
                                "\"73\" and \"GL\"",
                                "weak, but solid copy",
                                "QRM from the contest; 'tnx agn'"};
const char* const notes[] = {"Long chat about the club net.\r\nAsked for a card via the bureau.",
                             "Band opened at sunset.\r\nSent QSL, see \"LoTW\" too."};
const char* const continents[] = {"EU", "NA", "SA", "AS", "AF", "OC"};
const char* const yes_no[] = {"Y", "N", "R", "Q"};
const char* const powers[] = {"5", "10", "50", "100", "400", "1000"};

// How a record's tags are written.
struct Style {
  int name_case;      // 0 upper, 1 lower, 2 first letter of each word upper
  bool types;         // data-type indicators on dates, times and numbers
  bool one_per_line;  // each field on its own line
  bool adx;           // ADX: <NAME>value</NAME>, the value's XML escaped
};

// How the whole log is written (set once by the command line).
struct LogShape {
  bool adx;        // an ADX document instead of ADIF text
  bool duplicate;  // every record has a second CALL
};
LogShape shape{};

// Appends one ADX field element, its value with &, < and > escaped.
void put_adx_field(std::string& out, const char* name, const std::string& value) {
  out += '<';
  out += name;
  out += '>';
  for (char c : value) {
    if (c == '&') {
      out += "&amp;";
    } else if (c == '<') {
      out += "&lt;";
    } else if (c == '>') {
      out += "&gt;";
    } else {
      out += c;
    }
  }
  out += "</";
  out += name;
  out += '>';
}

// Appends one field `<NAME:length[:type]>value`, its name in the style's case.
void put_field(std::string& out, const Style& style, const char* name, const std::string& value,
               const char* type) {
  if (style.adx) {
    put_adx_field(out, name, value);
    return;
  }
  out += '<';
  bool word_start = true;
  for (const char* c = name; *c; ++c) {
    char ch = *c;
    if (style.name_case == 1 || (style.name_case == 2 && !word_start)) {
      if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
    }
    word_start = ch == '_';
    out += ch;
  }
  out += ':';
  out += std::to_string(value.size());
  if (style.types && type) {
    out += ':';
    out += type;
  }
  out += '>';
  out += value;
  out += style.one_per_line ? "\r\n" : " ";
}

std::string call_sign(Random& random) {
  std::string call = pick(random, prefixes);
  call += static_cast<char>('0' + below(random, 10));
  int letters = 1 + static_cast<int>(below(random, 3));
  for (int i = 0; i < letters; ++i) call += static_cast<char>('A' + below(random, 26));
  if (below(random, 20) == 0) call += pick(random, suffixes);
  return call;
}

std::string digits(uint32_t value, int width) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*u", width, value);
  return text;
}

std::string grid(Random& random, bool six) {
  std::string square;
  square += static_cast<char>('A' + below(random, 18));
  square += static_cast<char>('A' + below(random, 18));
  square += static_cast<char>('0' + below(random, 10));
  square += static_cast<char>('0' + below(random, 10));
  if (six) {
    square += static_cast<char>('a' + below(random, 24));
    square += static_cast<char>('a' + below(random, 24));
  }
  return square;
}

// The optional fields of a typical record, in the order loggers write them.
enum Optional {
  OPT_TIME_OFF,
  OPT_QSO_DATE_OFF,
  OPT_NAME,
  OPT_QTH,
  OPT_GRIDSQUARE,
  OPT_COMMENT,
  OPT_TX_PWR,
  OPT_DXCC,
  OPT_CQZ,
  OPT_ITUZ,
  OPT_CONT,
  OPT_COUNTRY,
  OPT_QSL_SENT,
  OPT_QSL_RCVD,
  OPT_LOTW_QSL_SENT,
  OPT_OPERATOR,
  OPT_MY_GRIDSQUARE,
  OPT_CONTEST_ID,
  OPT_STX,
  OPT_SRX,
  OPT_NOTES,
  optional_count
};

void typical_record(std::string& out, Random& random, uint64_t index) {
  Style style{};
  uint32_t look = below(random, 16);
  style.name_case = look < 12 ? 0 : look < 15 ? 1 : 2;
  style.types = below(random, 3) == 0;
  style.one_per_line = below(random, 5) == 0;
  style.adx = shape.adx;
  if (shape.adx) out += "<RECORD>";

  const Band& band = bands[below(random, sizeof bands / sizeof bands[0])];
  const Mode& mode = modes[below(random, sizeof modes / sizeof modes[0])];
  uint32_t year = 2015 + below(random, 10);
  std::string date =
      digits(year, 4) + digits(1 + below(random, 12), 2) + digits(1 + below(random, 28), 2);
  uint32_t hour = below(random, 24), minute = below(random, 60);
  std::string time_on = digits(hour, 2) + digits(minute, 2);
  if (below(random, 2)) time_on += digits(below(random, 60), 2);
  std::string report = mode.digital ? "-" + digits(below(random, 24), 2)
                       : (mode.mode[0] == 'C' || mode.mode[0] == 'R') ? "599"
                                                                      : "59";

  // Nine fields every record has, then 3 to 11 optional ones.
  std::string call = call_sign(random);
  put_field(out, style, "CALL", call, nullptr);
  put_field(out, style, "QSO_DATE", date, "D");
  put_field(out, style, "TIME_ON", time_on, "T");
  put_field(out, style, "BAND", band.name, nullptr);
  put_field(out, style, "FREQ", std::string(band.freq) + digits(below(random, 1000), 3), "N");
  put_field(out, style, "MODE", mode.mode, nullptr);
  if (mode.submode) put_field(out, style, "SUBMODE", mode.submode, nullptr);
  put_field(out, style, "RST_SENT", report, nullptr);
  put_field(out, style, "RST_RCVD", report, nullptr);
  put_field(out, style, "STATION_CALLSIGN", "N0CALL", nullptr);

  bool chosen[optional_count] = {};
  int wanted = 3 + static_cast<int>(below(random, 9)) - (mode.submode ? 1 : 0);
  // Notes run over a line end; one record in 400 has one.
  if (below(random, 400) == 0) {
    chosen[OPT_NOTES] = true;
    --wanted;
  }
  while (wanted > 0) {
    uint32_t which = below(random, OPT_NOTES);
    if (!chosen[which]) {
      chosen[which] = true;
      --wanted;
    }
  }
  for (int which = 0; which < optional_count; ++which) {
    if (!chosen[which]) continue;
    switch (which) {
      case OPT_TIME_OFF:
        put_field(out, style, "TIME_OFF", digits(hour, 2) + digits((minute + 2) % 60, 2), "T");
        break;
      case OPT_QSO_DATE_OFF:
        put_field(out, style, "QSO_DATE_OFF", date, "D");
        break;
      case OPT_NAME:
        put_field(out, style, "NAME", pick(random, first_names), nullptr);
        break;
      case OPT_QTH:
        put_field(out, style, "QTH", pick(random, places), nullptr);
        break;
      case OPT_GRIDSQUARE:
        put_field(out, style, "GRIDSQUARE", grid(random, below(random, 2)), nullptr);
        break;
      case OPT_COMMENT:
        put_field(out, style, "COMMENT", pick(random, comments), nullptr);
        break;
      case OPT_TX_PWR:
        put_field(out, style, "TX_PWR", pick(random, powers), "N");
        break;
      case OPT_DXCC:
        put_field(out, style, "DXCC", std::to_string(1 + below(random, 520)), "N");
        break;
      case OPT_CQZ:
        put_field(out, style, "CQZ", std::to_string(1 + below(random, 40)), "N");
        break;
      case OPT_ITUZ:
        put_field(out, style, "ITUZ", std::to_string(1 + below(random, 90)), "N");
        break;
      case OPT_CONT:
        put_field(out, style, "CONT", pick(random, continents), nullptr);
        break;
      case OPT_COUNTRY:
        put_field(out, style, "COUNTRY", pick(random, countries), nullptr);
        break;
      case OPT_QSL_SENT:
        put_field(out, style, "QSL_SENT", pick(random, yes_no), nullptr);
        break;
      case OPT_QSL_RCVD:
        put_field(out, style, "QSL_RCVD", pick(random, yes_no), nullptr);
        break;
      case OPT_LOTW_QSL_SENT:
        put_field(out, style, "LOTW_QSL_SENT", pick(random, yes_no), nullptr);
        break;
      case OPT_OPERATOR:
        put_field(out, style, "OPERATOR", "N0CALL", nullptr);
        break;
      case OPT_MY_GRIDSQUARE:
        put_field(out, style, "MY_GRIDSQUARE", "FN31pr", nullptr);
        break;
      case OPT_CONTEST_ID:
        put_field(out, style, "CONTEST_ID", "CQ-WW-SSB", nullptr);
        break;
      case OPT_STX:
        put_field(out, style, "STX", std::to_string(index % 10000), "N");
        break;
      case OPT_SRX:
        put_field(out, style, "SRX", std::to_string(1 + below(random, 3000)), "N");
        break;
      case OPT_NOTES:
        put_field(out, style, "NOTES", pick(random, notes), nullptr);
        break;
      default:
        break;
    }
  }
  // A logger that writes the call sign twice: the second is reported, and
  // costs a message per record.
  if (shape.duplicate) put_field(out, style, "CALL", call, nullptr);
  if (shape.adx) {
    out += "</RECORD>\r\n";
  } else {
    out += style.name_case == 1 ? "<eor>\r\n" : "<EOR>\r\n";
  }
}

// A record of exactly `fields` fields named APP_BENCH_001 on, written in
// the order `order` gives (the same for every record, as a logger writes its
// fields in an order of its own, not sorted), each value 2 to 12
// characters, all on one line.
void wide_record(std::string& out, Random& random, const std::vector<int>& order) {
  Style style{};
  for (int field : order) {
    char name[32];
    std::snprintf(name, sizeof name, "APP_BENCH_%03d", field);
    std::string value;
    int length = 2 + static_cast<int>(below(random, 11));
    for (int i = 0; i < length; ++i) value += static_cast<char>('a' + below(random, 26));
    put_field(out, style, name, value, nullptr);
  }
  out += "<EOR>\r\n";
}

void header(std::string& out) {
  if (shape.adx) {
    out +=
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
        "<ADX>\r\n<HEADER><ADIF_VER>3.1.4</ADIF_VER><PROGRAMID>make-bench-log</PROGRAMID>"
        "<PROGRAMVERSION>1.0</PROGRAMVERSION><CREATED_TIMESTAMP>20240101 120000"
        "</CREATED_TIMESTAMP></HEADER>\r\n<RECORDS>\r\n";
    return;
  }
  out +=
      "Ledgerly benchmark log: made-up contacts for timing the converter.\r\n"
      "Exported by the bench generator; times are UTC, \"power\" is in watts.\r\n"
      "<ADIF_VER:5>3.1.4 <PROGRAMID:14>make-bench-log <PROGRAMVERSION:3>1.0\r\n"
      "<CREATED_TIMESTAMP:15>20240101 120000\r\n"
      "<EOH>\r\n";
}

// Pieces from which mixed logs are cut: well-formed and broken tags, both line
// ends, values that run over lines or swallow the next tag, duplicates, odd
// dates, quotes and commas.
const char* const mixed_pieces[] = {"<CALL:6>N0CALL ",
                                    "<call:5>K1ABC",
                                    "<Call:4>W1AW",
                                    "<BAND:3>20m",
                                    "<band:3>40m ",
                                    "<MODE:2>CW",
                                    "<QSO_DATE:8>20240105",
                                    "<QSO_DATE:8:D>19991231",
                                    "<QSO_DATE:4>2024",
                                    "<QSO_DATE:10>2024-01-05",
                                    "<QSO_DATE:0>",
                                    "<QSO_DATE:8>20241305",
                                    "<QSO_DATE:6>240105",
                                    "<TIME_ON:4>0930",
                                    "<TIME_OFF:6>235959",
                                    "<TIME_ON:0>",
                                    "<COMMENT:14>said \"hi\", bye",
                                    "<COMMENT:1>\"",
                                    "<NAME:7>O'Brien",
                                    "<QTH:9>a;b c  d ",
                                    "<NOTES:12>two\r\nlines ",
                                    "<NOTES:9>one\nmore\n",
                                    "<FREQ:6:N>14.074",
                                    "<EOR>",
                                    "<eor>",
                                    "<EOR>\r\n",
                                    "<EOH>",
                                    "<EOR:0>",
                                    "<EOR:-1>",
                                    "<X:-3>abc",
                                    "<SKIP>",
                                    "<APP_X_Y:3>1,2",
                                    "<GRID:2>AB<EOR>",
                                    "<LONG:20>short<EOR>tail",
                                    "<CAL",
                                    "<TAG:3",
                                    "text outside ",
                                    "\r\n",
                                    "\n",
                                    "\r\n",
                                    "\n",
                                    "<QSO_DATE_OFF:8>20240105",
                                    "<A:1>a",
                                    "<B_:1>b",
                                    "<:1>e",
                                    "<CALL_2:3>X,Y",
                                    "<DXCC:3>291",
                                    "<SUBMODE:3>USB",
                                    "<TIME_ON:5>12'34"};

void mixed_log(std::string& out, Random& random) {
  int pieces = 20 + static_cast<int>(below(random, 200));
  for (int i = 0; i < pieces; ++i) {
    out += pick(random, mixed_pieces);
    uint32_t rare = below(random, 500);
    if (rare == 0) {
      // A run of text that brings its line near the 8190-character limit or
      // past it.
      out.append(8150 + below(random, 60), 'x');
    } else if (rare == 1) {
      // A value longer than the line buffer, over lines of 100 characters.
      out += "<BIG:9000>";
      for (int line = 0; line < 90; ++line) out.append(99, 'y') += '\n';
    } else if (rare == 2) {
      // A NUL byte inside a value on one line.
      out += std::string("<NUL:5>a\0bc ", 12);
    } else if (rare == 3) {
      // A NUL byte on a line that completes a value.
      out += std::string("<NUL:12>ab\ncd\0efghij\n", 21);
    }
  }
  out += "<EOR>\r\n";
}

bool write_all(const std::string& text) {
  return std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
}

// Fields for correct logs, each written with its length in bytes: values
// holding `<` and tag-like text, non-ASCII endings in UTF-8, Windows-1252 and
// GBK, line breaks of both kinds, a URL.
const char* const correct_names[] = {"CALL",    "QSO_DATE", "TIME_ON", "BAND", "MODE",
                                     "COMMENT", "NOTES",    "NAME",    "QTH",  "FREQ",
                                     "APP_X_Y", "Seq (R)",  "address", "Web"};
const char* const correct_values[] = {"N0CALL",
                                      "20240105",
                                      "0930",
                                      "20m",
                                      "<public key>",
                                      "a<b>c",
                                      "<EOR>",
                                      "x <CALL:4>W1AW",
                                      "J\xC3\xB6rg",
                                      "M\xC3\xBCnchen \xE2\x9C\x85",
                                      "K\xF6ln",
                                      "\xB9\xAB\xC0\xEF",
                                      "two\r\nlines",
                                      "one\nmore\n",
                                      "http://example.org/a",
                                      "14.074",
                                      "said \"hi\", bye",
                                      "",
                                      " padded "};
// What stands between fields: blanks, line ends, a LoTW-style comment.
const char* const correct_gaps[] = {"", " ", "\r\n", "\n", "\t", " // note\r\n", "  \n\n"};

void correct_log(std::string& out, Random& random) {
  if (below(random, 2)) out += "A header of free text\r\n<ADIF_VER:5>3.1.4 <EOH>\r\n";
  int records = 1 + static_cast<int>(below(random, 30));
  for (int record = 0; record < records; ++record) {
    // Each name at most once a record, so that no record has a duplicate.
    const size_t count = sizeof correct_names / sizeof correct_names[0];
    std::vector<const char*> names(correct_names, correct_names + count);
    for (size_t i = names.size(); i > 1; --i) {
      std::swap(names[i - 1], names[below(random, static_cast<uint32_t>(i))]);
    }
    size_t fields = 1 + below(random, static_cast<uint32_t>(count));
    for (size_t field = 0; field < fields; ++field) {
      std::string value = pick(random, correct_values);
      out += "<" + std::string(names[field]) + ":" + std::to_string(value.size());
      if (below(random, 4) == 0) out += ":S";
      out += ">" + value + pick(random, correct_gaps);
    }
    out += below(random, 2) ? "<EOR>\r\n" : "<eor>\n";
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--correct") == 0) {
    Random random{std::strtoull(argv[2], nullptr, 10) * 104729 + 3};
    std::string out;
    correct_log(out, random);
    return write_all(out) ? 0 : 1;
  }
  if (argc == 3 && std::strcmp(argv[1], "--mixed") == 0) {
    Random random{std::strtoull(argv[2], nullptr, 10) * 7919 + 17};
    std::string out;
    mixed_log(out, random);
    return write_all(out) ? 0 : 1;
  }
  if (argc == 3 && std::strcmp(argv[2], "--adx") == 0) {
    shape.adx = true;
    argc = 2;
  } else if (argc == 3 && std::strcmp(argv[2], "--duplicate") == 0) {
    shape.duplicate = true;
    argc = 2;
  }
  if (argc != 2 && !(argc == 4 && std::strcmp(argv[2], "--fields") == 0)) {
    std::fputs(
        "Usage: make-bench-log RECORDS [--fields N | --adx | --duplicate]\n"
        "       make-bench-log --mixed SEED | --correct SEED\n",
        stderr);
    return 2;
  }
  uint64_t records = std::strtoull(argv[1], nullptr, 10);
  int fields = argc == 4 ? std::atoi(argv[3]) : 0;
  Random random{fields ? 4242u + static_cast<uint64_t>(fields) : 1945u};

  std::vector<int> order;
  for (int field = 1; field <= fields; ++field) order.push_back(field);
  for (size_t i = order.size(); i > 1; --i) {
    std::swap(order[i - 1], order[below(random, static_cast<uint32_t>(i))]);
  }

  std::string out;
  header(out);
  for (uint64_t index = 0; index < records; ++index) {
    if (fields > 0) {
      wide_record(out, random, order);
    } else {
      typical_record(out, random, index);
    }
    if (out.size() > (1u << 20)) {
      if (!write_all(out)) return 1;
      out.clear();
    }
  }
  if (shape.adx) out += "</RECORDS>\r\n</ADX>\r\n";
  return write_all(out) && std::fflush(stdout) == 0 ? 0 : 1;
}
