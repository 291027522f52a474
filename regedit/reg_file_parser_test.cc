// Tests of the registry-editor file parser: hand-made files in every encoding
// and line-end form, every data form, and the errors with their lines.
#include "regedit/reg_file_parser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orvik::regedit {

// Shows an entry in failure messages.
void PrintTo(const RegEntry& e, std::ostream* os) {
  *os << "{kind " << static_cast<int>(e.kind) << " line " << e.line << " path '" << e.path
      << "' name '" << e.name << "' type " << e.type << " data(" << e.data.size() << ") exact "
      << e.exact << "}";
}

namespace {

using Kind = RegEntry::Kind;

struct Parsed {
  std::vector<RegEntry> entries;
  bool ok = false;
  int error_line = 0;
  std::string error;
  RegFileFormat format = RegFileFormat::kRegedit4;
};

Parsed Parse(const std::string& bytes, size_t max_value = posix::kMaxValueDataSize) {
  MemorySource source(bytes);
  RegFileParser parser(source, max_value);
  Parsed result;
  RegEntry entry;
  for (;;) {
    const RegFileParser::Result r = parser.Next(&entry);
    if (r == RegFileParser::Result::kEntry) {
      result.entries.push_back(entry);
      continue;
    }
    result.ok = r == RegFileParser::Result::kEnd;
    result.error_line = parser.error_line();
    result.error = parser.error();
    result.format = parser.format();
    return result;
  }
}

// Lines joined with CR LF, as EXPORT writes them.
std::string Crlf(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

std::string Utf16Le(const std::u16string& text) {
  std::string bytes = "\xFF\xFE";
  for (char16_t c : text) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  return bytes;
}

RegEntry Key(HKEY root, const std::string& path, int line, bool remove = false) {
  RegEntry e;
  e.kind = remove ? Kind::kRemoveKey : Kind::kKey;
  e.root = root;
  e.path = path;
  e.line = line;
  return e;
}

RegEntry Value(const std::string& name, DWORD type, const std::string& data, int line,
               bool exact = false) {
  RegEntry e;
  e.kind = Kind::kValue;
  e.name = name;
  e.type = type;
  e.data = data;
  e.line = line;
  e.exact = exact;
  return e;
}

RegEntry RemoveValue(const std::string& name, int line) {
  RegEntry e;
  e.kind = Kind::kRemoveValue;
  e.name = name;
  e.line = line;
  return e;
}

TEST(RegFileParserTest, ReadsEveryEntryFormOfAnExportedFile) {
  const Parsed p = Parse(Crlf({
      "REGEDIT4",
      "",
      "[HKEY_CURRENT_USER\\software\\myco]",
      "@=\"Default text\"",
      "\"Path\"=\"C:\\\\Program Files\\\\MyCo\"",
      "\"Count\"=dword:0000001f",
      "\"Flags\"=hex:01,00,ff",
      "\"List\"=hex(7):61,00,62,00,00",
      "\"Empty\"=hex:",
      "\"Odd\"=hex(1f):",
      "\"All\"=hex(ffffffff):0a",
      "\"Say \\\"hi\\\"\"=\"a \\\"quoted\\\" \\\\ text\"",
      ";\"Link\"=REG_LINK not supported",
      "",
      "[HKEY_CURRENT_USER\\software\\myco\\Child]",
  }));
  ASSERT_TRUE(p.ok) << p.error_line << ": " << p.error;
  EXPECT_EQ(p.format, RegFileFormat::kRegedit4);
  const std::vector<RegEntry> expected = {
      Key(HKEY_CURRENT_USER, "software\\myco", 3),
      Value("", REG_SZ, std::string("Default text\0", 13), 4),
      Value("Path", REG_SZ, std::string("C:\\Program Files\\MyCo\0", 22), 5),
      Value("Count", REG_DWORD, std::string("\x1f\0\0\0", 4), 6),
      Value("Flags", REG_BINARY, std::string("\x01\x00\xff", 3), 7),
      Value("List", REG_MULTI_SZ, std::string("a\0b\0\0", 5), 8),
      Value("Empty", REG_BINARY, "", 9),
      Value("Odd", 0x1f, "", 10),
      Value("All", 0xffffffff, "\n", 11),
      Value("Say \"hi\"", REG_SZ, std::string("a \"quoted\" \\ text\0", 18), 12),
      Key(HKEY_CURRENT_USER, "software\\myco\\Child", 15),
  };
  EXPECT_EQ(p.entries, expected);
}

TEST(RegFileParserTest, JoinsWrappedHexListsAndLineBreaksInsideQuotes) {
  std::string bytes;
  for (int i = 0; i < 100; ++i) bytes.push_back(static_cast<char>(i));
  const Parsed p = Parse(Crlf({
      "REGEDIT4",
      "",
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\T]",
      // 22 bytes, then three lines of 25, then 3: the wrapping of Data with 100 bytes.
      "\"Data\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,\\",
      "  16,17,18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27,28,29,2a,2b,2c,2d,2e,\\",
      "  2f,30,31,32,33,34,35,36,37,38,39,3a,3b,3c,3d,3e,3f,40,41,42,43,44,45,46,47,\\",
      "  48,49,4a,4b,4c,4d,4e,4f,50,51,52,53,54,55,56,57,58,59,5a,5b,5c,5d,5e,5f,60,\\",
      "  61,62,63",
      "\"Two\"=\"first",
      "second\"",
      "\"Carriage\"=\"a\r",
      "b\"",
      "\"Name",
      "break\"=dword:1",
  }));
  ASSERT_TRUE(p.ok) << p.error_line << ": " << p.error;
  ASSERT_EQ(p.entries.size(), 5u);
  EXPECT_EQ(p.entries[1], Value("Data", REG_BINARY, bytes, 4));
  EXPECT_EQ(p.entries[2], Value("Two", REG_SZ, std::string("first\nsecond\0", 13), 9));
  EXPECT_EQ(p.entries[3], Value("Carriage", REG_SZ, std::string("a\r\nb\0", 5), 11));
  EXPECT_EQ(p.entries[4], Value("Name\nbreak", REG_DWORD, std::string("\1\0\0\0", 4), 13));
}

TEST(RegFileParserTest, ReadsKeyAndValueRemovals) {
  const Parsed p = Parse(
      "REGEDIT4\n[-HKEY_CURRENT_USER\\Software\\Old]\n[hkey_users\\.DEFAULT\\]\n\"gone\"=-\n@=-\n"
      "[HKEY_CLASSES_ROOT]\n[HKEY_CURRENT_CONFIG\\x]\n");
  ASSERT_TRUE(p.ok) << p.error_line << ": " << p.error;
  const std::vector<RegEntry> expected = {
      Key(HKEY_CURRENT_USER, "Software\\Old", 2, true),
      Key(HKEY_USERS, ".DEFAULT", 3),
      RemoveValue("gone", 4),
      RemoveValue("", 5),
      Key(HKEY_CLASSES_ROOT, "", 6),
      Key(HKEY_CURRENT_CONFIG, "x", 7),
  };
  EXPECT_EQ(p.entries, expected);
}

TEST(RegFileParserTest, ReadsVersion5InEveryEncoding) {
  const std::u16string text =
      u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\\u00c5]\r\n"
      u"\"N\u00e4me\"=\"V\u00e4lue\"\r\n\"E\"=hex(2):41,00,00,00\r\n\"D\"=dword:ffffffff\r\n";
  const std::string utf8 =
      "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\\xc3\x85]\n"
      "\"N\xc3\xa4me\"=\"V\xc3\xa4lue\"\n\"E\"=hex(2):41,00,00,00\n\"D\"=dword:ffffffff\n";
  const std::vector<RegEntry> expected = {
      Key(HKEY_CURRENT_USER, "Software\\\xc3\x85", 3),
      Value("N\xc3\xa4me", REG_SZ, std::string("V\xc3\xa4lue\0", 7), 4),
      Value("E", REG_EXPAND_SZ, std::string("A\0\0\0", 4), 5, true),
      Value("D", REG_DWORD, "\xff\xff\xff\xff", 6),
  };
  for (const std::string& file : {Utf16Le(text), utf8, "\xEF\xBB\xBF" + utf8}) {
    const Parsed p = Parse(file);
    ASSERT_TRUE(p.ok) << p.error_line << ": " << p.error;
    EXPECT_EQ(p.format, RegFileFormat::kVersion5);
    EXPECT_EQ(p.entries, expected);
  }
}

