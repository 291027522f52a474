// End-to-end tests of dirty hives (the shared test data's sets, with their
// transaction logs): LOAD and RESTORE serve the tree the logs recover, as
// Windows recovered it; UNLOAD writes back a clean hive that the old logs
// can never be replayed over; damaged logs are refused with nothing left;
// and a kill at any moment of a dirty LOAD leaves the user's files as they
// were (kills during UNLOAD: load_test.cc).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "platform/posix/hive/hive_format.h"
#include "platform/posix/hive/hive_log.h"
#include "platform/posix/hive/hive_recovery.h"
#include "platform/posix/hive/hive_replay.h"
#include "platform/posix/hive/testing/dirty_sets.h"
#include "platform/posix/hive/testing/hive_views.h"
#include "tests/support/listings.h"
#include "tests/support/orvik_test.h"
#include "tests/support/process_runner.h"

namespace orvik::test {
namespace {

namespace views = orvik::posix::hive::test;
namespace hive = orvik::posix::hive;

const std::string kCorrupt =
    "Error: The registry is corrupted. The structure of one of the files containing registry data "
    "is corrupted, or the system's memory image of the file is corrupted, or the file could not "
    "be recovered because the alternate copy or log was absent or corrupted.";

// Every file of a folder, by name.
std::map<std::string, std::string> FolderFiles(const std::string& folder) {
  std::map<std::string, std::string> files;
  const std::string list = folder + "/.list";
  if (system(("ls -A '" + folder + "' > '" + list + "'").c_str()) != 0) return files;
  const std::string names = ReadFileBytes(list);
  for (size_t from = 0; from < names.size();) {
    const size_t end = names.find('\n', from);
    const std::string name = names.substr(from, end - from);
    if (name != ".list") files[name] = ReadFileBytes(folder + "/" + name);
    from = end + 1;
  }
  std::remove(list.c_str());
  return files;
}

// Listings compared line by line, the first difference shown.
::testing::AssertionResult SameListing(const std::string& expected, const std::string& actual) {
  auto lines = [](const std::string& text) {
    std::vector<std::string> out;
    for (size_t from = 0; from < text.size();) {
      const size_t end = std::min(text.find('\n', from), text.size());
      out.push_back(text.substr(from, end - from));
      from = end + 1;
    }
    return out;
  };
  return views::SameLines(lines(expected), lines(actual));
}

struct DirtySet {
  const char* set;
  const char* hive;
  const char* oracle;  // Windows' own recovery of it, when the data has one
};

const DirtySet kOld{"OldDirtyHive", "OldDirtyHive", "OldDirtyHive/RecoveredHive_Windows7"};
const DirtySet kNew{"NewDirtyHive1", "NewDirtyHive", "NewDirtyHive1/RecoveredHive_Windows10"};
const DirtySet kBadBase{"BadBaseBlockHive", "BadBaseBlockHive",
                        "OldDirtyHive/RecoveredHive_Windows7"};
const DirtySet kClasses{"UsrClass", "UsrClass.dat", nullptr};

class DirtyHiveTest : public OrvikTest {
 protected:
  // Unpacks `set` into a folder of the files folder (named as the set, or
  // `as`); false when the test data is not there.
  bool Unpack(const std::string& set, const std::string& as = "") {
    const std::string folder = File(as.empty() ? set : as);
    mkdir(folder.c_str(), 0755);
    return views::UnpackDirtySet(set, folder);
  }
  std::string Path(const DirtySet& d) const { return std::string(d.set) + "/" + d.hive; }
};

#define UNPACK_OR_SKIP(...)                                                    \
  do {                                                                         \
    if (!Unpack(__VA_ARGS__)) GTEST_SKIP() << "the dirty hives are not there"; \
  } while (false)

TEST_F(DirtyHiveTest, LoadAndRestoreServeTheTreeWindowsRecovered) {
  UNPACK_OR_SKIP("OldDirtyHive");
  for (const DirtySet& d : {kOld, kNew, kBadBase}) {
    SCOPED_TRACE(d.set);
    UNPACK_OR_SKIP(d.set);
    const auto before = FolderFiles(File(d.set));
    Ok({"LOAD", "HKLM\\Dirty", Path(d)});
    Ok({"LOAD", "HKLM\\Oracle", d.oracle});
    const std::string recovered = Listing(Query("HKLM\\Oracle"), "", "");
    ASSERT_FALSE(recovered.empty());
    EXPECT_EQ(
        Listing(Query("HKLM\\Dirty"), "HKEY_LOCAL_MACHINE\\dirty", "HKEY_LOCAL_MACHINE\\oracle"),
        recovered);
    Ok({"RESTORE", "HKCU\\Software\\Restored", Path(d)});
    EXPECT_TRUE(SameListing(
        recovered, Listing(Query("HKCU\\Software\\Restored"),
                           "HKEY_CURRENT_USER\\software\\restored", "HKEY_LOCAL_MACHINE\\oracle")));
    // Nothing changed: the dirty hive and its logs stay as they were, for
    // Windows to replay them itself.
    Ok({"UNLOAD", "HKLM\\Dirty"});
    Ok({"UNLOAD", "HKLM\\Oracle"});
    Ok({"DELETE", "HKCU\\Software\\Restored"});
    EXPECT_EQ(FolderFiles(File(d.set)), before);
  }
}

TEST_F(DirtyHiveTest, UnloadWritesTheRecoveredTreeWithTheChangeAndNoLogSpoilsIt) {
  for (const DirtySet& d : {kOld, kNew, kBadBase, kClasses}) {
    SCOPED_TRACE(d.set);
    UNPACK_OR_SKIP(d.set);
    UNPACK_OR_SKIP(d.set, std::string(d.set) + ".pristine");
    if (d.oracle != nullptr)
      UNPACK_OR_SKIP(std::string(d.oracle).substr(0, std::string(d.oracle).find('/')));
    Ok({"LOAD", "HKLM\\Dirty", Path(d)});
    // The recovered tree as orvik serves it, saved for the readers below.
    const std::string saved = std::string(d.set) + ".saved";
    Ok({"SAVE", "HKLM\\Dirty", saved});
    Ok({"ADD", "HKLM\\Dirty\\OrvikTest", "/v", "Mark", "/d", "changed"});
    const std::string changed = Listing(Query("HKLM\\Dirty"), "", "");
    Ok({"UNLOAD", "HKLM\\Dirty"});

    // Read without logs by every reader: the recovered tree and the change.
    const std::string file = File(Path(d));
    long error = 0;
    const views::ViewFields libregf{true, true, true, true};
    const views::ViewFields hivex{false, false, true, false};
    EXPECT_TRUE(OnlyTheChange(views::LibregfView(File(saved), libregf, &error),
                              views::LibregfView(file, libregf, &error)));
    EXPECT_EQ(error, 0);
    EXPECT_TRUE(OnlyTheChange(views::HivexView(File(saved), hivex, &error),
                              views::HivexView(file, hivex, &error)));
    EXPECT_EQ(error, 0);
    if (d.oracle != nullptr) {
      EXPECT_TRUE(OnlyTheChange(views::LibregfView(File(d.oracle), libregf, &error),
                                views::LibregfView(file, libregf, &error)));
    }
    // The file is clean, and its sequence number is above every one the
    // logs beside it hold: none of their entries continues it.
    const std::string written = ReadFileBytes(file);
    const auto* base = reinterpret_cast<const uint8_t*>(written.data());
    const uint32_t sequence = hive::Load32(base + hive::kPrimarySequenceOffset);
    EXPECT_EQ(hive::Load32(base + hive::kSecondarySequenceOffset), sequence);
    EXPECT_FALSE(hive::HiveIsDirty(base));
    for (const auto& [name, bytes] : FolderFiles(File(d.set))) {
      if (name.rfind(std::string(d.hive) + ".", 0) != 0) continue;
      hive::HiveLog log;
      if (hive::ReadHiveLog(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &log) !=
          ERROR_SUCCESS) {
        continue;
      }
      EXPECT_GT(sequence, log.sequence) << name;
      for (const hive::LogEntry& entry : log.entries) EXPECT_GT(sequence, entry.sequence) << name;
    }

    // The old logs put back beside it change nothing: the file is clean.
    for (const auto& [name, bytes] : FolderFiles(File(std::string(d.set) + ".pristine"))) {
      if (name != d.hive) WriteFileBytes(File(std::string(d.set) + "/" + name), bytes);
    }
    Ok({"LOAD", "HKLM\\Again", Path(d)});
    EXPECT_EQ(
        Listing(Query("HKLM\\Again"), "HKEY_LOCAL_MACHINE\\again", "HKEY_LOCAL_MACHINE\\dirty"),
        changed);
    Ok({"UNLOAD", "HKLM\\Again"});
    // Nor could they if it were ever marked dirty: its sequence number is
    // above every one they hold, so that none of their entries follows it.
    EXPECT_GT(sequence, hive::HighestSequence(File(std::string(d.set) + ".pristine/" + d.hive)));
  }
}

TEST_F(DirtyHiveTest, DamagedLogsAreRefusedWithNothingLeft) {
  Ok({"ADD", "HKCU\\Software\\Target", "/v", "Kept", "/d", "as it was"});
  const std::string target = Query("HKCU\\Software\\Target");
  const std::string hklm = Query("HKLM");
  for (const char* set : {"BadLogHive1", "BadLogHive2", "BadLogHive3", "TruncatedDirtyHive"}) {
    SCOPED_TRACE(set);
    UNPACK_OR_SKIP(set);
    const std::string path =
        std::string(set) + "/" + (std::string(set) == "TruncatedDirtyHive" ? set : "BadLogHive");
    const auto before = FolderFiles(File(set));
    ProcessResult r = Orvik({"LOAD", "HKLM\\Bad", path});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, Report(kCorrupt));
    r = Orvik({"RESTORE", "HKCU\\Software\\Target", path});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, Report(kCorrupt));
    EXPECT_EQ(FolderFiles(File(set)), before);
  }
  EXPECT_EQ(Query("HKLM"), hklm);
  EXPECT_EQ(Query("HKCU\\Software\\Target"), target);
  // No private copy is left in the registry's folder.
  for (const auto& [name, bytes] : FolderFiles(registry_.path())) {
    EXPECT_EQ(name.find("loaded-hive-"), std::string::npos) << name;
  }
}

