// End-to-end tests of EXPORT: the built program against a fresh registry, the
// files it writes compared byte for byte. Values the command line cannot make
// are set up with orvik-rawreg in their ANSI form, which is also the form in
// which the file holds them.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/hive/hive_writer.h"
#include "tests/support/process_runner.h"

namespace orvik::test {
namespace {

constexpr char kKey[] = "HKCU\\Software\\Export";
constexpr char kSection[] = "[HKEY_CURRENT_USER\\software\\export]";

// Hexadecimal of bytes as orvik-rawreg takes them.
std::string RawHex(const std::string& bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 0x0F];
  }
  return hex;
}

// The bytes 0, 1, 2, ... count - 1 (count at most 256).
std::string CountingBytes(int count) {
  std::string bytes;
  for (int i = 0; i < count; ++i) bytes += static_cast<char>(i);
  return bytes;
}

// The hex list of CountingBytes from `first` for `count` bytes, as the file
// writes it.
std::string CountingList(int first, int count) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string list;
  for (int i = first; i < first + count; ++i) {
    if (!list.empty()) list += ',';
    list += kDigits[i >> 4];
    list += kDigits[i & 0x0F];
  }
  return list;
}

size_t EntriesIn(const std::string& directory) {
  size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(directory)) {
    ++count;
  }
  return count;
}

class ExportTest : public ::testing::Test {
 protected:
  ProcessResult Orvik(const std::vector<std::string>& args, bool unprivileged = false) {
    RunOptions options;
    options.env = {{"ORVIK_REGISTRY", registry_.path()}};
    options.cwd = files_.path();
    options.as_unprivileged_user = unprivileged;
    ProcessResult r = RunProgram(OrvikPath(), args, options);
    EXPECT_EQ(r.err, "") << "nothing goes to standard error";
    return r;
  }

  // Writes a value from its ANSI bytes; the key is created when missing.
  void Set(const std::string& key, const std::string& name, unsigned long type,
           const std::string& bytes) {
    RunOptions options;
    options.env = {{"ORVIK_REGISTRY", registry_.path()}};
    const ProcessResult r =
        RunProgram(BuildDir() + "/orvik-rawreg",
                   {"seta", key, name, std::to_string(type), RawHex(bytes)}, options);
    ASSERT_EQ(r.exit_code, 0) << r.err;
  }

  // Exports a key to out.reg in the files directory, expecting success and
  // no output, and returns the file's bytes.
  std::string Export(const std::string& key, const std::vector<std::string>& more = {}) {
    std::vector<std::string> args = {"EXPORT", key, "out.reg"};
    args.insert(args.end(), more.begin(), more.end());
    const ProcessResult r = Orvik(args);
    EXPECT_EQ(r.exit_code, 0) << r.out;
    EXPECT_EQ(r.out, "");
    return ReadFileBytes(files_.File("out.reg"));
  }

  // The file of one key holding the given entry lines.
  static std::string FileOf(const std::vector<std::string>& entry_lines) {
    std::vector<std::string> lines = {"REGEDIT4", "", kSection};
    lines.insert(lines.end(), entry_lines.begin(), entry_lines.end());
    return Lines(lines);
  }

  TempDir registry_;
  TempDir files_;
};

// ---- The file as a whole ---------------------------------------------------------