TEST(RegFileParserTest, ReportsEachMalformedFileWithItsLine) {
  const struct {
    std::string file;
    int line;
  } cases[] = {
      {"", 1},
      {"garbage\n[HKEY_CURRENT_USER\\x]\n", 1},
      {"REGEDIT5\n", 1},
      {Utf16Le(u"REGEDIT4\r\n"), 1},     // a REGEDIT4 file is 8-bit text
      {std::string("R\0E\0", 4), 1},     // UTF-16 without its mark
      {"REGEDIT4\n\n\"v\"=\"x\"\n", 3},  // a value before any key
      {"REGEDIT4\n[HKEY_CURRENT_USER\\x\n", 2},
      {"REGEDIT4\n[HKCU\\x]\n", 2},
      {"REGEDIT4\n[HKEY_DYN_DATA\\x]\n", 2},
      {"REGEDIT4\n[-HKEY_CURRENT_USER]\n", 2},
      {"REGEDIT4\n[HKEY_CURRENT_USER\\a\\\\b]\n", 2},
      {"REGEDIT4\n[HKEY_CURRENT_USER\\\\a]\n", 2},
      {"REGEDIT4\n[HKEY_CURRENT_USER\\x]\nplain\n", 3},
      {"REGEDIT4\n[HKEY_CURRENT_USER\\x]\n\"v\"\"x\"\n", 3},
      {"REGEDIT4\n[HKEY_CURRENT_USER\\x]\n\"v\"=dword:\n", 3},
      {"REGEDIT4\n[HKEY_CURRENT_USER\\x]\n\"v\"=dword:123456789\n", 3},
      {"REGEDIT4\n[HKEY_CURRENT_USER\\x]\n\"v\"=dword:12g\n", 3},
      {"REGEDIT4\n[HKEY_CURRENT_USER\\x]\n\"v\"=hex:01,0g\n", 3},
      {"REGEDIT4\n[HKEY_CURRENT_USER\\x]\n\"v\"=hex:011\n", 3},
      {"REGEDIT4\n[HKEY_CURRENT_USER\\x]\n\"v\"=hex:01,,02\n", 3},
      {"REGEDIT4\n[HKEY_CURRENT_USER\\x]\n\"v\"=hex:01,\\\n  02,zz\n", 4},
      {"REGEDIT4\n[HKEY_CURRENT_USER\\x]\n\"v\"=hex:01,\\ 02\n", 3},
      {"REGEDIT4\n[HKEY_CURRENT_USER\\x]\n\"v\"=hex():01\n", 3},
      {"REGEDIT4\n[HKEY_CURRENT_USER\\x]\n\"v\"=hex(123456789):01\n", 3},
      {"REGEDIT4\n[HKEY_CURRENT_USER\\x]\n\"v\"=hex(2)01\n", 3},
      {"REGEDIT4\n[HKEY_CURRENT_USER\\x]\n\"v\"=str:01\n", 3},
      {"REGEDIT4\n[HKEY_CURRENT_USER\\x]\n\"v\"=\"x\" y\n", 3},
      {"REGEDIT4\n[HKEY_CURRENT_USER\\x]\n\"v\"=- y\n", 3},
      {"REGEDIT4\n[HKEY_CURRENT_USER\\x]\n\"v\"=\"open\n\n\n", 3},  // never closed
      {"REGEDIT4\n[-HKEY_CURRENT_USER\\x]\n\"v\"=\"x\"\n", 3},      // values of a removed key
  };
  for (const auto& c : cases) {
    const Parsed p = Parse(c.file);
    EXPECT_FALSE(p.ok) << c.file;
    EXPECT_EQ(p.error_line, c.line) << c.file << " " << p.error;
    EXPECT_FALSE(p.error.empty());
  }
}

