// End-to-end tests of LOAD and UNLOAD: the built program against a fresh
// registry. A loaded hive is changed through the other operations, unloaded,
// and its file read again by our reader, hivex, libregf and reglookup; a kill
// at any moment of UNLOAD leaves the old tree or the new one.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/handles/registry_session.h"
#include "platform/posix/hive/hive_format.h"
#include "platform/posix/hive/hive_replay.h"
#include "platform/posix/hive/testing/dirty_sets.h"
#include "platform/posix/hive/testing/hive_views.h"
#include "tests/support/listings.h"
#include "tests/support/orvik_test.h"
#include "tests/support/process_runner.h"

namespace orvik::test {
namespace {

namespace views = orvik::posix::hive::test;

class LoadTest : public OrvikTest {
 protected:
  // Saves a tree with data of every type and nested keys as `file`, and
  // removes the tree from the registry.
  void MakeHive(const std::string& file) {
    const std::string key = "HKCU\\Software\\Source";
    AddEveryKindOfData(key);
    Ok({"ADD", key + "\\Other", "/v", "Gone", "/d", "soon"});
    Ok({"SAVE", key, file});
    Ok({"DELETE", key});
  }
};

TEST_F(LoadTest, ChangesUnderALoadedHiveGoBackToItsFile) {
  MakeHive("tree.hiv");
  Ok({"LOAD", "HKLM\\TempHive", "tree.hiv"});
  // The key is made lower-case; the hive is there in every later run.
  const std::string loaded = Query("HKLM\\TempHive");
  EXPECT_NE(loaded.find("HKEY_LOCAL_MACHINE\\temphive\\sub\\deeper\r\n"), std::string::npos)
      << loaded;
  EXPECT_NE(loaded.find("Qword"), std::string::npos);

  Ok({"ADD", "HKLM\\TempHive", "/v", "Added", "/d", "new value"});
  Ok({"ADD", "HKLM\\TempHive\\NewKey\\Below", "/v", "Deep", "/t", "REG_DWORD", "/d", "7"});
  Ok({"ADD", "HKLM\\TempHive", "/v", "Count", "/t", "REG_DWORD", "/d", "43"});
  Ok({"DELETE", "HKLM\\TempHive", "/v", "Name"});
  Ok({"DELETE", "HKLM\\TempHive\\Other"});
  const std::string changed = Query("HKLM\\TempHive");
  ASSERT_NE(changed, loaded);

  Ok({"UNLOAD", "HKLM\\TEMPHIVE"});
  EXPECT_EQ(Orvik({"QUERY", "HKLM\\TempHive"}).exit_code, 1);
  // The file holds the change, and nothing but it: loaded elsewhere it
  // lists as the changed tree did.
  Ok({"LOAD", "HKU\\Again", "tree.hiv"});
  EXPECT_EQ(Listing(Query("HKU\\Again"), "HKEY_USERS\\again", "HKEY_LOCAL_MACHINE\\temphive"),
            Listing(changed, "", ""));
  Ok({"UNLOAD", "HKU\\Again"});
  long error = 0;
  const auto view = views::OurView(File("tree.hiv"), {}, &error);
  EXPECT_EQ(error, 0);
  EXPECT_FALSE(view.empty());
}

TEST_F(LoadTest, UnloadWithoutChangesLeavesTheFileByteForByte) {
  MakeHive("tree.hiv");
  const std::string before = ReadFileBytes(File("tree.hiv"));
  struct stat old {};
  ASSERT_EQ(stat(File("tree.hiv").c_str(), &old), 0);
  Ok({"LOAD", "HKLM\\Look", "tree.hiv"});
  EXPECT_EQ(Orvik({"QUERY", "HKLM\\Look", "/s"}).exit_code, 0);
  Ok({"EXPORT", "HKLM\\Look", "look.reg"});
  Ok({"UNLOAD", "HKLM\\Look"});
  EXPECT_EQ(ReadFileBytes(File("tree.hiv")), before);
  struct stat now {};
  ASSERT_EQ(stat(File("tree.hiv").c_str(), &now), 0);
  EXPECT_EQ(now.st_ino, old.st_ino);
  // No scratch file is left beside it.
  EXPECT_EQ(system(("test $(ls -A '" + files_.path() + "' | wc -l) -eq 2").c_str()), 0);
}

TEST_F(LoadTest, RefusalsAreReportedAndChangeNothing) {
  MakeHive("tree.hiv");
  WriteFileBytes(File("text.hiv"), std::string(10000, 't'));
  const std::string good = ReadFileBytes(File("tree.hiv"));
  WriteFileBytes(File("truncated.hiv"), good.substr(0, good.size() - 4096));
  std::string flipped = good;
  flipped[good.find("nk", 4096)] = 'x';  // the root key's signature
  WriteFileBytes(File("flipped.hiv"), flipped);
  Ok({"LOAD", "HKLM\\Loaded", "tree.hiv"});
  const std::string hklm = Orvik({"QUERY", "HKLM"}).out;
  const std::string hku = Orvik({"QUERY", "HKU"}).out;

  const std::string invalid = "Error: The parameter is incorrect.";
  const std::string corrupt =
      "Error: The registry is corrupted. The structure of one of the files containing "
      "registry data is corrupted, or the system's memory image of the file is corrupted, or "
      "the file could not be recovered because the alternate copy or log was absent or "
      "corrupted.";
  struct Case {
    std::vector<std::string> args;
    std::string out;
  };
  const Case cases[] = {
      {{"LOAD", "HKCU\\Hive", "tree.hiv"}, Report(invalid)},
      {{"LOAD", "HKCR\\Hive", "tree.hiv"}, Report(invalid)},
      {{"LOAD", "HKLM\\Two\\Levels", "tree.hiv"}, Report(invalid)},
      {{"LOAD", "HKLM\\Other", "tree.hiv"},
       Report("Error: The process cannot access the file because it is being used by another "
              "process.")},
      {{"LOAD", "HKLM\\Loaded", "text.hiv"},
       Report("Error: The system has attempted to load or restore a file into the registry, but "
              "the specified file is not in a registry file format.")},
      {{"LOAD", "HKLM\\Software", "flipped.hiv"}, Report(corrupt)},
      {{"LOAD", "HKLM\\Truncated", "truncated.hiv"}, Report(corrupt)},
      {{"LOAD", "HKLM\\Flipped", "flipped.hiv"}, Report(corrupt)},
      {{"LOAD", "HKLM\\Missing", "Missing.hiv"}, Report("File: \"Missing.hiv\" does not exist\"")},
      {{"UNLOAD", "HKLM\\Software"}, Report(invalid)},
      {{"UNLOAD", "HKLM\\Loaded\\Sub"}, Report(invalid)},
      {{"UNLOAD", "HKCU\\Software"}, Report(invalid)},
      {{"UNLOAD", "HKLM\\NotThere"}, Report("Error: The system cannot find the file specified.")},
  };
  // A second load of the same file under a name that exists: the file is
  // refused first.
  for (const auto& c : cases) {
    const ProcessResult r = Orvik(c.args);
    EXPECT_EQ(r.exit_code, 1) << c.args[1];
    EXPECT_EQ(r.out, c.out) << c.args[1];
  }
  // Nothing was created or removed.
  EXPECT_EQ(Orvik({"QUERY", "HKLM"}).out, hklm);
  EXPECT_EQ(Orvik({"QUERY", "HKU"}).out, hku);
  EXPECT_EQ(Orvik({"QUERY", "HKCU\\Hive"}).exit_code, 1);
  // A loaded hive's key goes only by UNLOAD.
  const ProcessResult r = Orvik({"DELETE", "HKLM\\Loaded"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, Report("Error: Access is denied."));
  EXPECT_EQ(Orvik({"QUERY", "HKLM\\Loaded"}).exit_code, 0);
  // An existing key is no place for a hive.
  Ok({"UNLOAD", "HKLM\\Loaded"});
  const ProcessResult exists = Orvik({"LOAD", "HKLM\\Software", "tree.hiv"});
  EXPECT_EQ(exists.exit_code, 1);
  EXPECT_EQ(exists.out, Report("Error: Cannot create a file when that file already exists."));
}

TEST_F(LoadTest, DeletingAHivesKeyIsRefusedBeforeAnythingBelowItChanges) {
  MakeHive("tree.hiv");
  const std::string file = ReadFileBytes(File("tree.hiv"));
  for (const std::string key : {"HKLM\\Whole", "HKU\\Whole"}) {
    SCOPED_TRACE(key);
    Ok({"LOAD", key, "tree.hiv"});
    const std::string tree = Query(key);
    const ProcessResult r = Orvik({"DELETE", key});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, Report("Error: Access is denied."));
    EXPECT_EQ(Query(key), tree);
    Ok({"UNLOAD", key});
    EXPECT_EQ(ReadFileBytes(File("tree.hiv")), file);
  }
  // The hive's subkeys still go one by one, and the file takes the change.
  Ok({"LOAD", "HKU\\Parts", "tree.hiv"});
  Ok({"DELETE", "HKU\\Parts\\Sub"});
  Ok({"DELETE", "HKU\\Parts\\Other"});
  Ok({"UNLOAD", "HKU\\Parts"});
  Ok({"LOAD", "HKU\\Again", "tree.hiv"});
  const std::string left = Query("HKU\\Again");
  EXPECT_EQ(left.find("HKEY_USERS\\again\\"), std::string::npos) << "no subkey is left";
  EXPECT_NE(left.find("count REG_DWORD"), std::string::npos) << "the root's values stay";
  Ok({"UNLOAD", "HKU\\Again"});
}

TEST_F(LoadTest, CorruptedFilesAreRefusedOrReadWithoutHarm) {
  MakeHive("tree.hiv");
  const std::string good = ReadFileBytes(File("tree.hiv"));
  // Bytes changed across the bins: each file is refused at LOAD, or loads
  // and then reads, exports and unloads like any hive.
  unsigned seed = 13;
  for (int i = 0; i < 24; ++i) {
    std::string bad = good;
    for (int j = 0; j < 4; ++j) {
      seed = seed * 1103515245u + 12345u;
      const size_t at = 4096 + (seed >> 8) % (good.size() - 4096);
      bad[at] = static_cast<char>(static_cast<unsigned char>(bad[at]) ^ (1u + (seed & 0x7Fu)));
    }
    const std::string name = "bad" + std::to_string(i) + ".hiv";
    WriteFileBytes(File(name), bad);
    const ProcessResult load = Orvik({"LOAD", "HKLM\\Bad", name});
    if (load.exit_code != 0) {
      EXPECT_EQ(load.exit_code, 1);
      EXPECT_EQ(load.out.rfind("\r\nError: ", 0), 0u) << load.out;
      EXPECT_EQ(Orvik({"QUERY", "HKLM\\Bad"}).exit_code, 1);
      continue;
    }
    EXPECT_EQ(Orvik({"QUERY", "HKLM\\Bad", "/s"}).exit_code, 0) << name;
    EXPECT_EQ(Orvik({"EXPORT", "HKLM\\Bad", name + ".reg"}).exit_code, 0) << name;
    Ok({"UNLOAD", "HKLM\\Bad"});
  }
}

TEST_F(LoadTest, UsersWithoutThePrivilegeAreRefused) {
  if (!CanRunUnprivileged()) GTEST_SKIP() << "needs root and setpriv";
  MakeHive("tree.hiv");
  chmod(File("tree.hiv").c_str(), 0644);
  Ok({"LOAD", "HKLM\\Loaded", "tree.hiv"});
  // A user who may read the registry but does not own it.
  ASSERT_EQ(system(("chmod -R a+rX '" + registry_.path() + "'").c_str()), 0);
  const std::string privilege = Report("Error: A required privilege is not held by the client.");
  ProcessResult r = Orvik({"LOAD", "HKLM\\Mine", "tree.hiv"}, true);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, privilege);
  r = Orvik({"UNLOAD", "HKLM\\Loaded"}, true);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, privilege);
  // The loaded hive is seen by that user's processes too.
  r = Orvik({"QUERY", "HKLM\\Loaded\\Sub", "/s"}, true);
  EXPECT_EQ(r.exit_code, 0) << r.out;
  EXPECT_NE(r.out.find("HKEY_LOCAL_MACHINE\\loaded\\sub\\deeper"), std::string::npos) << r.out;
  Ok({"UNLOAD", "HKLM\\Loaded"});
}