TEST_F(ExportTest, KeyTreeIsWrittenDepthFirstWithTheStartPathAsTypedAndStoredNamesBelow) {
  Set("HKCU\\Software\\MyCo", "", 1, std::string("Default text\0", 13));
  Set("HKCU\\Software\\MyCo", "Path", 1, std::string("C:\\Program Files\\MyCo\0", 22));
  Set("HKCU\\Software\\MyCo", "Count", 4, std::string("\x1f\0\0\0", 4));
  Set("HKCU\\Software\\MyCo", "Flags", 3, std::string("\x01\x00\xff", 3));
  Set("HKCU\\Software\\MyCo", "List", 7, std::string("a\0b\0\0", 5));
  Set("HKCU\\Software\\MyCo\\Child", "Version", 1, std::string("2\0", 2));
  Set("HKCU\\Software\\MyCo\\Child\\Deep", "x", 4, std::string("\x01\0\0\0", 4));
  Set("HKCU\\Software\\MyCo\\Empty", "", 1, "");
  const std::string expected = Lines({
      "REGEDIT4",
      "",
      "[HKEY_CURRENT_USER\\software\\myco]",
      "@=\"Default text\"",
      "\"Path\"=\"C:\\\\Program Files\\\\MyCo\"",
      "\"Count\"=dword:0000001f",
      "\"Flags\"=hex:01,00,ff",
      "\"List\"=hex(7):61,00,62,00,00",
      "",
      "[HKEY_CURRENT_USER\\software\\myco\\Child]",
      "\"Version\"=\"2\"",
      "",
      "[HKEY_CURRENT_USER\\software\\myco\\Child\\Deep]",
      "\"x\"=dword:00000001",
      "",
      "[HKEY_CURRENT_USER\\software\\myco\\Empty]",
      "@=\"\"",
  });
  EXPECT_EQ(Export("HKCU\\Software\\MyCo"), expected);
  EXPECT_EQ(Export("hkey_current_user\\SOFTWARE\\MYCO", {"/nt4"}), expected) << "/nt4";
  EXPECT_EQ(Export("HKCU\\Software\\MyCo\\"), expected) << "a trailing backslash";
}

TEST_F(ExportTest, KeyWithoutValuesOrSubkeysIsItsSectionAlone) {
  ASSERT_EQ(Orvik({"ADD", kKey}).exit_code, 0);
  EXPECT_EQ(Export(kKey), FileOf({}));
}

TEST_F(ExportTest, MissingStartKeyGivesTheHeaderAloneAndSucceeds) {
  EXPECT_EQ(Export("HKCU\\Software\\Nowhere"), "REGEDIT4\r\n");
  // Without a backslash the name is a key under HKEY_LOCAL_MACHINE.
  EXPECT_EQ(Export("HKCU"), "REGEDIT4\r\n");
}

TEST_F(ExportTest, RootKeyHasASectionOfItsOwnName) {
  Set("HKCC\\Settings", "On", 4, std::string("\x01\0\0\0", 4));
  EXPECT_EQ(Export("HKCC\\"), Lines({"REGEDIT4", "", "[HKEY_CURRENT_CONFIG]", "",
                                     "[HKEY_CURRENT_CONFIG\\Settings]", "\"On\"=dword:00000001"}));
}

TEST_F(ExportTest, FileNameKeepsItsCase) {
  Set(kKey, "v", 1, std::string("x\0", 2));
  const ProcessResult r = Orvik({"EXPORT", kKey, "Backup.REG"});
  ASSERT_EQ(r.exit_code, 0) << r.out;
  EXPECT_EQ(ReadFileBytes(files_.File("Backup.REG")), FileOf({"\"v\"=\"x\""}));
}

// ---- Value entries -----------------------------------------------------------------

