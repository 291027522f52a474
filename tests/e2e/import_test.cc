// End-to-end tests of IMPORT and orvik-regedit: files that EXPORT wrote and
// hand-made ones imported into a fresh registry, the values read back byte
// for byte; problems reported; all or nothing when a run is killed.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/process_runner.h"

extern char** environ;

namespace orvik::test {
namespace {

std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (const char byte : bytes) {
    const auto c = static_cast<unsigned char>(byte);
    text.push_back(kDigits[c >> 4]);
    text.push_back(kDigits[c & 15]);
  }
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

std::string NotThere(const std::string& name) {
  return Lines({"", "File: \"" + name + "\" does not exist\"", ""});
}

class ImportTest : public ::testing::Test {
 protected:
  RunOptions Options() const {
    RunOptions options;
    options.env = {{"ORVIK_REGISTRY", registry_.path()}};
    options.cwd = files_.path();
    return options;
  }
  ProcessResult Orvik(const std::vector<std::string>& args) {
    return RunProgram(OrvikPath(), args, Options());
  }
  ProcessResult Regedit(const std::vector<std::string>& args) {
    return RunProgram(RegeditPath(), args, Options());
  }
  void Ok(const std::vector<std::string>& args) {
    const ProcessResult r = Orvik(args);
    ASSERT_EQ(r.exit_code, 0) << r.out;
    ASSERT_EQ(r.out, "");
  }
  // "TYPE HEX" of the stored value, or "absent".
  std::string Raw(const std::string& key, const std::string& name) {
    const ProcessResult r = RunProgram(BuildDir() + "/orvik-rawreg", {"get", key, name}, Options());
    if (r.exit_code != 0) return "absent";
    std::string text = r.out;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
  }
  void RawSet(const std::string& key, const std::string& name, unsigned type,
              const std::string& bytes, bool stored = false) {
    const ProcessResult r = RunProgram(
        BuildDir() + "/orvik-rawreg",
        {stored ? "set" : "seta", key, name, std::to_string(type), Hex(bytes)}, Options());
    ASSERT_EQ(r.exit_code, 0) << r.err;
  }
  bool KeyExists(const std::string& key) { return Orvik({"QUERY", key}).exit_code == 0; }
  void Write(const std::string& name, const std::string& bytes) {
    WriteFileBytes(files_.File(name), bytes);
  }

