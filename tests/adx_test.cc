// The ADX reader: documents in the shapes real exports have, read into records.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "adif/adif_reader.h"
#include "adif/adx_reader.h"
#include "tests/test_streams.h"

namespace {

struct CloseReader {
  void operator()(AdxReader* reader) const { adx_close(reader); }
};
using ReaderPtr = std::unique_ptr<AdxReader, CloseReader>;

// The fields of a tree in name order, as "NAME=value|NAME=value".
std::string fields_of(const AdifField* node) {
  if (!node) return "";
  std::string left = fields_of(node->left);
  std::string right = fields_of(node->right);
  std::string self = std::string(node->name) + "=" + std::string(node->value, node->length);
  return (left.empty() ? "" : left + "|") + self + (right.empty() ? "" : "|" + right);
}

// Every call's result up to the end, one line each: the status, the message
// in brackets, and at EOH/EOR the fields ("(none)" for no record).
std::string read_events(AdxReader* reader) {
  static const char* const statuses[] = {"CONTINUE", "EOH", "EOR", "EOF", "TRUNCATED"};
  std::string events;
  AdifRecord* record = nullptr;
  char* message = nullptr;
  for (int calls = 0; calls < 10000; ++calls) {
    ParseStatus status = adx_read(reader, record, message);
    events += statuses[status];
    if (message) events += " [" + std::string(message) + "]";
    std::free(message);
    message = nullptr;
    if (status == ADIF_EOH || status == ADIF_EOR) {
      events += " " + (record ? fields_of(record->root) : std::string("(none)"));
      free_record(record);
      record = nullptr;
    }
    if (status == ADIF_EOF || status == ADIF_TRUNCATED) {
      EXPECT_EQ(record, nullptr);
      return events;
    }
    events += "\n";
  }
  free_record(record);
  return events + "(no end)";
}

std::string read_document(const std::string& document, const char* encoding = nullptr) {
  StreamPtr stream = stream_with(document);
  ReaderPtr reader(adx_open(stream.get(), encoding));
  return reader ? read_events(reader.get()) : "(no reader)";
}

// `text` (UTF-8, characters below U+10000) as UTF-16 bytes.
std::string utf16(const std::string& text, bool big_endian) {
  std::string bytes;
  for (size_t i = 0; i < text.size();) {
    auto byte = static_cast<unsigned char>(text[i]);
    unsigned code = byte;
    size_t extra = byte >= 0xE0 ? 2 : byte >= 0xC0 ? 1 : 0;
    if (extra) code = byte & (extra == 2 ? 0x0F : 0x1F);
    for (size_t k = 1; k <= extra; ++k) code = (code << 6) | (text[i + k] & 0x3F);
    i += 1 + extra;
    char high = static_cast<char>(code >> 8);
    char low = static_cast<char>(code & 0xFF);
    bytes += big_endian ? std::string{high, low} : std::string{low, high};
  }
  return bytes;
}

const char exported_log[] =
    "<?xml version=\"1.0\"?>\r\n"
    "<ADX>\r\n"
    "\t<HEADER>\r\n"
    "\t\t<!-- Exported for a test -->\r\n"
    "\t\t<ADIF_VER>3.1.4</ADIF_VER>\r\n"
    "\t\t<?page-break?>\r\n"
    "\t\t<PROGRAMID>TestLog</PROGRAMID>\r\n"
    "\t</HEADER>\r\n"
    "  <RECORDS>\r\n"
    "    <RECORD>\r\n"
    "      <CALL>N0CALL</CALL>\r\n"
    "      <!-- between fields -->\r\n"
    "      <NAME>J\xC3\xB6rg</NAME>\r\n"
    "    </RECORD>\r\n"
    "  </RECORDS>\r\n"
    "</ADX>\r\n";

const char exported_events[] =
    "EOH ADIF_VER=3.1.4|PROGRAMID=TestLog\n"
    "EOR CALL=N0CALL|NAME=J\xC3\xB6rg\n"
    "EOF";

std::string records(const std::string& inside) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<ADX><RECORDS>" + inside +
         "</RECORDS></ADX>\n";
}

