// End-to-end tests of key names beyond ASCII as Windows upper-cases them:
// two names are one key only where Windows' own table makes them equal, and
// the hives SAVE and UNLOAD write keep Windows' order and hashes. Names are
// typed as UTF-8 (the ANSI code page); the command line lower-cases ASCII
// letters only.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/posix/hive/testing/windows_order.h"
#include "tests/support/orvik_test.h"
#include "tests/support/process_runner.h"
#include "tests/support/windows_upcase.h"

namespace orvik::test {
namespace {

namespace views = orvik::posix::hive::test;

// No two pairs share a name, nor names that are one for Windows.
struct NamePair {
  const char* what;
  std::string first;
  std::string second;
  bool same;  // one key for Windows
};

const NamePair kPairs[] = {
    {"dotless i is no I", "\xC4\xB1x", "ix", false},
    {"long s is no S", "\xC5\xBFx", "sx", false},
    {"title-case digraph has no case", "\xC7\x85x", "\xC7\x84x", false},
    {"small digraph and its capital", "\xC7\x89x", "\xC7\x87x", true},
    {"micro sign is no mu", "\xC2\xB5x", "\xCE\xBCx", false},
    {"sharp s is no SS", "\xC3\x9F", "ss", false},
    {"small and capital sigma", "\xCF\x83x", "\xCE\xA3x", true},
    {"final sigma is no capital sigma", "\xCF\x82y", "\xCE\xA3y", false},
    {"Cyrillic small and capital", "\xD1\x8F\xD1\x91", "\xD0\xAF\xD0\x81", true},
    {"CJK with fullwidth a and A", "\xE6\x97\xA5\xEF\xBD\x81", "\xE6\x97\xA5\xEF\xBC\xA1", true},
    {"beyond U+FFFF, no case", "\xF0\x90\x90\xA8", "\xF0\x90\x90\x80", false},
};

class NameCaseTest : public OrvikTest {
 protected:
  // QUERY /s of `key` below the banner, with `path` (the key's path as QUERY
  // prints it) taken out of every line, so that one tree listed under two
  // keys compares equal.
  std::string Tree(const std::string& key, const std::string& path) {
    std::string out = Query(key);
    const size_t start = out.find(path);
    out = start == std::string::npos ? "" : out.substr(start);
    for (size_t at = out.find(path); at != std::string::npos; at = out.find(path, at)) {
      out.erase(at, path.size());
    }
    return out;
  }
};

TEST_F(NameCaseTest, AddAndDeleteReachTheSameKeyOnlyWhereWindowsDoes) {
  for (size_t i = 0; i < std::size(kPairs); ++i) {
    const NamePair& p = kPairs[i];
    SCOPED_TRACE(p.what);
    const std::string parent = "HKCU\\Software\\UC" + std::to_string(i);
    const std::string header = "HKEY_CURRENT_USER\\software\\uc" + std::to_string(i) + "\\";
    Ok({"ADD", parent + "\\" + p.first, "/v", "n", "/d", "first"});
    Ok({"ADD", parent + "\\" + p.second, "/v", "n", "/d", "second"});
    const std::string listing = Query(parent);
    if (p.same) {
      // The second ADD opened the first key, which keeps its spelling.
      EXPECT_NE(listing.find(Lines({header + p.first, "   n REG_SZ  second"})), std::string::npos)
          << listing;
      EXPECT_EQ(listing.find(header + p.second + "\r\n"), std::string::npos) << listing;
    } else {
      EXPECT_NE(listing.find(Lines({header + p.first, "   n REG_SZ  first"})), std::string::npos)
          << listing;
      EXPECT_NE(listing.find(Lines({header + p.second, "   n REG_SZ  second"})), std::string::npos)
          << listing;
    }
    // Deleting the second name removes the first key only when it is the same.
    Ok({"DELETE", parent + "\\" + p.second, "/f"});
    EXPECT_EQ(Orvik({"QUERY", parent + "\\" + p.first}).exit_code, p.same ? 1 : 0);
  }
}

TEST_F(NameCaseTest, SaveAndUnloadWriteWindowsOrderAndLoadFindsKeysAsWindowsDoes) {
  const std::string source = "HKCU\\Software\\UC";
  const std::string loaded = "HKEY_LOCAL_MACHINE\\uc";
  // Both names of each pair that Windows keeps apart, one of each other
  // pair, and K, which Windows sorts before the dotless i.
  std::vector<std::string> names = {"kx"};
  for (const NamePair& p : kPairs) {
    names.push_back(p.first);
    if (!p.same) names.push_back(p.second);
  }
  for (const std::string& name : names) {
    Ok({"ADD", source + "\\" + name, "/v", "n", "/d", name});
  }
  Ok({"ADD", source + "\\" + kPairs[0].first + "\\" + kPairs[4].first, "/v", "deep", "/d", "1"});
  Ok({"SAVE", source, "uc.hiv"});
  const bool have_table = !WindowsUpcaseTable().empty();
  if (have_table) {
    EXPECT_TRUE(views::ListsInWindowsOrder(ReadFileBytes(File("uc.hiv"))));
  }

  Ok({"LOAD", "HKLM\\UC", "uc.hiv"});
  EXPECT_EQ(Tree("HKLM\\UC", loaded), Tree(source, "HKEY_CURRENT_USER\\software\\uc"));
  // Every key is found by its own name, and by the other name of a pair that
  // Windows takes as one.
  for (const NamePair& p : kPairs) {
    SCOPED_TRACE(p.what);
    const ProcessResult first = Orvik({"QUERY", "HKLM\\UC\\" + p.first, "/v", "n"});
    EXPECT_EQ(first.exit_code, 0);
    EXPECT_NE(first.out.find("   n REG_SZ  " + p.first + "\r\n"), std::string::npos) << first.out;
    const ProcessResult second = Orvik({"QUERY", "HKLM\\UC\\" + p.second, "/v", "n"});
    EXPECT_EQ(second.exit_code, 0);
    EXPECT_NE(second.out.find("   n REG_SZ  " + (p.same ? p.first : p.second) + "\r\n"),
              std::string::npos)
        << second.out;
  }
  // A change goes back to the file, written in Windows' order again.
  Ok({"ADD", "HKLM\\UC\\" + kPairs[2].first + "\\" + kPairs[10].first, "/v", "new", "/d", "1"});
  const std::string changed = Tree("HKLM\\UC", loaded);
  Ok({"UNLOAD", "HKLM\\UC"});
  if (have_table) {
    EXPECT_TRUE(views::ListsInWindowsOrder(ReadFileBytes(File("uc.hiv"))));
  }
  Ok({"LOAD", "HKLM\\UC", "uc.hiv"});
  EXPECT_EQ(Tree("HKLM\\UC", loaded), changed);
  Ok({"UNLOAD", "HKLM\\UC"});
  if (!have_table) GTEST_SKIP() << "Windows' upper-case table is not there: order not checked";
}

// A hive whose hash leaf holds a hash that is not Windows' (as older builds
// and other writers made them for names beyond ASCII) loads whole: every key
// is found by its name, and the file is left as it was.
TEST_F(NameCaseTest, LoadFindsTheKeysOfAHiveWithHashesThatAreNotWindows) {
  Ok({"ADD", "HKCU\\Software\\UC\\kx", "/v", "n", "/d", "k"});
  Ok({"ADD", "HKCU\\Software\\UC\\\xC2\xB5x", "/v", "n", "/d", "micro"});
  Ok({"SAVE", "HKCU\\Software\\UC", "uc.hiv"});
  std::string bytes = ReadFileBytes(File("uc.hiv"));
  const size_t leaf = bytes.find("lh", 4096);
  ASSERT_NE(leaf, std::string::npos);
  ASSERT_EQ(bytes[leaf + 2], 2);
  bytes.replace(leaf + 4 + 8 + 4, 4, "\x12\x34\x56\x78");  // the micro sign's, after K's
  WriteFileBytes(File("uc.hiv"), bytes);

  Ok({"LOAD", "HKLM\\UC", "uc.hiv"});
  const ProcessResult r = Orvik({"QUERY", "HKLM\\UC\\\xC2\xB5X", "/v", "n"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_NE(r.out.find("   n REG_SZ  micro\r\n"), std::string::npos) << r.out;
  Ok({"UNLOAD", "HKLM\\UC"});
  EXPECT_EQ(ReadFileBytes(File("uc.hiv")), bytes);
}

}  // namespace
}  // namespace orvik::test