  TempDir registry_;
  TempDir files_;
};

// ---- Round trips -------------------------------------------------------------------

TEST_F(ImportTest, WhatExportWroteImportsBackToTheSameValuesAndTheSameFile) {
  const std::string key = "HKCU\\Software\\RoundTrip";
  std::string hundred;
  for (int i = 0; i < 100; ++i) hundred.push_back(static_cast<char>(i * 7));
  const struct {
    std::string key;
    std::string name;
    unsigned type;
    std::string data;  // ANSI form
  } values[] = {
      {key, "", 1, std::string("Default text\0", 13)},
      {key, "none", 0, std::string("\x01\x02", 2)},
      {key, "Quote\"and\\slash", 1, std::string("C:\\Program \"Files\"\0", 19)},
      {key, "Line\nbreak", 1, std::string("one\ntwo\r\nthree\0", 15)},
      // A quoted name carries line breaks and carriage returns.
      {key, "Carriage\rreturn", 1, std::string("x\0", 2)},
      {key, "\r\nBoth\r\n\r", 4, std::string("\x01\0\0\0", 4)},
      {key, "Wrapped\nname", 3, hundred},
      {key, "Umlaut", 1, std::string("\xc3\x84rger\0", 7)},
      {key, "Expand", 2, std::string("%SystemRoot%\\\xc3\xa4\0", 16)},
      {key, "Binary", 3, hundred},
      {key, "EmptyBinary", 3, ""},
      {key, "Dword", 4, std::string("\xff\xff\xff\xff", 4)},
      {key, "Small", 4, std::string("\xff\0\0\0", 4)},
      {key, "BigEndian", 5, std::string("\0\0\0\x01", 4)},
      {key, "Multi", 7, std::string("a\0\xc3\xa9\0\0", 6)},
      {key, "Resources", 8, hundred},
      {key, "Full", 9, std::string("\x09", 1)},
      {key, "Requirements", 10, std::string("\x0a\x0b", 2)},
      {key, "Qword", 11, std::string("\x01\x02\x03\x04\x05\x06\x07\x08", 8)},
      {key, "Odd", 31, std::string("\x1f", 1)},
      {key, "Top", 0xffffffff, hundred.substr(0, 30)},
      {key, "C:\\temp\\" + std::string(60, 'x') + "\\list.txt", 3, hundred.substr(0, 40)},
      {key + "\\Child", "inner", 1, std::string("x\0", 2)},
      {key + "\\Child\\Grand", "deep", 4, std::string("\x01\0\0\0", 4)},
  };
  for (const auto& v : values) RawSet(v.key, v.name, v.type, v.data);
  Ok({"ADD", key + "\\Empty\\Leaf"});
  std::vector<std::string> before;
  for (const auto& v : values) before.push_back(Raw(v.key, v.name));

  Ok({"EXPORT", key, "first.reg"});
  Ok({"DELETE", key, "/f"});
  ASSERT_FALSE(KeyExists(key));
  Ok({"IMPORT", "first.reg"});
  Ok({"EXPORT", key, "second.reg"});

  const std::string first = ReadFileBytes(files_.File("first.reg"));
  EXPECT_EQ(ReadFileBytes(files_.File("second.reg")), first);
  EXPECT_NE(first.find("\\\r\n  "), std::string::npos) << "no wrapped entry in\n" << first;
  for (size_t i = 0; i < std::size(values); ++i) {
    EXPECT_EQ(Raw(values[i].key, values[i].name), before[i]) << values[i].name;
  }
  EXPECT_TRUE(KeyExists(key + "\\Empty\\Leaf"));
}

TEST_F(ImportTest, AVersion5Utf16FileImportsTheSameValuesAsItsRegedit4Twin) {
  Write("four.reg", Lines({
                        "REGEDIT4",
                        "",
                        "[HKEY_CURRENT_USER\\Software\\Twin4\\K\xc3\xabY]",
                        "@=\"d\xc3\xa9\\\"f\\\\\"",
                        "\"S\xc3\xa4\"=\"V\xc3\xa4l\"",
                        "\"E\"=hex(2):25,41,c3,a4,25,00",
                        "\"M\"=hex(7):61,00,c3,a4,00,00",
                        "\"D\"=dword:0000abcd",
                        "\"B\"=hex:01,02,\\",
                        "  03",
                        "\"Q\"=hex(b):01,00,00,00,00,00,00,00",
                    }));
  Write("five.reg", Utf16Le(u"Windows Registry Editor Version 5.00\r\n"
                            u"\r\n"
                            u"[HKEY_CURRENT_USER\\Software\\Twin5\\K\u00ebY]\r\n"
                            u"@=\"d\u00e9\\\"f\\\\\"\r\n"
                            u"\"S\u00e4\"=\"V\u00e4l\"\r\n"
                            u"\"E\"=hex(2):25,00,41,00,e4,00,25,00,00,00\r\n"
                            u"\"M\"=hex(7):61,00,00,00,e4,00,00,00,00,00\r\n"
                            u"\"D\"=dword:0000abcd\r\n"
                            u"\"B\"=hex:01,02,\\\r\n"
                            u"  03\r\n"
                            u"\"Q\"=hex(b):01,00,00,00,00,00,00,00\r\n"));
  ASSERT_EQ(Regedit({"four.reg", "five.reg"}).exit_code, 0);
  for (const char* name : {"", "S\xc3\xa4", "E", "M", "D", "B", "Q"}) {
    const std::string four = Raw("HKCU\\Software\\Twin4\\K\xc3\xabY", name);
    EXPECT_NE(four, "absent") << name;
    EXPECT_EQ(Raw("HKCU\\Software\\Twin5\\K\xc3\xabY", name), four) << name;
  }
  EXPECT_EQ(Raw("HKCU\\Software\\Twin5\\K\xc3\xabY", "E"), "2 25004100E40025000000");
}

// ---- Removal lines, continuation lines, file names ------------------------------------

TEST_F(ImportTest, RemovesKeysAndValuesAndJoinsContinuationLines) {
  RawSet("HKCU\\Software\\Old\\Deep", "v", 1, std::string("x\0", 2));
  RawSet("HKCU\\Software\\Keep", "gone", 1, std::string("x\0", 2));
  RawSet("HKCU\\Software\\Keep", "stays", 1, std::string("x\0", 2));
  RawSet("HKCU\\Software\\Keep", "", 1, std::string("x\0", 2));
  Write("changes.reg", Lines({
                           "REGEDIT4",
                           "",
                           "[-HKEY_CURRENT_USER\\Software\\Old]",
                           "",
                           "[HKEY_CURRENT_USER\\Software\\Keep]",
                           "\"gone\"=-",
                           "@=-",
                           "\"long\"=hex:00,01,02,\\",
                           "  03,04,\\",
                           "  05",
                       }));
  Ok({"IMPORT", "changes.reg"});
  EXPECT_FALSE(KeyExists("HKCU\\Software\\Old"));
  EXPECT_EQ(Raw("HKCU\\Software\\Keep", "gone"), "absent");
  EXPECT_EQ(Raw("HKCU\\Software\\Keep", ""), "absent");
  EXPECT_EQ(Raw("HKCU\\Software\\Keep", "stays"), "1 78000000");
  EXPECT_EQ(Raw("HKCU\\Software\\Keep", "long"), "3 000102030405");
}

TEST_F(ImportTest, TakesAFileNameWithSpacesAndReportsMissingFilesAndDirectories) {
  Write("my backup file.reg",
        Lines({"REGEDIT4", "[HKEY_CURRENT_USER\\Software\\Spaces]", "@=\"x\""}));
  Ok({"IMPORT", "my backup file.reg"});
  EXPECT_EQ(Raw("HKCU\\Software\\Spaces", ""), "1 78000000");
  // An absolute name works as well, and the name is used as typed.
  Ok({"IMPORT", files_.File("my backup file.reg")});

  std::filesystem::create_directory(files_.File("folder.reg"));
  for (const std::string name : {"Missing.reg", "folder.reg"}) {
    const ProcessResult r = Orvik({"IMPORT", name});
    EXPECT_EQ(r.exit_code, 1) << name;
    EXPECT_EQ(r.out, NotThere(name));
  }
}

TEST_F(ImportTest, TheEditorReceivesExactlyTheTypedName) {
  // Each named file sets a value of its own; the decoys are the files that
  // the name would turn into if its quotes and backslashes were taken apart.
  const std::string names[] = {
      "a\"b",    "x\" \"evil.reg", "back\\\"slash", "two\\\\\"q",
      "trail\\", "trail\\\\",      "sp ace\"",      "\"lead",
  };
  const std::string decoys[] = {"ab", "x",   "evil.reg", "back\\slash", "slash",
                                "sp", "ace", "lead",     "trail\"",     "two\\\\q"};
  const std::string section = "[HKEY_CURRENT_USER\\Software\\Names]";
  for (const std::string& decoy : decoys) {
    Write(decoy, Lines({"REGEDIT4", section, "\"decoy\"=dword:00000001"}));
  }
  for (size_t i = 0; i < std::size(names); ++i) {
    SCOPED_TRACE(names[i]);
    const std::string value = "n" + std::to_string(i);
    Write(names[i], Lines({"REGEDIT4", section, "\"" + value + "\"=dword:00000007"}));
    Ok({"IMPORT", names[i]});
    EXPECT_EQ(Raw("HKCU\\Software\\Names", value), "4 07000000");
  }
  EXPECT_EQ(Raw("HKCU\\Software\\Names", "decoy"), "absent");
}

// ---- Problems -------------------------------------------------------------------------

TEST_F(ImportTest, AMalformedFileIsReportedAndChangesNothing) {
  RawSet("HKCU\\Software\\Present", "v", 4, std::string("\1\0\0\0", 4));
  Write("bad.reg", Lines({
                       "REGEDIT4",
                       "[HKEY_CURRENT_USER\\Software\\New]",
                       "\"a\"=\"b\"",
                       "[-HKEY_CURRENT_USER\\Software\\Present]",
                       "[HKEY_CURRENT_USER\\Software\\New2]",
                       "\"c\"=dword:nothex",
                   }));
  const ProcessResult r = Orvik({"IMPORT", "bad.reg"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, Lines({"", "Error: File: \"bad.reg\" could not be imported", ""}));
  EXPECT_FALSE(KeyExists("HKCU\\Software\\New"));
  EXPECT_EQ(Raw("HKCU\\Software\\Present", "v"), "4 01000000");

  // The editor itself names the file and the line, unless told to be silent.
  const ProcessResult loud = Regedit({"bad.reg"});
  EXPECT_EQ(loud.exit_code, 1);
  EXPECT_EQ(loud.out, "");
  EXPECT_EQ(loud.err.rfind("orvik-regedit: bad.reg:6: ", 0), 0u) << loud.err;
  const ProcessResult silent = Regedit({"/S", "bad.reg", "missing.reg"});
  EXPECT_EQ(silent.exit_code, 1);
  EXPECT_EQ(silent.out + silent.err, "");
  EXPECT_FALSE(KeyExists("HKCU\\Software\\New"));
}

TEST_F(ImportTest, EachFileOfAnEditorRunIsImportedWholeOrNotAtAll) {
  Write("good.reg", Lines({"REGEDIT4", "[HKEY_CURRENT_USER\\Software\\Good]", "@=\"x\""}));
  Write("refused.reg", Lines({"REGEDIT4", "[HKEY_CURRENT_USER\\Software\\Part]", "@=\"x\"",
                              "[HKEY_CURRENT_USER\\Software\\" + std::string(300, 'n') + "]"}));
  const ProcessResult r = Regedit({"refused.reg", "good.reg", files_.File("garbage")});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("refused.reg:4: "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("/garbage: "), std::string::npos) << r.err;
  EXPECT_TRUE(KeyExists("HKCU\\Software\\Good"));
  EXPECT_FALSE(KeyExists("HKCU\\Software\\Part"));
  // No file at all is a failure too.
  const ProcessResult none = Regedit({});
  EXPECT_EQ(none.exit_code, 1);
  EXPECT_NE(none.err, "");
  const ProcessResult silent = Regedit({"/s"});
  EXPECT_EQ(silent.exit_code, 1);
  EXPECT_EQ(silent.out + silent.err, "");
}

TEST_F(ImportTest, APipeIsReadOnceAndDevicesAreRefusedWithoutWaiting) {
  const std::string file =
      Lines({"REGEDIT4", "[HKEY_CURRENT_USER\\Software\\Piped]", "\"v\"=dword:00000002"});
  RunOptions piped = Options();
  piped.stdin_text = file;
  const ProcessResult editor = RunProgram(RegeditPath(), {"/dev/stdin"}, piped);
  EXPECT_EQ(editor.exit_code, 0) << editor.err;
  EXPECT_EQ(Raw("HKCU\\Software\\Piped", "v"), "4 02000000");
  piped.stdin_text = Lines({"REGEDIT4", "[HKEY_CURRENT_USER\\Software\\Piped]", "\"w\"=\"x\""});
  const ProcessResult import = RunProgram(OrvikPath(), {"IMPORT", "/dev/stdin"}, piped);
  EXPECT_EQ(import.exit_code, 0) << import.out;
  EXPECT_EQ(Raw("HKCU\\Software\\Piped", "w"), "1 78000000");

  // A FIFO that nobody writes to reads as empty at once; a device is not
  // read at all. The time limit only guards the test against a hang.
  ASSERT_EQ(mkfifo(files_.File("fifo.reg").c_str(), 0600), 0);
  const struct {
    std::string file;
    std::string problem;
  } refused[] = {
      {"fifo.reg", "the file is empty"},
      {"/dev/zero", "neither a regular file nor a pipe"},
      {"/dev/null", "neither a regular file nor a pipe"},
  };
  for (const auto& r : refused) {
    const ProcessResult run =
        RunProgram("/usr/bin/timeout", {"60", RegeditPath(), r.file}, Options());
    EXPECT_EQ(run.exit_code, 1) << r.file;
    EXPECT_NE(run.err.find(r.problem), std::string::npos) << run.err;
    const ProcessResult through =
        RunProgram("/usr/bin/timeout", {"60", OrvikPath(), "IMPORT", r.file}, Options());
    EXPECT_EQ(through.exit_code, 1) << r.file;
    EXPECT_EQ(through.out,
              Lines({"", "Error: File: \"" + r.file + "\" could not be imported", ""}));
  }
}

TEST_F(ImportTest, HostileNamesRefuseTheWholeFileWithTheirLine) {
  const std::u16string head = u"Windows Registry Editor Version 5.00\r\n";
  const std::string key = "[HKEY_CURRENT_USER\\Software\\Hostile]";
  const struct {
    std::string file;
    int line;
  } cases[] = {
      {"REGEDIT4\r\n" + key + "\r\n[HKEY_CURRENT_USER\\Software\\K" + std::string(1, '\0') +
           "hidden]\r\n",
       3},
      {"REGEDIT4\r\n" + key + "\r\n\"na" + std::string(1, '\0') + "me\"=\"v\"\r\n", 3},
      {Utf16Le(head + u"[HKEY_CURRENT_USER\\Software\\Hostile]\r\n\"Sur\xD800x\"=\"v\"\r\n"), 3},
      {Utf16Le(head + u"[HKEY_CURRENT_USER\\Software\\Hostile]\r\n\"Sur\x3Fx\"=\"v\"\r\n"
                      u"\"Sur\xDC80x\"=\"w\"\r\n"),
       4},
  };
  for (const auto& c : cases) {
    Write("hostile.reg", c.file);
    const ProcessResult r = Regedit({"hostile.reg"});
    EXPECT_EQ(r.exit_code, 1) << r.err;
    EXPECT_EQ(r.err.rfind("orvik-regedit: hostile.reg:" + std::to_string(c.line) + ": ", 0), 0u)
        << r.err;
    EXPECT_FALSE(KeyExists("HKCU\\Software\\Hostile"));
    EXPECT_FALSE(KeyExists("HKCU\\Software\\K"));
  }
}

// ---- The editor process ---------------------------------------------------------------

// orvik copied into a directory of its own, with `editor` (a shell script)
// as the registry editor beside it, or no editor when it is empty.
std::string OrvikWithEditor(const TempDir& dir, const std::string& editor) {
  const std::string orvik = dir.File("orvik");
  std::filesystem::copy_file(OrvikPath(), orvik);
  if (!editor.empty()) {
    WriteFileBytes(dir.File("orvik-regedit"), "#!/bin/sh\n" + editor);
    chmod(dir.File("orvik-regedit").c_str(), 0755);
  }
  return orvik;
}

TEST_F(ImportTest, ReturnsOnlyAfterTheEditorEnded) {
  TempDir bin;
  // The editor lets go of the output first, so that only IMPORT's own wait
  // can keep it from returning early.
  const std::string orvik = OrvikWithEditor(
      bin, "exec >/dev/null 2>&1\nsleep 0.5\nprintf '%s\\n' \"$@\" \"$(pwd)\" > editor.txt\n");
  Write("a file.reg", "REGEDIT4\r\n");
  const ProcessResult r = RunProgram(orvik, {"IMPORT", "a file.reg"}, Options());
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, "");
  // The editor gets the file by its full name, in case it starts elsewhere.
  EXPECT_EQ(ReadFileBytes(files_.File("editor.txt")),
            "/s\n" + files_.File("a file.reg") + "\n" + files_.path() + "\n");
}

TEST_F(ImportTest, AnEditorThatFailsOrIsMissingIsReported) {
  Write("x.reg", "REGEDIT4\r\n");
  const std::string failed = Lines({"", "Error: File: \"x.reg\" could not be imported", ""});
  TempDir failing;
  ProcessResult r =
      RunProgram(OrvikWithEditor(failing, "exit 3\n"), {"IMPORT", "x.reg"}, Options());
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, failed);
  TempDir missing;
  r = RunProgram(OrvikWithEditor(missing, ""), {"IMPORT", "x.reg"}, Options());
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, failed);
}