TEST_F(DirtyHiveTest, LogsAreFoundWhateverTheirCaseAndWithoutThemThePrimaryLoads) {
  UNPACK_OR_SKIP("NewDirtyHive1");
  // The hive in capitals, its logs in small letters and mixed.
  ASSERT_EQ(system(("cd '" + File("NewDirtyHive1") +
                    "' && mv NewDirtyHive NEWDIRTYHIVE && mv NewDirtyHive.LOG1 newdirtyhive.log1 "
                    "&& mv NewDirtyHive.LOG2 NewDirtyHive.Log2")
                       .c_str()),
            0);
  Ok({"LOAD", "HKLM\\Found", "NewDirtyHive1/NEWDIRTYHIVE"});
  const std::string found = Query("HKLM\\Found");
  EXPECT_NE(found.find("found\\Key3\\Key3_3"), std::string::npos) << found;
  EXPECT_EQ(found.find("found\\Key1"), std::string::npos) << found;
  Ok({"UNLOAD", "HKLM\\Found"});
  // Without logs, the dirty primary is the best there is.
  ASSERT_EQ(system(("rm '" + File("NewDirtyHive1") + "'/*.[lL]og*").c_str()), 0);
  Ok({"LOAD", "HKLM\\Stale", "NewDirtyHive1/NEWDIRTYHIVE"});
  const std::string stale = Query("HKLM\\Stale");
  EXPECT_NE(stale.find("stale\\Key1"), std::string::npos) << stale;
  Ok({"UNLOAD", "HKLM\\Stale"});
}

