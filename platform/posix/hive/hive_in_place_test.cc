// Writing a hive in place through its log, from hives clean and dirty, with
// and without logs: a crash at any moment (every step done up to a point,
// and any part of the next step's writes on the disk) leaves files that LOAD
// recovers as the old tree until the dirty base block is on the disk, and as
// the new one from then on; once done, the file is clean, reads as the new
// tree without its logs, and no log beside it ever applies.
#include "platform/posix/hive/hive_in_place.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/posix/hive/hive_file_diff.h"
#include "platform/posix/hive/hive_format.h"
#include "platform/posix/hive/hive_image.h"
#include "platform/posix/hive/hive_log_format.h"
#include "platform/posix/hive/hive_patcher.h"
#include "platform/posix/hive/hive_recovery.h"
#include "platform/posix/hive/hive_replay.h"
#include "platform/posix/hive/hive_writer.h"
#include "platform/posix/hive/testing/hive_views.h"
#include "platform/posix/hive/testing/log_builder.h"
#include "platform/posix/hive/testing/strict_check.h"
#include "tests/support/process_runner.h"

namespace orvik::posix::hive {
namespace {

using orvik::test::ReadFileBytes;
using orvik::test::TempDir;
using orvik::test::WriteFileBytes;

// The files of a folder by name: the hive "h" and its logs.
using Files = std::map<std::string, std::string>;

const test::ViewFields kFields{true, true, true, false};
constexpr uint64_t kPrimaryTime = 131500000000000000;

// A small tree, and the same with one more key: what a log recovers it to.
std::string Tree(bool with_key_from_log) {
  HiveWriter w;
  w.BeginKey({u"ROOT", u"", "", 5});
  w.AddValue(u"kept", 1, std::string("k\0e\0p\0t\0\0\0", 10));
  w.AddValue(u"big", 3, std::string(30000, 'b'));
  for (const char16_t* name : {u"one", u"two", u"three"}) {
    w.BeginKey({name, u"", "", 6});
    w.AddValue(u"v", 4, "1234");
    w.EndKey();
  }
  if (with_key_from_log) {
    w.BeginKey({u"FromLog", u"", "", 7});
    w.AddValue(u"w", 3, std::string(5000, 'w'));
    w.EndKey();
  }
  w.EndKey();
  EXPECT_EQ(w.Finish(u"h", static_cast<int64_t>(kPrimaryTime)), ERROR_SUCCESS);
  return w.Bytes();
}

std::string Dirty(std::string hive, uint32_t primary, uint32_t secondary) {
  test::SetSequences(&hive, primary, secondary);
  return hive;
}

// The target's bins as new-format entries (seq, seq + 1), split in two.
std::pair<std::string, std::string> NewLogsFor(const std::string& primary,
                                               const std::string& target, uint32_t seq) {
  const std::string bins = test::Bins(target);
  const auto size = static_cast<uint32_t>(bins.size());
  const uint32_t half = size / 2 / kBinAlignment * kBinAlignment;
  test::EntrySpec first{seq, size, {{0, bins.substr(0, half)}}};
  test::EntrySpec second{seq + 1, size, {{half, bins.substr(half)}}};
  return {test::NewFormatLog(primary, seq, {first}),
          test::NewFormatLog(primary, seq + 1, {second})};
}

struct Start {
  const char* what;
  std::function<Files()> files;
};

const Start kStarts[] = {
    {"a clean hive without logs",
     [] {
       return Files{{"h", Tree(false)}};
     }},
    {"a clean hive beside stale logs of both formats",
     [] {
       const std::string hive = Tree(false);
       // An entry numbered above the hive's own, and an old-format log made
       // for its time: neither applies to a clean hive, nor may they later.
       test::EntrySpec stale{
           40,
           Load32(reinterpret_cast<const uint8_t*>(hive.data()) + kDataSizeOffset),
           {{0, std::string(kBinAlignment, 'x')}}};
       std::vector<uint32_t> all;
       for (uint32_t page = 0; page < test::Bins(hive).size() / 512; ++page) all.push_back(page);
       return Files{{"h", hive},
                    {"h.LOG1", test::NewFormatLog(hive, 40, {stale})},
                    {"h.LOG", test::OldFormatLog(Tree(true), kPrimaryTime, 3, all)}};
     }},
    {"a dirty hive whose two new-format logs recover it",
     [] {
       const std::string primary = Dirty(Tree(false), 10, 9);
       const auto [log1, log2] = NewLogsFor(primary, Tree(true), 9);
       return Files{{"h", primary}, {"h.LOG1", log1}, {"h.LOG2", log2}};
     }},
    {"a dirty hive whose old-format LOG1 recovers it",
     [] {
       const std::string primary = Dirty(Tree(false), 10, 9);
       const std::string target = Tree(true);
       std::vector<uint32_t> all;
       for (uint32_t page = 0; page < test::Bins(target).size() / 512; ++page) all.push_back(page);
       return Files{{"h", primary}, {"h.LOG1", test::OldFormatLog(target, kPrimaryTime, 9, all)}};
     }},
    {"a dirty hive without logs",
     [] {
       return Files{{"h", Dirty(Tree(false), 10, 9)}};
     }},
};

void WriteFolder(const std::string& folder, const Files& files) {
  system(("rm -rf '" + folder + "'").c_str());
  mkdir(folder.c_str(), 0700);
  for (const auto& [name, bytes] : files) WriteFileBytes(folder + "/" + name, bytes);
}

// The hive as LOAD recovers it, and changed: one key added, one removed,
// values of the root changed. What the file's logs recover (for a dirty
// one), the changed image and the pages where it may differ from the file.
struct Changed {
  std::string recovered;  // the recovered hive's bytes
  RecoveredState state;   // pointing into `recovered`
  std::unique_ptr<HiveImage> image;
  std::vector<uint32_t> candidates;
};

std::unique_ptr<Changed> Change(const std::string& path) {
  auto changed = std::make_unique<Changed>();
  RecoveredHive recovered;
  EXPECT_EQ(OpenRecoveredHive(path, &recovered), ERROR_SUCCESS);
  changed->recovered = ReadFileBytes(path);
  if (recovered.replayed != nullptr) {
    changed->recovered.assign(reinterpret_cast<const char*>(recovered.replayed->data()),
                              recovered.replayed->size());
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    HiveRecovery recovery;
    EXPECT_EQ(recovery.Prepare(fd, path), ERROR_SUCCESS);
    changed->candidates = ReplayedPages(recovery.replay());
    close(fd);
  }
  const auto* bytes = reinterpret_cast<const uint8_t*>(changed->recovered.data());
  std::memcpy(changed->state.base_block.data(), bytes, kBaseBlockSize);
  for (const uint32_t page : changed->candidates) {
    changed->state.pages.push_back(
        {page * kBinAlignment, kBinAlignment, bytes + kBaseBlockSize + page * kBinAlignment});
  }
  EXPECT_EQ(HiveImage::FromBytes(changed->recovered, &changed->image), ERROR_SUCCESS);
  std::unique_ptr<HivePatcher> patcher;
  EXPECT_EQ(HivePatcher::Open(changed->image.get(), &patcher), ERROR_SUCCESS);
  uint32_t cell = 0;
  EXPECT_EQ(patcher->AddKey(patcher->root(), {u"Added", u"", "", 8, {{u"x", 3, "xxxxxx"}}}, &cell),
            ERROR_SUCCESS);
  std::unique_ptr<HiveReader> reader;
  EXPECT_EQ(HiveReader::FromBytes(changed->image->data(), changed->image->size(), &reader),
            ERROR_SUCCESS);
  KeyNode root;
  EXPECT_EQ(reader->ReadKey(reader->root(), &root), ERROR_SUCCESS);
  uint32_t two = 0;
  EXPECT_EQ(reader->FindSubkey(root, u"two", &two), ERROR_SUCCESS);
  EXPECT_EQ(patcher->RemoveKey(patcher->root(), two), ERROR_SUCCESS);
  EXPECT_EQ(patcher->UpdateKey(patcher->root(),
                               {u"", u"", "", 9, {{u"kept", 1, "changed"}, {u"big", 3, "small"}}}),
            ERROR_SUCCESS);
  EXPECT_EQ(patcher->Finish(132000000000000000), ERROR_SUCCESS);
  const std::vector<uint32_t> pages = changed->image->ChangedPages();
  changed->candidates.insert(changed->candidates.end(), pages.begin(), pages.end());
  return changed;
}

// One write of a step, which reaches the disk whole or not at all.
struct Unit {
  std::string file;
  uint64_t offset = 0;
  std::string bytes;
  bool truncate = false;  // the file's length becomes offset
};

std::vector<Unit> PageUnits(const std::vector<LogPages>& pages) {
  std::vector<Unit> units;
  for (const LogPages& run : pages) {
    for (uint32_t at = 0; at < run.size; at += kBinAlignment) {
      units.push_back({"h", kBaseBlockSize + run.offset + at,
                       std::string(reinterpret_cast<const char*>(run.bytes) + at, kBinAlignment)});
    }
  }
  return units;
}

// The units of each step of the plan, in the order they go out: the log's
// sectors and its end, then the hive's base block and pages.
std::vector<std::vector<Unit>> Steps(const InPlaceWrite& plan) {
  std::vector<std::vector<Unit>> steps;
  for (const std::vector<FileWrite>& step : InPlaceSteps(plan)) {
    std::vector<Unit>& units = steps.emplace_back();
    for (const FileWrite& write : step) {
      const std::string bytes(reinterpret_cast<const char*>(write.bytes), write.size);
      const size_t unit = write.to_log ? kLogSectorSize : kBinAlignment;
      for (size_t at = 0; at < bytes.size(); at += unit) {
        units.push_back(
            {write.to_log ? plan.log_name : "h", write.offset + at, bytes.substr(at, unit)});
      }
      if (write.to_log) units.push_back({plan.log_name, write.offset + bytes.size(), "", true});
    }
  }
  return steps;
}

void Apply(const Unit& unit, Files* files) {
  std::string& file = (*files)[unit.file];
  if (unit.truncate) {
    file.resize(unit.offset);
    return;
  }
  if (file.size() < unit.offset + unit.bytes.size()) file.resize(unit.offset + unit.bytes.size());
  file.replace(unit.offset, unit.bytes.size(), unit.bytes);
}

// Which writes of a step in progress reached the disk.
const std::vector<std::function<bool(size_t, size_t)>> kParts = {
    [](size_t, size_t) { return false; },          [](size_t i, size_t n) { return i < n / 2; },
    [](size_t i, size_t n) { return i >= n / 2; }, [](size_t i, size_t) { return i % 2 == 0; },
    [](size_t i, size_t) { return i % 2 == 1; },   [](size_t, size_t) { return true; },
};

TEST(HiveInPlaceTest, ACrashAnywhereLeavesTheOldTreeOrTheNew) {
  TempDir temp;
  for (const Start& start : kStarts) {
    SCOPED_TRACE(start.what);
    const Files before = start.files();
    const std::string folder = temp.File("before");
    WriteFolder(folder, before);
    long error = 0;
    const auto old_tree = test::RecoveredView(folder + "/h", kFields, &error);
    ASSERT_EQ(error, 0);
    const std::unique_ptr<Changed> changed = Change(folder + "/h");
    const uint32_t bins = Load32(changed->image->data() + kDataSizeOffset);
    WriteFileBytes(
        temp.File("new"),
        std::string(reinterpret_cast<const char*>(changed->image->data()), kBaseBlockSize + bins));
    const auto new_tree = test::OurView(temp.File("new"), kFields, &error);
    ASSERT_EQ(error, 0);
    ASSERT_NE(new_tree, old_tree);

    HiveFile file;
    file.directory = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    file.fd = open((folder + "/h").c_str(), O_RDWR | O_CLOEXEC);
    file.name = "h";
    // A dirty file's own recovery first, for real; its writes: the pages,
    // then the base block.
    std::vector<std::vector<Unit>> steps;
    const bool dirty = HiveIsDirty(reinterpret_cast<const uint8_t*>(before.at("h").data()));
    ASSERT_EQ(RecoverInPlace(file, changed->state), ERROR_SUCCESS);
    if (dirty) {
      steps.push_back(PageUnits(changed->state.pages));
      steps.push_back({{"h", 0, ReadFileBytes(folder + "/h").substr(0, kBaseBlockSize)}});
    } else {
      EXPECT_EQ(ReadFileBytes(folder + "/h"), before.at("h"));
    }
    HiveChanges changes;
    ASSERT_EQ(DiffWithFile(*changed->image, file.fd, changed->candidates, &changes), ERROR_SUCCESS);
    InPlaceWrite plan;
    ASSERT_EQ(PlanInPlaceWrite(file, changes, &plan), ERROR_SUCCESS);
    const size_t marking = steps.size() + 1;  // the step that marks the file dirty
    for (auto& step : Steps(plan)) steps.push_back(std::move(step));

    Files done = before;
    for (size_t step = 0; step < steps.size(); ++step) {
      // A log that is made is there, empty, from its step's start.
      if (step + 4 == steps.size() && plan.log_made) done[plan.log_name] = "";
      for (const auto& part : kParts) {
        Files state = done;
        for (size_t i = 0; i < steps[step].size(); ++i) {
          if (part(i, steps[step].size())) Apply(steps[step][i], &state);
        }
        const bool marked = step > marking || (step == marking && part(0, 1));
        SCOPED_TRACE("step " + std::to_string(step + 1) + " of " + std::to_string(steps.size()));
        WriteFolder(temp.File("crash"), state);
        const auto seen = test::RecoveredView(temp.File("crash/h"), kFields, &error);
        EXPECT_EQ(error, 0);
        EXPECT_TRUE(test::SameLines(marked ? new_tree : old_tree, seen));
      }
      for (const Unit& unit : steps[step]) Apply(unit, &done);
    }

    // Done for real: the file is clean and holds the new tree by itself.
    ASSERT_EQ(ExecuteInPlaceWrite(file, plan), ERROR_SUCCESS);
    close(file.fd);
    close(file.directory);
    EXPECT_EQ(ReadFileBytes(folder + "/h"), done["h"]);
    EXPECT_TRUE(test::SameLines(new_tree, test::OurView(folder + "/h", kFields, &error)));
    const std::string written = ReadFileBytes(folder + "/h");
    EXPECT_FALSE(HiveIsDirty(reinterpret_cast<const uint8_t*>(written.data())));
    if (const auto findings = test::StrictFindings(folder + "/h")) {
      EXPECT_EQ(*findings, std::vector<std::string>{});
    }
    // The logs of before put back beside it change nothing, nor do ours.
    for (const auto& [name, bytes] : before) {
      if (name != "h") WriteFileBytes(folder + "/" + name, bytes);
    }
    EXPECT_TRUE(test::SameLines(new_tree, test::RecoveredView(folder + "/h", kFields, &error)));
  }
}

}  // namespace
}  // namespace orvik::posix::hive