TEST(AdxReader, ReadsDocumentsIntoHeaderAndRecords) {
  struct Row {
    const char* behaviour;
    std::string document;
    std::string events;
  } rows[] = {
      {"declaration, comments, processing instruction, tabs and spaces", exported_log,
       exported_events},
      {"no header: records only",
       records("<RECORD><CALL>A1A</CALL></RECORD><RECORD><CALL>B2B</CALL></RECORD>"),
       "EOR CALL=A1A\nEOR CALL=B2B\nEOF"},
      {"APP and USERDEF fields",
       "<ADX><HEADER><USERDEF FIELDID=\"1\" TYPE=\"E\" ENUM=\"{S,M,L}\">SWEATERSIZE</USERDEF>"
       "</HEADER><RECORDS><RECORD><USERDEF FIELDNAME=\"SweaterSize\">M</USERDEF>"
       "<APP PROGRAMID=\"LogX\" FIELDNAME=\"Rig\" TYPE=\"S\">IC-7300</APP></RECORD></RECORDS>"
       "</ADX>",
       "EOH USERDEF1=SWEATERSIZE\nEOR APP_LOGX_RIG=IC-7300|SWEATERSIZE=M\nEOF"},
      {"element names in any case, values as written",
       "<adx><records><record><call>n0call</call><Qso_Date>20240105</Qso_Date></record>"
       "</records></adx>",
       "EOR CALL=n0call|QSO_DATE=20240105\nEOF"},
      {"empty values", records("<RECORD><COMMENT></COMMENT><NOTES/></RECORD>"),
       "EOR COMMENT=|NOTES=\nEOF"},
      {"line breaks kept (CR LF read as LF, a CR reference kept)",
       records("<RECORD><NOTES>first\r\nsecond\n</NOTES><ADDRESS>1 Main St&#13;&#10;Town"
               "</ADDRESS></RECORD>"),
       "EOR ADDRESS=1 Main St\r\nTown|NOTES=first\nsecond\n\nEOF"},
      {"references to characters and predefined entities",
       records("<RECORD><NAME>Tom &amp; Jo &lt;3 &#xE9;</NAME></RECORD>"),
       "EOR NAME=Tom & Jo <3 \xC3\xA9\nEOF"},
      {"records without fields", records("<RECORD/><RECORD>\n  </RECORD>"),
       "EOR (none)\nEOR (none)\nEOF"},
      {"each duplicate field reported as it is met",
       records("<RECORD><CALL>A1A</CALL><call>B2B</call><BAND>20m</BAND><BAND>40m</BAND>"
               "</RECORD>"),
       "CONTINUE [Duplicate field: <CALL:3>B2B]\nCONTINUE [Duplicate field: <BAND:3>40m]\n"
       "EOR BAND=20m|CALL=A1A\nEOF"},
      {"Windows-1252 declared",
       "<?xml version=\"1.0\" encoding=\"windows-1252\"?><ADX><RECORDS><RECORD>"
       "<NAME>J\xF6rg \x80</NAME></RECORD></RECORDS></ADX>",
       "EOR NAME=J\xC3\xB6rg \xE2\x82\xAC\nEOF"},
      {"external entities never loaded",
       "<?xml version=\"1.0\"?>\n<!DOCTYPE ADX [<!ENTITY secret SYSTEM "
       "\"file:///etc/hostname\">]>\n<ADX><RECORDS><RECORD><NOTES>[&secret;]</NOTES></RECORD>"
       "</RECORDS></ADX>",
       "EOR NOTES=[]\nEOF"},
      {"malformed XML: records before it kept, the one it is in dropped",
       records("\n<RECORD><CALL>A1A</CALL></RECORD>\n<RECORD><CALL>B2B</CALL>\n"
               "<BAND>20m</MODE></RECORD>"),
       "EOR CALL=A1A\nTRUNCATED [ERROR: Malformed ADX log at line 5: mismatched tag]"},
      {"document cut off inside a record",
       "<?xml version=\"1.0\"?>\n<ADX><RECORDS>\n<RECORD><CALL>A1A</CALL></RECORD>\n"
       "<RECORD><CALL>B2",
       "EOR CALL=A1A\nTRUNCATED [ERROR: Malformed ADX log at line 4: no element found]"},
      {"entity expansion stopped",
       "<?xml version=\"1.0\"?>\n<!DOCTYPE ADX [\n"
       "<!ENTITY a \"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\">\n"
       "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">\n"
       "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">\n"
       "<!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\">\n"
       "<!ENTITY e \"&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;\">\n"
       "<!ENTITY f \"&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;\">\n"
       "<!ENTITY g \"&f;&f;&f;&f;&f;&f;&f;&f;&f;&f;&f;&f;&f;&f;&f;&f;\">\n"
       "]>\n<ADX><RECORDS><RECORD><CALL>A1A</CALL></RECORD>\n<RECORD><NOTES>&g;</NOTES>"
       "</RECORD></RECORDS></ADX>",
       "EOR CALL=A1A\nTRUNCATED [ERROR: Malformed ADX log at line 12: limit on input "
       "amplification factor (from DTD and entities) breached]"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(read_document(row.document), row.events) << row.behaviour;
  }
}

TEST(AdxReader, ReadsUtf16AsTheCallerOrTheDocumentNamesIt) {
  std::string declared = std::string(exported_log);
  std::string bare = declared.substr(declared.find("<ADX>"));
  std::string little = utf16(declared, false);
  struct Row {
    const char* behaviour;
    std::string document;
    const char* encoding;
  } rows[] = {
      {"UTF-16LE without byte-order mark or encoding=, named by the caller", little, "UTF-16LE"},
      {"UTF-16LE without declaration, named by the caller", utf16(bare, false), "UTF-16LE"},
      {"UTF-16BE with byte-order mark", "\xFE\xFF" + utf16(declared, true), nullptr},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(read_document(row.document, row.encoding), exported_events) << row.behaviour;
  }
}

TEST(AdxReader, ReturnsEachRecordOfDocumentsLongerThanOneRead) {
  std::string inside;
  for (int i = 0; i < 3000; ++i)
    inside += "<RECORD><CALL>K" + std::to_string(i) + "</CALL></RECORD>\n";
  std::string long_value(200000, 'x');
  inside += "<RECORD><NOTES>" + long_value + "</NOTES></RECORD>";
  std::string events = read_document(records(inside));
  size_t count = 0;
  for (size_t at = events.find("EOR CALL="); at != std::string::npos;
       at = events.find("EOR CALL=", at + 1)) {
    ++count;
  }
  EXPECT_EQ(count, 3000u);
  EXPECT_NE(events.find("EOR CALL=K2999\nEOR NOTES=" + long_value + "\nEOF"), std::string::npos);
}

TEST(AdxReader, RestartReadsTheSameRecordsFromWhereTheDocumentStarted) {
  // The document starts after bytes of the stream that are not XML.
  StreamPtr stream = stream_with(std::string("JUNK") + exported_log);
  std::fseek(stream.get(), 4, SEEK_SET);
  ReaderPtr reader(adx_open(stream.get(), nullptr));
  ASSERT_TRUE(reader);
  EXPECT_EQ(read_events(reader.get()), exported_events);
  AdifRecord* record = nullptr;
  char* message = nullptr;
  EXPECT_EQ(adx_read(reader.get(), record, message), ADIF_EOF);  // and so on after the end
  ASSERT_TRUE(adx_restart(reader.get()));
  EXPECT_EQ(read_events(reader.get()), exported_events);
  // Restarted halfway through the first pass.
  ASSERT_TRUE(adx_restart(reader.get()));
  EXPECT_EQ(adx_read(reader.get(), record, message), ADIF_EOH);
  free_record(record);
  record = nullptr;
  ASSERT_TRUE(adx_restart(reader.get()));
  EXPECT_EQ(read_events(reader.get()), exported_events);
  EXPECT_FALSE(adx_out_of_memory(reader.get()));
}

TEST(AdxReader, ReportsAnInputThatCannotBeRead) {
#ifdef _WIN32
  GTEST_SKIP() << "the C runtime reads nothing from a write-only stream, but reports no error";
#endif
  std::string path = scratch_path("adx_write_only.adx");
  FILE* write_only = std::fopen(path.c_str(), "wb");
  ASSERT_NE(write_only, nullptr);
  StreamPtr stream(write_only);
  ReaderPtr reader(adx_open(stream.get(), nullptr));
  ASSERT_TRUE(reader);
  EXPECT_EQ(read_events(reader.get()), "TRUNCATED [ERROR: Could not read the ADX log]");
  EXPECT_FALSE(adx_out_of_memory(reader.get()));
  stream.reset();
  std::remove(path.c_str());
}

TEST(AdxReader, RecognisesTheStartOfAnAdxDocument) {
  struct Row {
    std::string bytes;
    bool adx;
  } rows[] = {
      {"<?xml version=\"1.0\"?>", true},
      {"<ADX>", true},
      {utf16("<?xml version", false), true},
      {utf16("<ADX>", true), true},
      {"<ADIF_VER:5>3.1.4", false},
      {"<CALL:6>N0CALL<EOR>", false},
      {"Exported by a logger <EOH>", false},
      {" <?xml", false},
      {"<?xm", false},
      {"", false},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(looks_like_ADX(row.bytes.data(), row.bytes.size()), row.adx) << row.bytes;
  }
}

// What a file's first bytes make of it, for the shapes that the command-line
// table (tests/doors) does not show; `skip` is where reading starts.
TEST(IdentifyLog, TellsLogsFromOtherMarkupByTheirFirstBytes) {
  const std::string comment_past_sample = "<!--" + std::string(5000, ' ') + "-->\n<ADX></ADX>";
  struct Row {
    const char* what;
    std::string bytes;
    LogKind kind;
    size_t skip;
    const char* said;  // LOG_OTHER: what it looks like
  } rows[] = {
      {"DOCTYPE with an internal subset", "<!DOCTYPE ADX [<!ENTITY a \"b\">]>\n<ADX>", LOG_ADX, 0,
       ""},
      {"byte-order mark, blank line, declaration", "\xEF\xBB\xBF\r\n<?xml version=\"1.0\"?><ADX>",
       LOG_ADX, 5, ""},
      {"byte-order mark right before the XML", "\xEF\xBB\xBF<ADX>", LOG_ADX, 0, ""},
      {"comment before the declaration", "<!-- x -->\n<?xml version=\"1.0\"?><ADX>", LOG_ADX, 11,
       ""},
      {"UTF-16BE with a mark and blanks first", "\xFE\xFF" + utf16("  <ADX>", true), LOG_ADX, 6,
       ""},
      {"a prolog longer than what is judged", comment_past_sample, LOG_ADX, 0, ""},
      {"tag names with blanks and a type", "<Seq (R):3:N>001<EOR>", LOG_ADIF, 0, ""},
      {"a header without a record", "Export of an empty log\n<eoh>\n", LOG_ADIF, 0, ""},
      {"a tag after 64 KiB of free text", std::string(65536, 'x') + "<CALL:4>W1AW<EOR>", LOG_OTHER,
       0, "it holds no ADIF tag"},
      {"HTML without a DOCTYPE", "<html><body>Error 500</body></html>", LOG_OTHER, 0,
       "an HTML page"},
      {"a colon and digits inside an attribute", "<?xml version=\"1.0\"?><svg width=\"x:5\">",
       LOG_OTHER, 0, "an XML file with root svg"},
  };
  for (const Row& row : rows) {
    LogIdentity identity =
        identify_log(reinterpret_cast<const unsigned char*>(row.bytes.data()), row.bytes.size());
    EXPECT_EQ(identity.kind, row.kind) << row.what;
    EXPECT_EQ(identity.skip, row.skip) << row.what;
    EXPECT_STREQ(identity.kind == LOG_OTHER ? identity.what : "", row.said) << row.what;
  }
}

}  // namespace