// Kills LOAD of the classes hive after each of these delays (it takes about
// a tenth of a second).
const int kKillDelays[] = {1, 4, 9, 15, 22, 30, 40, 52, 65, 80, 100, 125, 160, 200, 260};

TEST_F(DirtyHiveTest, AKillDuringADirtyLoadLeavesTheFilesAndTheRegistryWhole) {
  UNPACK_OR_SKIP("UsrClass");
  const auto pristine = FolderFiles(File("UsrClass"));
  Ok({"LOAD", "HKLM\\Classes", "UsrClass/UsrClass.dat"});
  const std::string recovered = Listing(Query("HKLM\\Classes"), "", "");
  Ok({"UNLOAD", "HKLM\\Classes"});
  int killed = 0;
  for (const int delay : kKillDelays) {
    SCOPED_TRACE(delay);
    killed +=
        KillOrvikAfter(registry_.path(), {"LOAD", "HKLM\\Classes", File("UsrClass/UsrClass.dat")},
                       std::chrono::milliseconds(delay));
    // LOAD only reads the user's files.
    EXPECT_EQ(FolderFiles(File("UsrClass")), pristine);
    // The hive is loaded whole, or not at all.
    if (Orvik({"QUERY", "HKLM\\Classes"}).exit_code == 0) {
      EXPECT_TRUE(SameListing(recovered, Listing(Query("HKLM\\Classes"), "", "")));
      Ok({"UNLOAD", "HKLM\\Classes"});
    }
  }
  EXPECT_GT(killed, 0) << "every load ended before the kill";
}

}  // namespace
}  // namespace orvik::test