// ---- A killed import --------------------------------------------------------------------

pid_t StartRegedit(const std::string& registry, const std::string& file) {
  const std::string env_entry = "ORVIK_REGISTRY=" + registry;
  std::vector<char*> envp;
  for (char** e = environ; *e != nullptr; ++e) {
    if (std::string(*e).rfind("ORVIK_REGISTRY=", 0) != 0) envp.push_back(*e);
  }
  envp.push_back(const_cast<char*>(env_entry.c_str()));
  envp.push_back(nullptr);
  std::string program = RegeditPath();
  std::string silent = "/s";
  std::string name = file;
  char* argv[] = {program.data(), silent.data(), name.data(), nullptr};
  pid_t pid = 0;
  EXPECT_EQ(posix_spawn(&pid, argv[0], nullptr, nullptr, argv, envp.data()), 0);
  return pid;
}

TEST_F(ImportTest, AKilledImportLeavesAllOfTheFileOrNone) {
  constexpr int kKeys = 200;
  constexpr int kValuesPerKey = 150;
  std::string file = "REGEDIT4\r\n";
  for (int k = 0; k < kKeys; ++k) {
    file += "\r\n[HKEY_CURRENT_USER\\Software\\Big\\K" + std::to_string(k) + "]\r\n";
    for (int v = 0; v < kValuesPerKey; ++v) {
      file += "\"v" + std::to_string(v) + "\"=hex:01,02,03,04,05,06,07,08,09,0a,0b,0c\r\n";
    }
  }
  Write("big.reg", file);
  // How long a whole import takes here.
  TempDir timing;
  const auto start = std::chrono::steady_clock::now();
  int status = 0;
  waitpid(StartRegedit(timing.path(), files_.File("big.reg")), &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  const auto whole = std::chrono::steady_clock::now() - start;

  const std::string last = "HKCU\\Software\\Big\\K" + std::to_string(kKeys - 1);
  for (const double part : {0.3, 0.6, 0.9}) {
    TempDir registry;
    const pid_t pid = StartRegedit(registry.path(), files_.File("big.reg"));
    std::this_thread::sleep_for(
        std::chrono::duration_cast<std::chrono::microseconds>(whole * part));
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    RunOptions options;
    options.env = {{"ORVIK_REGISTRY", registry.path()}};
    auto raw = [&](const std::string& key, const std::string& name) {
      return RunProgram(BuildDir() + "/orvik-rawreg", {"get", key, name}, options).exit_code == 0;
    };
    const bool first_there = raw("HKCU\\Software\\Big\\K0", "v0");
    EXPECT_EQ(raw(last, "v" + std::to_string(kValuesPerKey - 1)), first_there) << part;
    EXPECT_EQ(raw("HKCU\\Software\\Big\\K100", "v75"), first_there) << part;
    // The registry is whole and takes the file afterwards.
    const ProcessResult again = RunProgram(RegeditPath(), {files_.File("big.reg")}, options);
    EXPECT_EQ(again.exit_code, 0) << again.err;
    EXPECT_TRUE(raw(last, "v0"));
  }
}

}  // namespace
}  // namespace orvik::test