TEST_F(ExportTest, EveryTypeCodeHasItsEntryNamedAndUnnamed) {
  const struct {
    unsigned long type;
    std::string bytes;
    std::string named;  // the entry of the value named V
    std::string unnamed;
  } cases[] = {
      {0, "\x01\xab", "\"V\"=hex(0):01,ab", "@=hex(0):01,ab"},
      {1, std::string("text\0", 5), "\"V\"=\"text\"", "@=\"text\""},
      {2, std::string("%a%\0", 4), "\"V\"=hex(2):25,61,25,00", "@=hex(2):25,61,25,00"},
      {3, "\xfe\x34", "\"V\"=hex:fe,34", "@=hex:fe,34"},
      {4, std::string("\xff\0\0\0", 4), "\"V\"=dword:000000ff", "@=dword:000000ff"},
      {5, std::string("\0\0\0\x07", 4), "\"V\"=hex(5):00,00,00,07", "@=hex(5):00,00,00,07"},
      {6, "xy", ";\"V\"=REG_LINK not supported", ";\"\"=REG_LINK not supported"},
      {7, std::string("a\0\0", 3), "\"V\"=hex(7):61,00,00", "@=hex(7):61,00,00"},
      {8, "\x01", "\"V\"=hex(8):01", "@=hex(8):01"},
      {9, "\x02", "\"V\"=hex(9):02", "@=hex(9):02"},
      {10, "\x03", "\"V\"=hex(a):03", "@=hex(a):03"},
      {11, std::string("\x01\0\0\0\0\0\0\x80", 8), "\"V\"=hex(b):01,00,00,00,00,00,00,80",
       "@=hex(b):01,00,00,00,00,00,00,80"},
      {31, "\x1f", "\"V\"=hex(1f):1f", "@=hex(1f):1f"},
      {0xffffffff, "\xee", "\"V\"=hex(ffffffff):ee", "@=hex(ffffffff):ee"},
  };
  for (const auto& c : cases) {
    const std::string type = std::to_string(c.type);
    SCOPED_TRACE("type " + type);
    const std::string key = kKey + std::string("\\T") + type;
    Set(key, "V", c.type, c.bytes);
    Set(key, "", c.type, c.bytes);
    EXPECT_EQ(Export(key),
              Lines({"REGEDIT4", "", "[HKEY_CURRENT_USER\\software\\export\\t" + type + "]",
                     c.named, c.unnamed}));
  }
}

TEST_F(ExportTest, DoubleWordsAreEightLowerCaseDigitsOfTheirBitPattern) {
  Set(kKey, "Minus", 4, "\xff\xff\xff\xff");
  Set(kKey, "Min", 4, std::string("\0\0\0\x80", 4));
  Set(kKey, "Max", 4, "\xff\xff\xff\x7f");
  Set(kKey, "Short", 4, "\x34\x12");
  Set(kKey, "NoData", 4, "");
  EXPECT_EQ(Export(kKey),
            FileOf({"\"Minus\"=dword:ffffffff", "\"Min\"=dword:80000000", "\"Max\"=dword:7fffffff",
                    "\"Short\"=dword:00001234", "\"NoData\"=dword:00000000"}));
}

TEST_F(ExportTest, ValuesWithoutDataEndRightAfterTheirTag) {
  Set(kKey, "", 1, "");
  Set(kKey, "Bytes", 3, "");
  Set(kKey, "Multi", 7, "");
  Set(kKey, "Odd", 0x1f, "");
  Set(kKey, "Cut", 1, std::string("ab\0cd\0", 6));
  EXPECT_EQ(Export(kKey), FileOf({"@=\"\"", "\"Bytes\"=hex:", "\"Multi\"=hex(7):",
                                  "\"Odd\"=hex(1f):", "\"Cut\"=\"ab\""}));
}

TEST_F(ExportTest, BackslashesQuotesAndLineFeedsAreEscapedInNamesAndText) {
  Set(kKey, "a\\b \"q\"", 1, std::string("say \"hi\" to C:\\dir\0", 20));
  Set(kKey, "two\nlines", 1, std::string("one\ntwo\r\nthree\0", 15));
  Set(kKey, "\\\"", 6, "");
  EXPECT_EQ(Export(kKey), FileOf({"\"a\\\\b \\\"q\\\"\"=\"say \\\"hi\\\" to C:\\\\dir\"",
                                  "\"two\r\nlines\"=\"one\r\ntwo\r\r\nthree\"",
                                  ";\"\\\\\\\"\"=REG_LINK not supported"}));
}

// ---- Wrapping of long hex lists ------------------------------------------------------

