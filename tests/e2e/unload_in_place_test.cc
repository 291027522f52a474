// End-to-end tests of UNLOAD writing a changed hive back in place: a table
// of changes made to the real hives and the dirty sets of the shared test
// data, each hive loaded twice and changed alike; one copy unloaded in
// place, the other (its file touched since LOAD) written whole as before.
// Both read as the same tree by our reader, hivex, libregf and reglookup;
// the copy written in place differs from the hive it was (as LOAD recovered
// it) in a few bins and the base block only, keeps the hive's version and
// passes the strict checker; its file keeps its inode, owner and mode, and
// the log it wrote beside it takes them too.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/posix/codepage.h"
#include "platform/posix/hive/hive_format.h"
#include "platform/posix/hive/hive_reader.h"
#include "platform/posix/hive/hive_recovery.h"
#include "platform/posix/hive/testing/dirty_sets.h"
#include "platform/posix/hive/testing/hive_views.h"
#include "platform/posix/hive/testing/strict_check.h"
#include "tests/support/orvik_test.h"
#include "tests/support/process_runner.h"

namespace orvik::test {
namespace {

namespace views = orvik::posix::hive::test;
namespace hive = orvik::posix::hive;

// The hive's bytes as LOAD recovers it (a dirty one through its logs).
std::string Recovered(const std::string& path) {
  hive::RecoveredHive recovered;
  if (hive::OpenRecoveredHive(path, &recovered) != ERROR_SUCCESS) return "";
  if (recovered.replayed == nullptr) return ReadFileBytes(path);
  return std::string(reinterpret_cast<const char*>(recovered.replayed->data()),
                     recovered.replayed->size());
}

// A name that passes the command line as it is.
bool Plain(const std::u16string& name) {
  return !name.empty() && std::all_of(name.begin(), name.end(), [](char16_t c) {
    return c > u' ' && c < 0x7F && c != u'\\' && c != u'/' && c != u'"';
  });
}

// What of a hive the changes are made to, by paths below its root.
struct Targets {
  // Three values of plain names (on the first key that has one, and on the
  // keys after it when it has fewer): changed, grown, removed.
  std::vector<std::pair<std::string, std::string>> values;
  std::string tree;  // a key with subkeys, whose tree is removed
  std::string many;  // the key with the most subkeys
  uint32_t most = 0;
};

// Whether the key at `path` is the key at `top` or lies below it.
bool Within(const std::string& path, const std::string& top) {
  return path == top || path.rfind(top + "\\", 0) == 0;
}

Targets FindTargets(const std::string& bytes) {
  Targets found;
  std::unique_ptr<hive::HiveReader> reader;
  if (hive::HiveReader::FromBytes(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(),
                                  &reader) != ERROR_SUCCESS) {
    return found;
  }
  struct Key {
    uint32_t cell;
    std::string path;
    int depth;
    uint32_t subkeys = 0;
  };
  std::vector<Key> keys{{reader->root(), "", 0}};
  for (size_t at = 0; at < keys.size(); ++at) {
    hive::KeyNode node;
    if (reader->ReadKey(keys[at].cell, &node) != ERROR_SUCCESS) continue;
    const Key key = keys[at];
    std::vector<uint32_t> children;
    reader->ListSubkeys(node, &children);
    keys[at].subkeys = static_cast<uint32_t>(children.size());
    if (key.depth > 0 && children.size() > found.most) {
      found.most = static_cast<uint32_t>(children.size());
      found.many = key.path;
    }
    std::vector<uint32_t> cells;
    reader->ListValues(node, &cells);
    for (const uint32_t cell : cells) {
      hive::ValueNode value;
      if (key.depth > 0 && found.values.size() < 3 &&
          reader->ReadValue(cell, &value) == ERROR_SUCCESS &&
          (value.name.empty() || Plain(value.name))) {
        found.values.emplace_back(key.path, posix::WideToUtf8(value.name));
      }
    }
    if (key.depth >= 6) continue;
    for (const uint32_t child : children) {
      hive::KeyNode child_node;
      if (reader->ReadKey(child, &child_node) == ERROR_SUCCESS && Plain(child_node.name)) {
        keys.push_back(
            {child, key.path + "\\" + posix::WideToUtf8(child_node.name), key.depth + 1});
      }
    }
  }
  // The tree removed: a key with a small tree of its own (else a key without
  // subkeys) that holds none of the other targets.
  auto apart = [&found](const Key& key) {
    if (key.depth == 0 || Within(found.many, key.path)) return false;
    return std::none_of(found.values.begin(), found.values.end(),
                        [&key](const auto& value) { return Within(value.first, key.path); });
  };
  for (const bool with_subkeys : {true, false}) {
    for (const Key& key : keys) {
      if (found.tree.empty() && apart(key) && (key.subkeys > 0) == with_subkeys &&
          key.subkeys < 20) {
        found.tree = key.path;
      }
    }
  }
  return found;
}

std::string Hex(size_t bytes) {
  std::string hex;
  for (size_t i = 0; i < bytes; ++i) hex += "5A";
  return hex;
}

// The arguments that name a value: "/ve" for the unnamed one.
std::vector<std::string> Named(const std::string& name) {
  if (name.empty()) return {"/ve"};
  return {"/v", name};
}

std::vector<std::string> Join(std::vector<std::vector<std::string>> parts) {
  std::vector<std::string> all;
  for (auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// The table of changes, made under `key` (as far as the hive has values to
// change, grow and remove).
std::vector<std::vector<std::string>> Changes(const std::string& key, const Targets& t) {
  const auto& [changed_key, changed] = t.values[0];
  std::vector<std::vector<std::string>> changes = {
      // a value added
      {"ADD", key + changed_key, "/v", "OrvikAdded", "/d", "added", "/f"},
      // a value changed
      Join({{"ADD", key + changed_key}, Named(changed), {"/d", "changed", "/f"}}),
      // a key added with values
      {"ADD", key + changed_key + "\\OrvikNew", "/v", "a", "/d", "x", "/f"},
      {"ADD", key + changed_key + "\\OrvikNew", "/v", "b", "/t", "REG_DWORD", "/d", "5", "/f"},
      // a key tree removed
      {"DELETE", key + t.tree, "/f"},
      // a key added among the most subkeys
      {"ADD", key + t.many + "\\OrvikMany", "/v", "m", "/d", "many", "/f"},
  };
  if (t.values.size() > 1) {
    // a value grown past what one cell holds (big data from format 1.4)
    const auto& [grown_key, grown] = t.values[1];
    changes.push_back(Join(
        {{"ADD", key + grown_key}, Named(grown), {"/t", "REG_BINARY", "/d", Hex(20000), "/f"}}));
  }
  if (t.values.size() > 2) {
    // a value removed
    const auto& [removed_key, removed] = t.values[2];
    changes.push_back(Join({{"DELETE", key + removed_key}, Named(removed), {"/f"}}));
  }
  return changes;
}

// Every cell a hive's tree uses (keys, class names, descriptors, value
// lists, values, data, big data, subkey lists), read from its bytes here.
std::set<uint32_t> UsedCells(const std::string& bytes) {
  const auto* d = reinterpret_cast<const uint8_t*>(bytes.data());
  const uint32_t bins = hive::Load32(d + hive::kDataSizeOffset);
  const uint32_t minor = hive::Load32(d + hive::kMinorVersionOffset);
  auto at = [&](uint32_t cell) { return d + hive::kBaseBlockSize + cell + 4; };
  auto ok = [&](uint32_t cell) { return cell < bins; };
  std::set<uint32_t> used;
  std::vector<uint32_t> keys{hive::Load32(d + hive::kRootCellOffset)};
  while (!keys.empty()) {
    const uint32_t key = keys.back();
    keys.pop_back();
    if (!ok(key) || !used.insert(key).second) continue;
    const uint8_t* nk = at(key);
    used.insert(hive::Load32(nk + hive::kNkSecurity));
    if (hive::Load16(nk + hive::kNkClassLength) > 0) used.insert(hive::Load32(nk + hive::kNkClass));
    const uint32_t values = hive::Load32(nk + hive::kNkValueCount);
    const uint32_t value_list = hive::Load32(nk + hive::kNkValueList);
    if (values > 0 && ok(value_list)) {
      used.insert(value_list);
      for (uint32_t i = 0; i < values; ++i) {
        const uint32_t vk = hive::Load32(at(value_list) + 4 * i);
        if (!ok(vk)) continue;
        used.insert(vk);
        const uint32_t size = hive::Load32(at(vk) + hive::kVkDataSize);
        const uint32_t data = hive::Load32(at(vk) + hive::kVkData);
        if ((size & hive::kDataInline) != 0 || size == 0 || !ok(data)) continue;
        used.insert(data);
        if (minor >= 4 && size > hive::kBigDataThreshold) {
          const uint32_t list = hive::Load32(at(data) + hive::kDbList);
          used.insert(list);
          for (uint32_t s = 0; s < hive::Load16(at(data) + hive::kDbCount); ++s) {
            used.insert(hive::Load32(at(list) + 4 * s));
          }
        }
      }
    }
    const uint32_t list = hive::Load32(nk + hive::kNkSubkeyList);
    if (hive::Load32(nk + hive::kNkSubkeyCount) == 0 || !ok(list)) continue;
    std::vector<uint32_t> leaves{list};
    used.insert(list);
    if (hive::HasSignature(at(list), "ri")) {
      leaves.clear();
      for (uint32_t i = 0; i < hive::Load16(at(list) + hive::kListCount); ++i) {
        leaves.push_back(hive::Load32(at(list) + hive::kListEntries + 4 * i));
        used.insert(leaves.back());
      }
    }
    for (const uint32_t leaf : leaves) {
      const uint32_t stride = hive::HasSignature(at(leaf), "li") ? 4 : 8;
      for (uint32_t i = 0; i < hive::Load16(at(leaf) + hive::kListCount); ++i) {
        keys.push_back(hive::Load32(at(leaf) + hive::kListEntries + stride * i));
      }
    }
  }
  return used;
}

// The bins of `before` that differ in `after` and hold no cell the change
// made, freed or wrote over: a cell the tree of one uses and the other not,
// or one whose bytes differ.
std::vector<uint32_t> BinsChangedForNothing(const std::string& before, const std::string& after) {
  const std::set<uint32_t> old_cells = UsedCells(before);
  const std::set<uint32_t> new_cells = UsedCells(after);
  auto cell_size = [](const std::string& bytes, uint32_t cell) {
    const auto raw = static_cast<int32_t>(
        hive::Load32(reinterpret_cast<const uint8_t*>(bytes.data()) + hive::kBaseBlockSize + cell));
    return raw < 0 ? 0u - static_cast<uint32_t>(raw) : static_cast<uint32_t>(raw);
  };
  std::set<uint32_t> changed;
  for (const uint32_t cell : old_cells) {
    const uint32_t size = cell_size(before, cell);
    if (new_cells.count(cell) == 0 || before.compare(hive::kBaseBlockSize + cell, size, after,
                                                     hive::kBaseBlockSize + cell, size) != 0) {
      changed.insert(cell);
    }
  }
  for (const uint32_t cell : new_cells) {
    if (old_cells.count(cell) == 0) changed.insert(cell);
  }
  const auto* b = reinterpret_cast<const uint8_t*>(before.data());
  const uint32_t bins = hive::Load32(b + hive::kDataSizeOffset);
  std::vector<uint32_t> offending;
  for (uint32_t offset = 0; offset < bins;) {
    const uint32_t size = hive::Load32(b + hive::kBaseBlockSize + offset + hive::kBinSizeOffset);
    if (after.compare(hive::kBaseBlockSize + offset, size, before, hive::kBaseBlockSize + offset,
                      size) != 0) {
      const auto first = changed.lower_bound(offset);
      if (first == changed.end() || *first >= offset + size) offending.push_back(offset);
    }
    offset += size;
  }
  return offending;
}

// reglookup's lines without the keys' times: each copy's changes were made
// at times of their own.
std::vector<std::string> WithoutTimes(std::vector<std::string> lines) {
  for (std::string& line : lines) {
    if (line.rfind("K|", 0) == 0) line.resize(line.rfind('|'));
  }
  return lines;
}

class UnloadInPlaceTest : public OrvikTest {};

TEST_F(UnloadInPlaceTest, ChangesWrittenInPlaceReadAsTheWholeFileWritesThem) {
  struct Hive {
    std::string folder;
    std::string name;
  };
  std::vector<Hive> hives;
  mkdir(File("real").c_str(), 0755);
  for (const std::string& name : views::UnpackRealHives(File("real"))) {
    if (name != "corrupted_system_hive") hives.push_back({"real", name});
  }
  for (const auto& [set, name] :
       std::vector<std::pair<std::string, std::string>>{{"OldDirtyHive", "OldDirtyHive"},
                                                        {"NewDirtyHive1", "NewDirtyHive"},
                                                        {"UsrClass", "UsrClass.dat"}}) {
    mkdir(File(set).c_str(), 0755);
    if (views::UnpackDirtySet(set, File(set))) hives.push_back({set, name});
  }
  if (hives.empty()) GTEST_SKIP() << "the hives are not there";
  const views::ViewFields ours{true, true, false, false};
  const views::ViewFields libregf{true, true, false, true};
  const views::ViewFields hivex{false, false, false, false};
  for (const Hive& h : hives) {
    SCOPED_TRACE(h.name);
    // Two copies of the folder (a dirty hive's logs with it).
    for (const char* copy : {"patched", "whole"}) {
      const std::string to = File(h.folder + "." + copy);
      ASSERT_EQ(
          system(("rm -rf '" + to + "' && cp -a '" + File(h.folder) + "' '" + to + "'").c_str()),
          0);
    }
    const std::string patched = h.folder + ".patched/" + h.name;
    const std::string whole = h.folder + ".whole/" + h.name;
    const std::string original = Recovered(File(patched));
    ASSERT_FALSE(original.empty());
    const Targets targets = FindTargets(original);
    ASSERT_FALSE(targets.values.empty());
    ASSERT_FALSE(targets.tree.empty());
    Ok({"LOAD", "HKLM\\Patched", patched});
    Ok({"LOAD", "HKLM\\Whole", whole});
    for (const char* key : {"HKLM\\Patched", "HKLM\\Whole"}) {
      for (const auto& change : Changes(key, targets)) Ok(change);
    }
    // A file whose status changed since LOAD is written whole, as before.
    ASSERT_EQ(chmod(File(whole).c_str(), 0600), 0);
    struct stat before {};
    ASSERT_EQ(stat(File(patched).c_str(), &before), 0);
    Ok({"UNLOAD", "HKLM\\Patched"});
    Ok({"UNLOAD", "HKLM\\Whole"});
    struct stat after {};
    ASSERT_EQ(stat(File(patched).c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    struct stat whole_after {};
    ASSERT_EQ(stat(File(whole).c_str(), &whole_after), 0);
    EXPECT_NE(whole_after.st_ino, before.st_ino);

    long error = 0;
    EXPECT_TRUE(views::SameLines(views::OurView(File(whole), ours, &error),
                                 views::OurView(File(patched), ours, &error)));
    EXPECT_TRUE(views::SameLines(views::HivexView(File(whole), hivex, &error),
                                 views::HivexView(File(patched), hivex, &error)));
    EXPECT_TRUE(views::SameLines(views::LibregfView(File(whole), libregf, &error),
                                 views::LibregfView(File(patched), libregf, &error)));
    EXPECT_EQ(error, 0);
    EXPECT_TRUE(views::SameLines(WithoutTimes(views::ReglookupView(File(whole), &error)),
                                 WithoutTimes(views::ReglookupView(File(patched), &error))));
    EXPECT_EQ(error, 0);
    if (const auto findings = views::StrictFindings(File(patched))) {
      EXPECT_EQ(*findings, std::vector<std::string>{});
    }

    // What did not change kept its bytes: the bins that differ hold what
    // the changes made, freed or wrote over; the version is the hive's, and
    // the base block's fields but its time, size, sequence numbers and
    // checksum are as they were.
    const std::string written = ReadFileBytes(File(patched));
    EXPECT_EQ(BinsChangedForNothing(original, written), std::vector<uint32_t>{});
    EXPECT_EQ(
        written.compare(hive::kMajorVersionOffset, 16, original, hive::kMajorVersionOffset, 16), 0);
    EXPECT_EQ(
        written.compare(hive::kClusteringOffset, hive::kChecksumOffset - hive::kClusteringOffset,
                        original, hive::kClusteringOffset,
                        hive::kChecksumOffset - hive::kClusteringOffset),
        0);
  }
}

TEST_F(UnloadInPlaceTest, TheFileKeepsItsOwnerAndModeAndItsLogTakesThem) {
  const std::vector<std::string> hives = views::UnpackRealHives(files_.path());
  if (std::find(hives.begin(), hives.end(), "SAM") == hives.end()) {
    GTEST_SKIP() << "the hives are not there";
  }
  ASSERT_EQ(chmod(File("SAM").c_str(), 0640), 0);
  // Root's UNLOAD keeps another user's hive theirs.
  if (geteuid() == 0) {
    ASSERT_EQ(chown(File("SAM").c_str(), 65534, 65534), 0);
  }
  struct stat before {};
  ASSERT_EQ(stat(File("SAM").c_str(), &before), 0);
  Ok({"LOAD", "HKLM\\Sam", "SAM"});
  Ok({"ADD", "HKLM\\Sam\\OrvikTest", "/v", "Mark", "/d", "changed"});
  Ok({"UNLOAD", "HKLM\\Sam"});
  struct stat after {};
  ASSERT_EQ(stat(File("SAM").c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_uid, before.st_uid);
  EXPECT_EQ(after.st_gid, before.st_gid);
  EXPECT_EQ(after.st_mode, before.st_mode);
  struct stat log {};
  ASSERT_EQ(stat(File("SAM.LOG1").c_str(), &log), 0);
  EXPECT_EQ(log.st_uid, before.st_uid);
  EXPECT_EQ(log.st_gid, before.st_gid);
  EXPECT_EQ(log.st_mode & 07777, 0640u);
}

}  // namespace
}  // namespace orvik::test
