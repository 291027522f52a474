// End-to-end tests of SAVE and RESTORE: the built program against a fresh
// registry; the hives it writes are read by our reader, hivex, libregf and
// reglookup, and the real Windows hives go through RESTORE and SAVE.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/posix/hive/hive_format.h"
#include "platform/posix/hive/hive_reader.h"
#include "platform/posix/hive/hive_writer.h"
#include "platform/posix/hive/testing/hive_views.h"
#include "tests/support/orvik_test.h"
#include "tests/support/process_runner.h"

namespace orvik::test {
namespace {

namespace views = orvik::posix::hive::test;

constexpr char kKey[] = "HKCU\\Software\\Test";

class HiveTest : public OrvikTest {
 protected:
  // A tree with data of every type, nested keys and names beyond ASCII.
  void MakeTree(const std::string& key) {
    AddEveryKindOfData(key);
    Ok({"ADD", key + "\\Other", "/v", "Empty", "/t", "REG_SZ"});
    RawSet(key, "Short", 3, "FE01");
  }
};

TEST_F(HiveTest, SaveDeleteRestoreGivesBackTheSameTree) {
  MakeTree(kKey);
  const std::string before = Query(kKey);
  Ok({"SAVE", kKey, "Backup.hiv"});
  // Used exactly as typed, relative to the current folder.
  ASSERT_EQ(access(File("Backup.hiv").c_str(), F_OK), 0);
  struct stat info {};
  ASSERT_EQ(stat(File("Backup.hiv").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  // Nothing is left beside it.
  EXPECT_EQ(system(("test $(ls -A '" + files_.path() + "' | wc -l) -eq 1").c_str()), 0);

  Ok({"DELETE", kKey});
  ASSERT_EQ(Orvik({"QUERY", kKey}).exit_code, 1);
  Ok({"RESTORE", kKey, "Backup.hiv"});
  EXPECT_EQ(Query(kKey), before);

  // A second save holds the same keys, values, classes, descriptors and times.
  Ok({"SAVE", kKey, "Again.hiv"});
  long error = 0;
  const auto first = views::OurView(File("Backup.hiv"), {}, &error);
  ASSERT_EQ(error, 0);
  EXPECT_TRUE(views::SameLines(first, views::OurView(File("Again.hiv"), {}, &error)));

  // Every independent reader sees what was saved.
  const views::ViewFields libregf{true, true, true, true};
  EXPECT_TRUE(views::SameLines(views::OurView(File("Backup.hiv"), libregf, &error),
                               views::LibregfView(File("Backup.hiv"), libregf, &error)));
  EXPECT_EQ(error, 0);
  const views::ViewFields hivex{false, false, true, false};
  EXPECT_TRUE(views::SameLines(views::OurView(File("Backup.hiv"), hivex, &error),
                               views::HivexView(File("Backup.hiv"), hivex, &error)));
  EXPECT_EQ(error, 0);
  EXPECT_TRUE(views::SameLines(views::OurReglookupView(File("Backup.hiv"), &error),
                               views::ReglookupView(File("Backup.hiv"), &error)));
  EXPECT_EQ(error, 0);
}

TEST_F(HiveTest, RestoreReplacesExistingContentAndCreatesAMissingKey) {
  MakeTree(kKey);
  Ok({"SAVE", kKey, "tree.hiv"});
  Ok({"ADD", "HKCU\\Software\\Target\\Stale", "/v", "Old", "/d", "x"});
  Ok({"ADD", "HKCU\\Software\\Target", "/v", "Name", "/d", "replaced"});
  Ok({"RESTORE", "HKCU\\Software\\Target", "tree.hiv"});
  const std::string expected = Query(kKey);
  std::string restored = Query("HKCU\\Software\\Target");
  // The listings differ only in the key's name.
  for (size_t at; (at = restored.find("\\target")) != std::string::npos;) {
    restored.replace(at, 7, "\\test");
  }
  EXPECT_EQ(restored, expected);
  // A key that is not there is created, in the case typed.
  Ok({"RESTORE", "HKCU\\Software\\NewOne", "tree.hiv"});
  EXPECT_NE(Query("HKCU\\Software").find("HKEY_CURRENT_USER\\software\\NewOne\r\n"),
            std::string::npos);
}

TEST_F(HiveTest, SaveReplacesAnOldFileOnlyWithACompleteHive) {
  MakeTree(kKey);
  WriteFileBytes(File("old.hiv"), "previous backup");
  Ok({"SAVE", kKey, "old.hiv"});
  long error = 0;
  EXPECT_FALSE(views::OurView(File("old.hiv"), {}, &error).empty());
  EXPECT_EQ(error, 0);

  // A missing key, or a refused save, leaves the old file as it was.
  WriteFileBytes(File("keep.hiv"), "previous backup");
  ProcessResult r = Orvik({"SAVE", "HKCU\\Software\\Missing", "keep.hiv"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, Report("Error: Key: software\\missing does not exist!"));
  EXPECT_EQ(ReadFileBytes(File("keep.hiv")), "previous backup");
  r = Orvik({"SAVE", kKey, "no-such-folder/keep.hiv"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, Report("Error: The system cannot find the path specified."));
}

TEST_F(HiveTest, RestoreReportsMissingAndInvalidFiles) {
  MakeTree(kKey);
  const std::string before = Query(kKey);
  const struct {
    std::vector<std::string> args;
    std::string out;
  } cases[] = {
      {{"RESTORE", kKey, "Missing.hiv"}, Report("File: \"Missing.hiv\" does not exist\"")},
      {{"RESTORE", kKey}, Report("File: \"\" does not exist\"")},
      {{"RESTORE", kKey, "."}, Report("File: \".\" does not exist\"")},
      {{"RESTORE", kKey, "text.hiv"},
       Report("Error: The system has attempted to load or restore a file into the registry, but "
              "the specified file is not in a registry file format.")},
      {{"RESTORE", kKey, "damaged.hiv"},
       Report("Error: The registry is corrupted. The structure of one of the files containing "
              "registry data is corrupted, or the system's memory image of the file is "
              "corrupted, or the file could not be recovered because the alternate copy or log "
              "was absent or corrupted.")},
  };
  WriteFileBytes(File("text.hiv"), std::string(10000, 't'));
  Ok({"SAVE", kKey, "good.hiv"});
  std::string damaged = ReadFileBytes(File("good.hiv"));
  damaged.resize(damaged.size() - 4096);
  WriteFileBytes(File("damaged.hiv"), damaged);
  for (const auto& c : cases) {
    const ProcessResult r = Orvik(c.args);
    EXPECT_EQ(r.exit_code, 1) << c.args.back();
    EXPECT_EQ(r.out, c.out) << c.args.back();
    EXPECT_EQ(Query(kKey), before) << c.args.back();
  }
}

// The root with subkeys k0, k1 and k2, and the cells of the three.
std::string ThreeKeyHive(std::vector<uint32_t>* cells) {
  namespace hive = orvik::posix::hive;
  hive::HiveWriter writer;
  writer.BeginKey({u"root", u"", "", 1});
  for (const char16_t* name : {u"k0", u"k1", u"k2"}) {
    writer.BeginKey({name, u"", "", 2});
    writer.AddValue(u"v", REG_DWORD, "1234");
    writer.EndKey();
  }
  writer.EndKey();
  writer.Finish(u"three", 3);
  const std::string bytes = writer.Bytes();
  std::unique_ptr<hive::HiveReader> reader;
  EXPECT_EQ(hive::HiveReader::FromBytes(reinterpret_cast<const uint8_t*>(bytes.data()),
                                        bytes.size(), &reader),
            ERROR_SUCCESS);
  hive::KeyNode root;
  EXPECT_EQ(reader->ReadKey(reader->root(), &root), ERROR_SUCCESS);
  EXPECT_EQ(reader->ListSubkeys(root, cells), ERROR_SUCCESS);
  return bytes;
}

TEST_F(HiveTest, RestoreRefusesTheHivesThatLoadRefuses) {
  namespace hive = orvik::posix::hive;
  MakeTree(kKey);
  const std::string before = Query(kKey);
  std::vector<uint32_t> cells;
  const std::string good = ThreeKeyHive(&cells);
  ASSERT_EQ(cells.size(), 3u);
  auto field = [](uint32_t cell, size_t at) { return hive::kBaseBlockSize + cell + 4 + at; };
  // Each file reads key by key, but its tree is not one a registry can hold.
  std::string wrong_parent = good;
  hive::Store32(reinterpret_cast<uint8_t*>(wrong_parent.data()) + field(cells[2], hive::kNkParent),
                cells[0]);
  std::string twin_names = good;
  twin_names[field(cells[1], hive::kNkName) + 1] = '0';  // k1 becomes k0
  const std::string corrupt = Report(
      "Error: The registry is corrupted. The structure of one of the files containing registry "
      "data is corrupted, or the system's memory image of the file is corrupted, or the file "
      "could not be recovered because the alternate copy or log was absent or corrupted.");
  for (const std::string* bytes : {&wrong_parent, &twin_names}) {
    WriteFileBytes(File("bad.hiv"), *bytes);
    const ProcessResult restored = Orvik({"RESTORE", kKey, "bad.hiv"});
    EXPECT_EQ(restored.exit_code, 1);
    EXPECT_EQ(restored.out, corrupt);
    EXPECT_EQ(Query(kKey), before);
    const ProcessResult loaded = Orvik({"LOAD", "HKLM\\Bad", "bad.hiv"});
    EXPECT_EQ(loaded.exit_code, 1);
    EXPECT_EQ(loaded.out, corrupt);
  }
  WriteFileBytes(File("good.hiv"), good);
  Ok({"RESTORE", kKey, "good.hiv"});
  EXPECT_EQ(Orvik({"QUERY", kKey + std::string("\\k2")}).exit_code, 0);
}

TEST_F(HiveTest, PrivilegesBelongToRootAndTheRegistrysOwner) {
  if (!CanRunUnprivileged()) GTEST_SKIP() << "needs root and setpriv";
  MakeTree(kKey);
  Ok({"SAVE", kKey, "tree.hiv"});
  chmod(File("tree.hiv").c_str(), 0644);
  chmod(files_.path().c_str(), 0777);
  // A user who may write the registry (a registry its group shares) but
  // does not own it holds neither privilege.
  ASSERT_EQ(system(("chgrp -R 65534 '" + registry_.path() + "' && chmod -R g+rwX '" +
                    registry_.path() + "' && chmod g+s '" + registry_.path() + "'")
                       .c_str()),
            0);
  ProcessResult r = Orvik({"SAVE", kKey, "nobody.hiv"}, true);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, Report("Error: A required privilege is not held by the client."));
  EXPECT_NE(access(File("nobody.hiv").c_str(), F_OK), 0);
  r = Orvik({"RESTORE", kKey, "tree.hiv"}, true);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, Report("Error: A required privilege is not held by the client."));

  // The owner of a registry holds both.
  const std::string own = files_.File("own-registry");
  ASSERT_EQ(mkdir(own.c_str(), 0755), 0);
  ASSERT_EQ(chown(own.c_str(), 65534, 65534), 0);
  r = Orvik({"RESTORE", kKey, "tree.hiv"}, true, own);
  EXPECT_EQ(r.exit_code, 0) << r.out;
  r = Orvik({"SAVE", kKey, "mine.hiv"}, true, own);
  EXPECT_EQ(r.exit_code, 0) << r.out;
  long error = 0;
  EXPECT_TRUE(views::SameLines(views::OurView(File("tree.hiv"), {false, true, false}, &error),
                               views::OurView(File("mine.hiv"), {false, true, false}, &error)));
}

TEST_F(HiveTest, RealHivesComeBackFromRestoreAndSave) {
  const std::vector<std::string> hives = views::UnpackRealHives(files_.path());
  if (hives.empty()) GTEST_SKIP() << "the real hives are not there";
  for (const std::string& name : hives) {
    SCOPED_TRACE(name);
    const std::string key = "HKLM\\SOFTWARE\\Real\\" + name;
    if (name == "corrupted_system_hive") {
      // Refused, and the key (created first) stays empty.
      const ProcessResult r = Orvik({"RESTORE", key, name});
      EXPECT_EQ(r.exit_code, 1);
      EXPECT_NE(r.out.find("Error: The registry is corrupted."), std::string::npos) << r.out;
      const std::string listing = Orvik({"QUERY", key, "/s"}).out;
      EXPECT_EQ(listing.substr(listing.find("HKEY_")),
                "HKEY_LOCAL_MACHINE\\software\\real\\corrupted_system_hive\r\n");
      continue;
    }
    Ok({"RESTORE", key, name});
    Ok({"SAVE", key, name + ".saved"});
    long error = 0;
    const auto original = views::OurView(File(name), {}, &error);
    ASSERT_EQ(error, 0);
    const std::string saved = File(name + ".saved");
    EXPECT_TRUE(views::SameLines(original, views::OurView(saved, {}, &error)));
    // The independent readers see in the saved hive what they see in the original.
    const views::ViewFields libregf{true, true, true, true};
    EXPECT_TRUE(views::SameLines(views::LibregfView(File(name), libregf, &error),
                                 views::LibregfView(saved, libregf, &error)));
    EXPECT_EQ(error, 0);
    const views::ViewFields hivex{false, false, true, false};
    EXPECT_TRUE(views::SameLines(views::HivexView(File(name), hivex, &error),
                                 views::HivexView(saved, hivex, &error)));
    EXPECT_EQ(error, 0);
    EXPECT_TRUE(views::SameLines(views::ReglookupView(File(name), &error),
                                 views::ReglookupView(saved, &error)));
    EXPECT_EQ(error, 0);
  }
}

}  // namespace
}  // namespace orvik::test