TEST_F(ExportTest, HexEntriesOfUpTo78CharactersStayOnOneLine) {
  // "NNN" and 23 bytes: 5 + 5 + 68 = 78 characters; "NNNN" makes it 79.
  Set(kKey, "NNN", 3, CountingBytes(23));
  Set(kKey, "NNNN", 3, CountingBytes(23));
  EXPECT_EQ(Export(kKey), FileOf({
                              "\"NNN\"=hex:" + CountingList(0, 23),
                              "\"NNNN\"=hex:" + CountingList(0, 22) + ",\\",
                              "  16",
                          }));
}

TEST_F(ExportTest, HundredBytesWrapAsInTheWorkedExamples) {
  Set(kKey, "Data", 3, CountingBytes(100));
  Set(kKey, "", 3, CountingBytes(100));
  EXPECT_EQ(Export(kKey), FileOf({
                              "\"Data\"=hex:" + CountingList(0, 22) + ",\\",
                              "  " + CountingList(22, 25) + ",\\",
                              "  " + CountingList(47, 25) + ",\\",
                              "  " + CountingList(72, 25) + ",\\",
                              "  " + CountingList(97, 3),
                              "@=hex:" + CountingList(0, 24) + ",\\",
                              "  " + CountingList(24, 25) + ",\\",
                              "  " + CountingList(49, 25) + ",\\",
                              "  " + CountingList(74, 25) + ",\\",
                              "  " + CountingList(99, 1),
                          }));
}

TEST_F(ExportTest, LongNameWithAColonKeepsItsTagAndOneByteOnTheFirstLine) {
  // 62 characters, 66 once escaped: the tag begins at position 69.
  const std::string name = "C:\\temp\\list.txt" + std::string(38, 'x') + "\\a\\b.txt";
  ASSERT_EQ(name.size(), 62u);
  Set(kKey, name, 3, CountingBytes(30));
  const std::string escaped = "C:\\\\temp\\\\list.txt" + std::string(38, 'x') + "\\\\a\\\\b.txt";
  EXPECT_EQ(Export(kKey), FileOf({
                              "\"" + escaped + "\"=hex:00,\\",
                              "  " + CountingList(1, 25) + ",\\",
                              "  " + CountingList(26, 4),
                          }));
}

TEST_F(ExportTest, LongNameBeforeALongTagBreaksAfterTheTag) {
  // The tag "=hex(1f):" begins at position 68 and the list at 77: no comma
  // at positions 76 to 78.
  const std::string name(65, 'n');
  Set(kKey, name, 0x1f, CountingBytes(27));
  EXPECT_EQ(Export(kKey), FileOf({
                              "\"" + name + "\"=hex(1f):\\",
                              "  " + CountingList(0, 25) + ",\\",
                              "  " + CountingList(25, 2),
                          }));
}

// ---- The file on disk ----------------------------------------------------------------

TEST_F(ExportTest, ExistingFileIsReplacedNotAppendedTo) {
  Set(kKey, "v", 1, std::string("x\0", 2));
  WriteFileBytes(files_.File("out.reg"), std::string(5000, '#'));
  EXPECT_EQ(Export(kKey), FileOf({"\"v\"=\"x\""}));
  EXPECT_EQ(Export(kKey), FileOf({"\"v\"=\"x\""})) << "a second run";
  EXPECT_EQ(EntriesIn(files_.path()), 1u);
}

TEST_F(ExportTest, DeviceIsWrittenInPlace) {
  Set(kKey, "v", 1, std::string("x\0", 2));
  const ProcessResult r = Orvik({"EXPORT", kKey, "/dev/stdout"});
  EXPECT_EQ(r.out, FileOf({"\"v\"=\"x\""}));
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_TRUE(std::filesystem::is_symlink("/dev/stdout"));
}

TEST_F(ExportTest, FileThatCannotBeCreatedIsReported) {
  Set(kKey, "v", 1, std::string("x\0", 2));
  std::filesystem::create_directory(files_.File("folder"));
  for (const std::string& name : {std::string("missing/out.reg"), std::string("folder")}) {
    SCOPED_TRACE(name);
    const ProcessResult r = Orvik({"EXPORT", kKey, name});
    EXPECT_EQ(r.out, Report("Cannot create file " + name));
    EXPECT_EQ(r.exit_code, 1);
  }
  EXPECT_EQ(EntriesIn(files_.path()), 1u);
}