TEST_F(LoadTest, AStoreMadeBeforeHivesCouldBeLoadedTakesItsFirstHive) {
  MakeHive("tree.hiv");
  // The store as a version before loaded hives left it: without their tables.
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((registry_.path() + "/registry.db").c_str(), &db), SQLITE_OK);
  int keep_log = 1;  // as the store keeps it, for the reader below
  sqlite3_file_control(db, "main", SQLITE_FCNTL_PERSIST_WAL, &keep_log);
  EXPECT_EQ(sqlite3_exec(db, "DROP TABLE loaded_hives; DROP TABLE removed_hive_keys", nullptr,
                         nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(db);
  if (CanRunUnprivileged()) {
    ASSERT_EQ(system(("chmod -R a+rX '" + registry_.path() + "'").c_str()), 0);
    EXPECT_EQ(Orvik({"QUERY", "HKLM\\Software", "/s"}, true).exit_code, 0);
  }
  // A process that opened the store before the first load sees the hive,
  // and removes ordinary keys as before.
  setenv("ORVIK_REGISTRY", registry_.path().c_str(), 1);
  HKEY plain = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Plain", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &plain, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(plain);
  EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Plain"), ERROR_SUCCESS);
  Ok({"LOAD", "HKLM\\Served", "tree.hiv"});
  HKEY deeper = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Served\\Sub\\Deeper", 0, KEY_READ, &deeper),
            ERROR_SUCCESS);
  RegCloseKey(deeper);
  posix::CloseRegistryStore();
  unsetenv("ORVIK_REGISTRY");
  EXPECT_NE(Query("HKLM\\Served").find("HKEY_LOCAL_MACHINE\\served\\sub\\deeper"),
            std::string::npos);
  Ok({"UNLOAD", "HKLM\\Served"});
}