TEST(RegFileParserTest, RefusesNamesThatWouldReachTheRegistryAsOtherNames) {
  const std::u16string head = u"Windows Registry Editor Version 5.00\r\n";
  const std::u16string key = u"[HKEY_CURRENT_USER\\x]\r\n";
  const std::string nul(1, '\0');
  const struct {
    std::string file;
    int line;
  } cases[] = {
      // A NUL would end the name the registry calls see.
      {"REGEDIT4\n[HKEY_CURRENT_USER\\K" + nul + "hidden]\n", 2},
      {"REGEDIT4\n[HKEY_CURRENT_USER\\x]\n\"na" + nul + "me\"=\"v\"\n", 3},
      {"REGEDIT4\n[HKEY_CURRENT_USER\\x]\n\"a\nb" + nul + "\"=\"v\"\n", 4},
      {Utf16Le(head + u"[HKEY_CURRENT_USER\\K" + std::u16string(1, u'\0') + u"x]\r\n"), 2},
      {Utf16Le(head + key + u"\"n" + std::u16string(1, u'\0') + u"\"=dword:1\r\n"), 3},
      // Half a surrogate pair would come out as "?" or as other bytes.
      {Utf16Le(head + u"[HKEY_CURRENT_USER\\Sur\xD800x]\r\n"), 2},
      {Utf16Le(head + key + u"\"Sur\xDC00x\"=\"v\"\r\n"), 3},
      {Utf16Le(head + key + u"\"a\"=\"\xDCC3\xDCA4\"\r\n"), 3},
      {Utf16Le(head + key + u"\"a\"=\"b\xD83D\"\r\n"), 3},
      {Utf16Le(head + key + u"\"a\"=\"b\xD83D\r\n\"\r\n"), 3},
      {Utf16Le(head + key + u"@=\"v\"\r\n\"c\"=\"\xD83D"), 4},
  };
  for (const auto& c : cases) {
    const Parsed p = Parse(c.file);
    EXPECT_FALSE(p.ok) << c.file;
    EXPECT_EQ(p.error_line, c.line) << c.file << " " << p.error;
    EXPECT_FALSE(p.error.empty());
  }
  // A whole pair is one character.
  const Parsed pair = Parse(Utf16Le(head + key + u"\"\xD83D\xDE00\"=\"\xD83D\xDE00\"\r\n"));
  ASSERT_TRUE(pair.ok) << pair.error_line << ": " << pair.error;
  EXPECT_EQ(pair.entries.back(),
            Value("\xF0\x9F\x98\x80", REG_SZ, std::string("\xF0\x9F\x98\x80\0", 5), 3));
}