TEST_F(ExportTest, FileThatMayNotBeReplacedIsReportedAndKept) {
  if (!CanRunUnprivileged()) GTEST_SKIP() << "needs root and setpriv";
  Set(kKey, "v", 1, std::string("x\0", 2));
  chmod(files_.path().c_str(), 0777);
  const std::string target = files_.File("out.reg");
  WriteFileBytes(target, "earlier");
  chmod(target.c_str(), 0444);
  const ProcessResult r = Orvik({"EXPORT", kKey, "out.reg"}, /*unprivileged=*/true);
  EXPECT_EQ(r.out, Report("Cannot create file out.reg"));
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(ReadFileBytes(target), "earlier");
  EXPECT_EQ(EntriesIn(files_.path()), 1u);
}

TEST_F(ExportTest, ValueThatCannotBeReadFailsTheExportAndKeepsTheEarlierFile) {
  Set(kKey, "Fine", 1, std::string("x\0", 2));
  Set(kKey + std::string("\\Sub"), "Bad", 4, std::string(8, '\x01'));
  // Enough keys before the bad value that part of the file has been written.
  for (int i = 0; i < 40; ++i) {
    Set(kKey + std::string("\\A") + std::to_string(i), "Blob", 3, std::string(8000, 'z'));
  }
  const ProcessResult fresh = Orvik({"EXPORT", kKey, "new.reg"});
  EXPECT_EQ(fresh.out, Report("Failed to get data for 'Bad'"));
  EXPECT_EQ(fresh.exit_code, 1);
  EXPECT_FALSE(std::filesystem::exists(files_.File("new.reg")));

  WriteFileBytes(files_.File("out.reg"), "earlier");
  const ProcessResult again = Orvik({"EXPORT", kKey, "out.reg"});
  EXPECT_EQ(again.out, Report("Failed to get data for 'Bad'"));
  EXPECT_EQ(again.exit_code, 1);
  EXPECT_EQ(ReadFileBytes(files_.File("out.reg")), "earlier");
  EXPECT_EQ(EntriesIn(files_.path()), 1u);
}