TEST_F(LoadTest, AHiveLoadedBeforeItsFileWasRecordedIsWrittenWhole) {
  MakeHive("tree.hiv");
  Ok({"LOAD", "HKLM\\Old", "tree.hiv"});
  // The table as a version before this one left it: without what LOAD found
  // of the file, which UNLOAD needs to write in place.
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((registry_.path() + "/registry.db").c_str(), &db), SQLITE_OK);
  int keep_log = 1;
  sqlite3_file_control(db, "main", SQLITE_FCNTL_PERSIST_WAL, &keep_log);
  EXPECT_EQ(sqlite3_exec(db,
                         "ALTER TABLE loaded_hives DROP COLUMN file_size; "
                         "ALTER TABLE loaded_hives DROP COLUMN file_changed; "
                         "ALTER TABLE loaded_hives DROP COLUMN copy_pages",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(db);
  struct stat before {};
  ASSERT_EQ(stat(File("tree.hiv").c_str(), &before), 0);
  Ok({"ADD", "HKLM\\Old", "/v", "Added", "/d", "whole"});
  const std::string changed = Query("HKLM\\Old");
  Ok({"UNLOAD", "HKLM\\Old"});
  struct stat after {};
  ASSERT_EQ(stat(File("tree.hiv").c_str(), &after), 0);
  EXPECT_NE(after.st_ino, before.st_ino);
  // The next LOAD gives the table its columns back, and its UNLOAD writes in
  // place.
  Ok({"LOAD", "HKLM\\Old", "tree.hiv"});
  EXPECT_EQ(Query("HKLM\\Old"), changed);
  Ok({"ADD", "HKLM\\Old", "/v", "Added", "/d", "in place"});
  const std::string again = Query("HKLM\\Old");
  Ok({"UNLOAD", "HKLM\\Old"});
  struct stat last {};
  ASSERT_EQ(stat(File("tree.hiv").c_str(), &last), 0);
  EXPECT_EQ(last.st_ino, after.st_ino);
  Ok({"LOAD", "HKLM\\Old", "tree.hiv"});
  EXPECT_EQ(Query("HKLM\\Old"), again);
  Ok({"UNLOAD", "HKLM\\Old"});
}

TEST_F(LoadTest, ARunKilledDuringAChangeLeavesTheHiveWhole) {
  // A hive of 2000 keys below one key, with a few values each, made in this
  // process.
  setenv("ORVIK_REGISTRY", registry_.path().c_str(), 1);
  posix::SetCommitPolicy(posix::CommitPolicy::kPerRun);
  for (int k = 0; k < 2000; ++k) {
    HKEY key = nullptr;
    const std::string path =
        "Software\\Big\\All\\G" + std::to_string(k / 40) + "\\K" + std::to_string(k);
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    for (int i = 0; i < 4; ++i) {
      const std::string data(40, static_cast<char>('a' + i));
      ASSERT_EQ(RegSetValueExA(key, ("v" + std::to_string(i)).c_str(), 0, REG_BINARY,
                               reinterpret_cast<const BYTE*>(data.data()),
                               static_cast<DWORD>(data.size())),
                ERROR_SUCCESS);
    }
    RegCloseKey(key);
  }
  posix::CloseRegistryStore();
  posix::SetCommitPolicy(posix::CommitPolicy::kPerCall);
  unsetenv("ORVIK_REGISTRY");
  Ok({"SAVE", "HKCU\\Software\\Big", "big.hiv"});
  Ok({"DELETE", "HKCU\\Software\\Big"});
  // Shorter delays until the kill lands before the removal of the tree
  // below the hive's key is done; each try on a fresh copy of the hive.
  bool killed = false;
  std::string file;
  for (int delay = 320; !killed && delay >= 5; delay /= 2) {
    if (!file.empty()) Ok({"UNLOAD", "HKLM\\Big"});
    file = "try" + std::to_string(delay) + ".hiv";
    WriteFileBytes(File(file), ReadFileBytes(File("big.hiv")));
    Ok({"LOAD", "HKLM\\Big", file});
    killed = KillOrvikAfter(registry_.path(), {"DELETE", "HKLM\\Big\\All"},
                            std::chrono::milliseconds(delay));
  }
  EXPECT_TRUE(killed) << "every removal ended before the kill";
  // What the registry shows of the hive after the kill is what UNLOAD writes.
  const std::string after_kill = Query("HKLM\\Big");
  Ok({"UNLOAD", "HKLM\\Big"});
  Ok({"LOAD", "HKLM\\Again", file});
  EXPECT_EQ(Listing(Query("HKLM\\Again"), "HKEY_LOCAL_MACHINE\\again", "HKEY_LOCAL_MACHINE\\big"),
            Listing(after_kill, "", ""));
  Ok({"UNLOAD", "HKLM\\Again"});
}

TEST_F(LoadTest, RealHivesLoadChangeAndUnload) {
  const std::vector<std::string> hives = views::UnpackRealHives(files_.path());
  if (hives.empty()) GTEST_SKIP() << "the real hives are not there";
  for (const std::string& name : hives) {
    SCOPED_TRACE(name);
    const std::string key = "HKLM\\Real";
    if (name == "corrupted_system_hive") {
      const ProcessResult r = Orvik({"LOAD", key, name});
      EXPECT_EQ(r.exit_code, 1);
      EXPECT_NE(r.out.find("Error: The registry is corrupted."), std::string::npos) << r.out;
      EXPECT_EQ(Orvik({"QUERY", key}).exit_code, 1);
      continue;
    }
    const std::string copy = name + ".original";
    WriteFileBytes(File(copy), ReadFileBytes(File(name)));
    Ok({"LOAD", key, name});
    EXPECT_EQ(Orvik({"QUERY", key, "/s"}).exit_code, 0);
    EXPECT_EQ(Orvik({"EXPORT", key, name + ".reg"}).exit_code, 0);
    Ok({"ADD", key + "\\OrvikTest", "/v", "Mark", "/d", "changed"});
    Ok({"UNLOAD", key});

    long error = 0;
    EXPECT_TRUE(OnlyTheChange(views::OurView(File(copy), {}, &error),
                              views::OurView(File(name), {}, &error)));
    EXPECT_EQ(error, 0);
    const views::ViewFields libregf{true, true, true, true};
    EXPECT_TRUE(OnlyTheChange(views::LibregfView(File(copy), libregf, &error),
                              views::LibregfView(File(name), libregf, &error)));
    EXPECT_EQ(error, 0);
    const views::ViewFields hivex{false, false, true, false};
    EXPECT_TRUE(OnlyTheChange(views::HivexView(File(copy), hivex, &error),
                              views::HivexView(File(name), hivex, &error)));
    EXPECT_EQ(error, 0);
    EXPECT_TRUE(OnlyTheChange(views::ReglookupView(File(copy), &error),
                              views::ReglookupView(File(name), &error)));
    EXPECT_EQ(error, 0);
  }
}

// Kills UNLOAD after a change at moments from its start to its end, of a
// real clean hive and of the dirty classes hive with its two logs: the files
// as the kill left them, loaded from a copy (a dirty hive through the replay
// of its logs), are the old tree or the changed one; a clean file is the
// changed one for an independent reader too; and UNLOAD, run again where the
// kill came before its commit, leaves the changed tree.
TEST_F(LoadTest, AKillDuringUnloadLeavesTheOldTreeOrTheNew) {
  const struct {
    const char* hive;
    std::function<bool(const std::string& folder)> unpack;
    int first_us, last_us, step_us;  // when its UNLOAD writes, on the machines we test on
  } cases[] = {
      {"NTUSER.DAT",
       [](const std::string& folder) {
         return system(("xz -dc '" + views::RealHivesFolder() + "/NTUSER.DAT.xz' > '" + folder +
                        "/NTUSER.DAT' 2>/dev/null")
                           .c_str()) == 0;
       },
       250, 7000, 250},
      {"UsrClass.dat",
       [](const std::string& folder) { return views::UnpackDirtySet("UsrClass", folder); }, 2000,
       40000, 1500},
  };
  const views::ViewFields hivex{false, false, false, false};
  int killed = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.hive);
    const std::string pristine = std::string(c.hive) + "-pristine";
    mkdir(File(pristine).c_str(), 0755);
    if (!c.unpack(File(pristine))) GTEST_SKIP() << "the hives are not there";
    Ok({"LOAD", "HKLM\\Hive", pristine + "/" + c.hive});
    const std::string old_tree = Listing(Query("HKLM\\Hive"), "", "");
    Ok({"UNLOAD", "HKLM\\Hive"});
    std::string new_tree;
    std::vector<std::string> new_view;
    for (int delay = c.first_us; delay <= c.last_us; delay += c.step_us) {
      SCOPED_TRACE(delay);
      const std::string name = std::string(c.hive) + "-" + std::to_string(delay);
      const std::string path = name + "/" + c.hive;
      ASSERT_EQ(system(("cp -a '" + File(pristine) + "' '" + File(name) + "'").c_str()), 0);
      Ok({"LOAD", "HKLM\\Hive", path});
      Ok({"ADD", "HKLM\\Hive\\OrvikTest", "/v", "Mark", "/d", "changed"});
      if (new_tree.empty()) new_tree = Listing(Query("HKLM\\Hive"), "", "");
      killed += KillOrvikAfter(registry_.path(), {"UNLOAD", "HKLM\\Hive"},
                               std::chrono::microseconds(delay));
      // The files as they are now, from a copy.
      ASSERT_EQ(system(("cp -a '" + File(name) + "' '" + File(name + ".look") + "'").c_str()), 0);
      Ok({"LOAD", "HKLM\\Look", name + ".look/" + c.hive});
      const std::string seen =
          Listing(Query("HKLM\\Look"), "HKEY_LOCAL_MACHINE\\look", "HKEY_LOCAL_MACHINE\\hive");
      EXPECT_TRUE(seen == old_tree || seen == new_tree) << seen;
      Ok({"UNLOAD", "HKLM\\Look"});
      const std::string bytes = ReadFileBytes(File(path));
      if (seen == new_tree &&
          !posix::hive::HiveIsDirty(reinterpret_cast<const uint8_t*>(bytes.data()))) {
        long error = 0;
        const auto view = views::HivexView(File(path), hivex, &error);
        EXPECT_EQ(error, 0);
        if (new_view.empty()) new_view = view;
        EXPECT_EQ(view, new_view);
      }
      // A run killed before its commit left the hive loaded; UNLOAD ends it.
      if (Orvik({"QUERY", "HKLM\\Hive"}).exit_code == 0) Ok({"UNLOAD", "HKLM\\Hive"});
      Ok({"LOAD", "HKLM\\Hive", path});
      EXPECT_EQ(Listing(Query("HKLM\\Hive"), "", ""), new_tree);
      Ok({"UNLOAD", "HKLM\\Hive"});
    }
  }
  EXPECT_GT(killed, 0) << "every unload ended before the kill";
}

}  // namespace
}  // namespace orvik::test