TEST(RegFileParserTest, RefusesLinesAndDataLongerThanAnyValue) {
  // With values of at most 40 bytes: a line of 40 bytes is read, with either
  // line end, one of 41 is not, whether its line end comes or not; data
  // gathered over several lines is held to the same limit.
  const std::string head = "REGEDIT4\n[HKEY_CURRENT_USER\\x]\n";
  const std::string forty = "\"v\"=\"" + std::string(34, 't') + "\"";
  ASSERT_EQ(forty.size(), 40u);
  for (const std::string end : {"\n", "\r\n"}) {
    const Parsed fits = Parse(head + forty + end, 40);
    ASSERT_TRUE(fits.ok) << fits.error_line << ": " << fits.error;
    EXPECT_EQ(fits.entries.back(), Value("v", REG_SZ, std::string(34, 't') + '\0', 3));
  }

  const struct {
    std::string file;
    int line;
  } cases[] = {
      {head + forty + " \n", 3},
      {head + forty + " \r\n", 3},
      {head + forty + " ", 3},
      {head + "@=\"x\"\n" + std::string(100000, 'z'), 4},
      {std::string(41, 'R'), 1},
      {Utf16Le(u"Windows Registry Editor Version 5.00\r\n[HKEY_CURRENT_USER\\x]\r\n\"v\"=\"" +
               std::u16string(35, u't') + u"\"\r\n"),
       3},
      // Over several lines.
      {head + "\"v\"=hex:" + std::string("01,02,03,04,05,06,07,08,09,0a,\\\n") +
           "  01,02,03,04,05,06,07,08,09,0a,\\\n  01,02,03,04,05,06,07,08,09,0a,\\\n"
           "  01,02,03,04,05,06,07,08,09,0a,\\\n  01\n",
       7},
      {head + "\"v\"=\"" + std::string(30, 't') + "\n" + std::string(30, 't') + "\n\"\n", 5},
  };
  for (const auto& c : cases) {
    const Parsed p = Parse(c.file, 40);
    EXPECT_FALSE(p.ok) << c.file.substr(0, 200);
    EXPECT_EQ(p.error_line, c.line) << c.file.substr(0, 200) << " " << p.error;
    EXPECT_NE(p.error.find("longer than any value"), std::string::npos) << p.error;
  }
}

TEST(RegFileParserTest, AcceptsLeniencesOfHandWrittenFiles) {
  const Parsed p = Parse(
      "REGEDIT4  \r\n  ; a comment\r\n\t\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\x]  \r\n"
      "  \"a\" = DWORD:A\r\n@=HEX:1,2,\r\n\"b\"=hex(2):\\\r\n  41,00\r\n\"c\"=\"back\\slash\"\r\n");
  ASSERT_TRUE(p.ok) << p.error_line << ": " << p.error;
  ASSERT_EQ(p.entries.size(), 5u);
  EXPECT_EQ(p.entries[1], Value("a", REG_DWORD, std::string("\x0a\0\0\0", 4), 5));
  EXPECT_EQ(p.entries[2], Value("", REG_BINARY, "\x01\x02", 6));
  EXPECT_EQ(p.entries[3], Value("b", REG_EXPAND_SZ, std::string("A\0", 2), 7));
  EXPECT_EQ(p.entries[4], Value("c", REG_SZ, std::string("back\\slash\0", 11), 9));
}

TEST(RegFileParserTest, ReadsLinesAcrossChunkBoundaries) {
  // A long file whose lines straddle the reader's chunks.
  std::string file = "REGEDIT4\r\n[HKEY_CURRENT_USER\\x]\r\n";
  const int count = 5000;
  for (int i = 0; i < count; ++i)
    file += "\"value" + std::to_string(i) + "\"=dword:" + std::to_string(i % 10) + "\r\n";
  const Parsed p = Parse(file);
  ASSERT_TRUE(p.ok) << p.error_line << ": " << p.error;
  ASSERT_EQ(p.entries.size(), static_cast<size_t>(count) + 1);
  EXPECT_EQ(p.entries.back(),
            Value("value4999", REG_DWORD, std::string("\x09\0\0\0", 4), count + 2));
}

}  // namespace
}  // namespace orvik::regedit