TEST_F(ExportTest, NamesAFileCannotCarryFailTheExportAndKeepTheEarlierFile) {
  const std::string key = kKey;
  // A key name with a line break would put its own section and values into
  // the file; one with NUL comes from a hive, restored here.
  Set(key + "\\lf\\a\n[HKEY_LOCAL_MACHINE]\n\"Injected\"=\"x\"", "v", 4, "\1\0\0\0");
  Set(key + "\\cr\\a\rb", "", 1, std::string("x\0", 2));
  Set(key + "\\link", "link\nx", 6, "");
  auto named = [](std::u16string name) {
    posix::hive::KeyRecord record;
    record.name = std::move(name);
    return record;
  };
  posix::hive::HiveWriter hive;
  ASSERT_EQ(hive.BeginKey(named(u"root")), ERROR_SUCCESS);
  ASSERT_EQ(hive.BeginKey(named(u"v")), ERROR_SUCCESS);
  ASSERT_EQ(hive.AddValue(std::u16string(u"na\0me", 5), REG_DWORD, std::string(4, '\1')),
            ERROR_SUCCESS);
  ASSERT_EQ(hive.EndKey(), ERROR_SUCCESS);
  ASSERT_EQ(hive.BeginKey(named(u"k")), ERROR_SUCCESS);
  ASSERT_EQ(hive.BeginKey(named(std::u16string(u"K\0hidden", 8))), ERROR_SUCCESS);
  ASSERT_EQ(hive.EndKey(), ERROR_SUCCESS);
  ASSERT_EQ(hive.EndKey(), ERROR_SUCCESS);
  ASSERT_EQ(hive.EndKey(), ERROR_SUCCESS);
  ASSERT_EQ(hive.Finish(u"nul.hiv", 0), ERROR_SUCCESS);
  WriteFileBytes(files_.File("nul.hiv"), hive.Bytes());
  ASSERT_EQ(Orvik({"RESTORE", key + "\\nul", "nul.hiv"}).exit_code, 0);

  const std::string at = "HKEY_CURRENT_USER\\software\\export\\";
  const std::string cannot = ": a .reg file cannot hold its name";
  const struct {
    std::string key;
    std::string message;
  } cases[] = {
      {key + "\\lf",
       "Cannot export key " + at + "lf\\a<LF>[HKEY_LOCAL_MACHINE]<LF>\"Injected\"=\"x\"" + cannot},
      {key + "\\lf\\a\n[hkey_local_machine]\n\"injected\"=\"x\"",
       "Cannot export key " + at + "lf\\a<LF>[hkey_local_machine]<LF>\"injected\"=\"x\"" + cannot},
      {key + "\\cr", "Cannot export key " + at + "cr\\a<CR>b" + cannot},
      {key + "\\nul\\k", "Cannot export key " + at + "nul\\k\\K<NUL>hidden" + cannot},
      {key + "\\nul\\v", "Cannot export value 'na<NUL>me' of key " + at + "nul\\v" + cannot},
      {key + "\\link", "Cannot export value 'link<LF>x' of key " + at + "link" + cannot},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.key);
    WriteFileBytes(files_.File("out.reg"), "earlier");
    const ProcessResult r = Orvik({"EXPORT", c.key, "out.reg"});
    EXPECT_EQ(r.out, Report(c.message));
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(ReadFileBytes(files_.File("out.reg")), "earlier");
  }
  EXPECT_EQ(EntriesIn(files_.path()), 2u);
}

TEST_F(ExportTest, ATreeRemovedWhileItIsExportedIsWrittenAsItWasWhenTheExportBegan) {
  // The file is a FIFO that this test reads: the export waits while its
  // first lines are not read, and the tree is removed meanwhile.
  constexpr int kKeys = 2000;
  std::string tree = "REGEDIT4\r\n";
  for (int i = 0; i < kKeys; ++i) {
    tree += "\r\n[HKEY_CURRENT_USER\\Software\\Export\\K" + std::to_string(i) + "]\r\n\"v\"=\"" +
            std::string(400, 'x') + "\"\r\n";
  }
  WriteFileBytes(files_.File("tree.reg"), tree);
  RunOptions options;
  options.env = {{"ORVIK_REGISTRY", registry_.path()}};
  ASSERT_EQ(RunProgram(RegeditPath(), {files_.File("tree.reg")}, options).exit_code, 0);
  ASSERT_EQ(mkfifo(files_.File("out.fifo").c_str(), 0600), 0);

  ProcessResult exported;
  std::thread exporter([&]() { exported = Orvik({"EXPORT", kKey, "out.fifo"}); });
  const int fd = open(files_.File("out.fifo").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  std::string file;
  char buffer[4096];
  while (file.size() < 16384) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    file.append(buffer, static_cast<size_t>(n));
  }
  const ProcessResult removed = Orvik({"DELETE", kKey, "/f"});
  EXPECT_EQ(removed.exit_code, 0) << removed.out;
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    file.append(buffer, static_cast<size_t>(n));
  }
  close(fd);
  exporter.join();
  EXPECT_EQ(exported.exit_code, 0) << exported.out;

  size_t sections = 0;
  for (size_t at = file.find("\r\n[HKEY_CURRENT_USER\\software\\export\\K");
       at != std::string::npos;
       at = file.find("\r\n[HKEY_CURRENT_USER\\software\\export\\K", at + 1)) {
    ++sections;
  }
  EXPECT_EQ(sections, static_cast<size_t>(kKeys));
  EXPECT_EQ(Orvik({"QUERY", kKey}).exit_code, 1) << "the tree is gone";
}

}  // namespace
}  // namespace orvik::test
