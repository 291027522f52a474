// Keys and values changed in a hive image.
#include "platform/posix/hive/hive_patcher.h"

#include <algorithm>
#include <cstring>

#include "platform/posix/codepage.h"
#include "platform/posix/hive/hive_format.h"
#include "platform/posix/hive/hive_value_data.h"
#include "platform/posix/hive/hive_writer.h"
#include "platform/posix/key_path.h"

namespace orvik::posix::hive {

namespace {

constexpr LONG kCorrupt = ERROR_REGISTRY_CORRUPT;
// The low half of a key's largest subkey name field is the length; Windows
// keeps flags of its own in the high half.
constexpr uint32_t kNameLengthMask = 0xFFFF;

DataPlace PlaceOf(const ValueNode& value) {
  return DataPlace{value.size | (value.is_inline ? kDataInline : 0), value.data_word};
}

uint32_t NameLength(std::u16string_view name) { return static_cast<uint32_t>(name.size() * 2); }

}  // namespace

LONG HivePatcher::Open(HiveImage* image, std::unique_ptr<HivePatcher>* patcher) {
  std::unique_ptr<HivePatcher> opened(new HivePatcher(*image));
  if (LONG rc = opened->Open(); rc != ERROR_SUCCESS) return rc;
  *patcher = std::move(opened);
  return ERROR_SUCCESS;
}

LONG HivePatcher::Open() {
  if (LONG rc = HiveSpace::Open(&image_, &space_); rc != ERROR_SUCCESS) return rc;
  const uint8_t* base = image_.data();
  minor_ = Load32(base + kMinorVersionOffset);
  root_ = Load32(base + kRootCellOffset);
  KeyNode root;
  if (LONG rc = ReadKey(root_, &root); rc != ERROR_SUCCESS) return rc;
  security_ = std::make_unique<SecurityCells>(*space_, root.security);
  lists_ = std::make_unique<SubkeyList>(
      *space_, [this](uint32_t cell, std::u16string* name) { return KeyName(cell, name); });
  return ERROR_SUCCESS;
}

LONG HivePatcher::Reader(const HiveReader** reader) {
  if (reader_ == nullptr || reader_bins_ != space_->bins_size()) {
    reader_.reset();
    if (LONG rc =
            HiveReader::FromBytes(image_.data(), kBaseBlockSize + space_->bins_size(), &reader_);
        rc != ERROR_SUCCESS) {
      return rc == ERROR_NOT_REGISTRY_FILE ? kCorrupt : rc;
    }
    reader_bins_ = space_->bins_size();
  }
  *reader = reader_.get();
  return ERROR_SUCCESS;
}

LONG HivePatcher::ReadKey(uint32_t cell, KeyNode* key) {
  const HiveReader* reader = nullptr;
  if (LONG rc = Reader(&reader); rc != ERROR_SUCCESS) return rc;
  return reader->ReadKey(cell, key);
}

LONG HivePatcher::KeyName(uint32_t cell, std::u16string* name) {
  KeyNode key;
  if (LONG rc = ReadKey(cell, &key); rc != ERROR_SUCCESS) return rc;
  *name = std::move(key.name);
  return ERROR_SUCCESS;
}

LONG HivePatcher::ChangeKey(uint32_t cell, uint8_t** nk) {
  uint32_t size = 0;
  if (LONG rc = space_->Change(cell, kNkName, nk, &size); rc != ERROR_SUCCESS) return rc;
  return HasSignature(*nk, "nk") ? ERROR_SUCCESS : kCorrupt;
}

LONG HivePatcher::NewClass(std::u16string_view class_name, uint32_t* cell) {
  const size_t bytes = class_name.size() * 2;
  if (bytes > 0xFFFF) return ERROR_INVALID_PARAMETER;
  if (LONG rc = space_->Allocate(static_cast<uint32_t>(bytes), cell); rc != ERROR_SUCCESS) {
    return rc;
  }
  uint8_t* p = nullptr;
  uint32_t size = 0;
  if (LONG rc = space_->Change(*cell, static_cast<uint32_t>(bytes), &p, &size);
      rc != ERROR_SUCCESS) {
    return rc;
  }
  for (size_t i = 0; i < class_name.size(); ++i) Store16(p + 2 * i, class_name[i]);
  return ERROR_SUCCESS;
}

LONG HivePatcher::NewValue(const ValueContent& value, uint32_t* cell) {
  const uint32_t name_bytes = StoredNameSize(value.name);
  if (name_bytes > 0xFFFF) return ERROR_INVALID_PARAMETER;
  DataPlace placed;
  if (LONG rc = StoreValueData(*space_, minor_, value.data, nullptr, &placed);
      rc != ERROR_SUCCESS) {
    return rc;
  }
  if (LONG rc = space_->Allocate(kVkName + name_bytes, cell); rc != ERROR_SUCCESS) return rc;
  uint8_t* p = nullptr;
  uint32_t size = 0;
  if (LONG rc = space_->Change(*cell, kVkName + name_bytes, &p, &size); rc != ERROR_SUCCESS) {
    return rc;
  }
  std::memcpy(p, "vk", 2);
  Store16(p + kVkNameLength, static_cast<uint16_t>(name_bytes));
  Store32(p + kVkDataSize, placed.size_word);
  Store32(p + kVkData, placed.data_word);
  Store32(p + kVkType, value.type);
  Store16(p + kVkFlags, FitsCompressed(value.name) ? kValueCompressedName : 0);
  StoreName(p + kVkName, value.name);
  return ERROR_SUCCESS;
}

LONG HivePatcher::RenameValue(uint32_t* cell, std::u16string_view name) {
  const uint32_t name_bytes = StoredNameSize(name);
  if (name_bytes > 0xFFFF) return ERROR_INVALID_PARAMETER;
  const uint8_t* old = nullptr;
  uint32_t room = 0;
  if (LONG rc = space_->Read(*cell, kVkName, &old, &room); rc != ERROR_SUCCESS) return rc;
  uint32_t target = *cell;
  if (room < kVkName + name_bytes) {
    // The new name needs a larger cell: the value moves, its fields along.
    if (LONG rc = space_->Allocate(kVkName + name_bytes, &target); rc != ERROR_SUCCESS) return rc;
    if (LONG rc = space_->Read(*cell, kVkName, &old, &room); rc != ERROR_SUCCESS) return rc;
  }
  uint8_t* p = nullptr;
  if (LONG rc = space_->Change(target, kVkName + name_bytes, &p, &room); rc != ERROR_SUCCESS) {
    return rc;
  }
  if (target != *cell) std::memcpy(p, old, kVkName);
  const auto flags = static_cast<uint16_t>(Load16(p + kVkFlags) & ~kValueCompressedName);
  Store16(p + kVkFlags, FitsCompressed(name) ? flags | kValueCompressedName : flags);
  Store16(p + kVkNameLength, static_cast<uint16_t>(name_bytes));
  StoreName(p + kVkName, name);
  if (target != *cell) {
    if (LONG rc = space_->Free(*cell); rc != ERROR_SUCCESS) return rc;
    *cell = target;
  }
  return ERROR_SUCCESS;
}

LONG HivePatcher::FreeValue(uint32_t cell) {
  const HiveReader* reader = nullptr;
  if (LONG rc = Reader(&reader); rc != ERROR_SUCCESS) return rc;
  ValueNode value;
  if (LONG rc = reader->ReadValue(cell, &value); rc != ERROR_SUCCESS) return rc;
  if (LONG rc = FreeValueData(*space_, minor_, PlaceOf(value)); rc != ERROR_SUCCESS) return rc;
  return space_->Free(cell);
}

LONG HivePatcher::SetValues(const KeyNode& key, const std::vector<ValueContent>& values) {
  const HiveReader* reader = nullptr;
  if (LONG rc = Reader(&reader); rc != ERROR_SUCCESS) return rc;
  std::vector<uint32_t> cells;
  if (LONG rc = reader->ListValues(key, &cells); rc != ERROR_SUCCESS) return rc;
  struct Held {
    ValueNode node;
    std::u16string folded;
    bool kept = false;
  };
  std::vector<Held> held(cells.size());
  for (size_t i = 0; i < cells.size(); ++i) {
    if (LONG rc = reader->ReadValue(cells[i], &held[i].node); rc != ERROR_SUCCESS) return rc;
    held[i].folded = FoldName(held[i].node.name);
  }
  std::vector<uint32_t> list;
  list.reserve(values.size());
  uint32_t longest_name = 0;
  uint32_t largest_data = 0;
  std::string data;
  for (const ValueContent& value : values) {
    const std::u16string folded = FoldName(value.name);
    // The first value of that name; a second one (a file may hold twins)
    // goes with the values not kept.
    const auto match = std::find_if(held.begin(), held.end(), [&folded](const Held& h) {
      return !h.kept && h.folded == folded;
    });
    uint32_t cell = 0;
    bool written = true;
    if (match == held.end()) {
      if (LONG rc = NewValue(value, &cell); rc != ERROR_SUCCESS) return rc;
    } else {
      match->kept = true;
      cell = match->node.cell;
      if (match->node.name != value.name) {
        if (LONG rc = RenameValue(&cell, value.name); rc != ERROR_SUCCESS) return rc;
      }
      if (LONG rc = Reader(&reader); rc != ERROR_SUCCESS) return rc;
      if (LONG rc = reader->ReadValueData(match->node, &data); rc != ERROR_SUCCESS) return rc;
      written = match->node.type != value.type || data != value.data;
      if (written) {
        const DataPlace old = PlaceOf(match->node);
        DataPlace placed;
        if (LONG rc = StoreValueData(*space_, minor_, value.data, &old, &placed);
            rc != ERROR_SUCCESS) {
          return rc;
        }
        uint8_t* p = nullptr;
        uint32_t size = 0;
        if (LONG rc = space_->Change(cell, kVkName, &p, &size); rc != ERROR_SUCCESS) return rc;
        Store32(p + kVkDataSize, placed.size_word);
        Store32(p + kVkData, placed.data_word);
        Store32(p + kVkType, value.type);
      }
    }
    if (written) {
      longest_name = std::max(longest_name, NameLength(value.name));
      largest_data = std::max(largest_data, static_cast<uint32_t>(value.data.size()));
    }
    list.push_back(cell);
  }
  for (const Held& h : held) {
    if (h.kept) continue;
    if (LONG rc = FreeValue(h.node.cell); rc != ERROR_SUCCESS) return rc;
  }
  KeyNode now;
  if (LONG rc = ReadKey(key.cell, &now); rc != ERROR_SUCCESS) return rc;
  uint8_t* nk = nullptr;
  if (list != cells) {
    uint32_t list_cell = kNoCell;
    if (!list.empty()) {
      const auto bytes = static_cast<uint32_t>(list.size() * 4);
      const uint8_t* old = nullptr;
      uint32_t room = 0;
      // The list stays in its cell while it fits.
      if (now.value_count > 0 && space_->Read(now.value_list, 0, &old, &room) == ERROR_SUCCESS &&
          room >= bytes) {
        list_cell = now.value_list;
      } else if (LONG rc = space_->Allocate(bytes, &list_cell); rc != ERROR_SUCCESS) {
        return rc;
      }
      uint8_t* p = nullptr;
      if (LONG rc = space_->Change(list_cell, bytes, &p, &room); rc != ERROR_SUCCESS) return rc;
      for (size_t i = 0; i < list.size(); ++i) Store32(p + 4 * i, list[i]);
    }
    if (now.value_count > 0 && list_cell != now.value_list) {
      if (LONG rc = space_->Free(now.value_list); rc != ERROR_SUCCESS) return rc;
    }
    if (LONG rc = ChangeKey(key.cell, &nk); rc != ERROR_SUCCESS) return rc;
    Store32(nk + kNkValueCount, static_cast<uint32_t>(list.size()));
    Store32(nk + kNkValueList, list_cell);
  }
  // The largest sizes grow with what was written, and go when the values go.
  const uint8_t* read = nullptr;
  uint32_t size = 0;
  if (LONG rc = space_->Read(key.cell, kNkName, &read, &size); rc != ERROR_SUCCESS) return rc;
  const uint32_t name_field =
      list.empty() ? 0 : std::max(Load32(read + kNkMaxValueName), longest_name);
  const uint32_t data_field =
      list.empty() ? 0 : std::max(Load32(read + kNkMaxValueData), largest_data);
  if (name_field != Load32(read + kNkMaxValueName) ||
      data_field != Load32(read + kNkMaxValueData)) {
    if (LONG rc = ChangeKey(key.cell, &nk); rc != ERROR_SUCCESS) return rc;
    Store32(nk + kNkMaxValueName, name_field);
    Store32(nk + kNkMaxValueData, data_field);
  }
  return ERROR_SUCCESS;
}

LONG HivePatcher::UpdateKey(uint32_t cell, const KeyContent& key) {
  KeyNode node;
  if (LONG rc = ReadKey(cell, &node); rc != ERROR_SUCCESS) return rc;
  const HiveReader* reader = nullptr;
  if (LONG rc = Reader(&reader); rc != ERROR_SUCCESS) return rc;
  uint8_t* nk = nullptr;
  std::string descriptor;
  if (LONG rc = reader->ReadSecurity(node, &descriptor); rc != ERROR_SUCCESS) return rc;
  const std::string& wanted = key.security.empty() ? DefaultKeySecurity() : key.security;
  if (descriptor != wanted) {
    uint32_t security = 0;
    if (LONG rc = security_->Share(wanted, &security); rc != ERROR_SUCCESS) return rc;
    if (LONG rc = security_->Release(node.security); rc != ERROR_SUCCESS) return rc;
    if (LONG rc = ChangeKey(cell, &nk); rc != ERROR_SUCCESS) return rc;
    Store32(nk + kNkSecurity, security);
  }
  if (LONG rc = Reader(&reader); rc != ERROR_SUCCESS) return rc;
  std::u16string class_name;
  if (LONG rc = reader->ReadClass(node, &class_name); rc != ERROR_SUCCESS) return rc;
  if (class_name != key.class_name) {
    uint32_t class_cell = kNoCell;
    if (!key.class_name.empty()) {
      if (LONG rc = NewClass(key.class_name, &class_cell); rc != ERROR_SUCCESS) return rc;
    }
    if (node.class_length > 0) {
      if (LONG rc = space_->Free(node.class_cell); rc != ERROR_SUCCESS) return rc;
    }
    const uint32_t bytes = NameLength(key.class_name);
    if (LONG rc = ChangeKey(cell, &nk); rc != ERROR_SUCCESS) return rc;
    Store32(nk + kNkClass, class_cell);
    Store16(nk + kNkClassLength, static_cast<uint16_t>(bytes));
    if (cell != root_) {
      if (LONG rc = ChangeKey(node.parent, &nk); rc != ERROR_SUCCESS) return rc;
      if (Load32(nk + kNkMaxSubkeyClass) < bytes) Store32(nk + kNkMaxSubkeyClass, bytes);
    }
  }
  if (LONG rc = SetValues(node, key.values); rc != ERROR_SUCCESS) return rc;
  if (node.last_write != key.last_write) {
    if (LONG rc = ChangeKey(cell, &nk); rc != ERROR_SUCCESS) return rc;
    Store64(nk + kNkLastWrite, static_cast<uint64_t>(key.last_write));
  }
  return ERROR_SUCCESS;
}

LONG HivePatcher::AddKey(uint32_t parent, const KeyContent& key, uint32_t* cell) {
  if (key.name.empty() || key.name.size() > kMaxKeyNameLength ||
      key.name.find(u'\\') != std::u16string::npos) {
    return ERROR_INVALID_PARAMETER;
  }
  KeyNode parent_node;
  if (LONG rc = ReadKey(parent, &parent_node); rc != ERROR_SUCCESS) return rc;
  uint32_t security = 0;
  if (LONG rc =
          security_->Share(key.security.empty() ? DefaultKeySecurity() : key.security, &security);
      rc != ERROR_SUCCESS) {
    return rc;
  }
  uint32_t class_cell = kNoCell;
  if (!key.class_name.empty()) {
    if (LONG rc = NewClass(key.class_name, &class_cell); rc != ERROR_SUCCESS) return rc;
  }
  std::vector<uint32_t> values(key.values.size());
  uint32_t longest_name = 0;
  uint32_t largest_data = 0;
  for (size_t i = 0; i < values.size(); ++i) {
    if (LONG rc = NewValue(key.values[i], &values[i]); rc != ERROR_SUCCESS) return rc;
    longest_name = std::max(longest_name, NameLength(key.values[i].name));
    largest_data = std::max(largest_data, static_cast<uint32_t>(key.values[i].data.size()));
  }
  uint32_t value_list = kNoCell;
  uint8_t* p = nullptr;
  uint32_t size = 0;
  if (!values.empty()) {
    const auto bytes = static_cast<uint32_t>(values.size() * 4);
    if (LONG rc = space_->Allocate(bytes, &value_list); rc != ERROR_SUCCESS) return rc;
    if (LONG rc = space_->Change(value_list, bytes, &p, &size); rc != ERROR_SUCCESS) return rc;
    for (size_t i = 0; i < values.size(); ++i) Store32(p + 4 * i, values[i]);
  }
  const uint32_t name_bytes = StoredNameSize(key.name);
  if (LONG rc = space_->Allocate(kNkName + name_bytes, cell); rc != ERROR_SUCCESS) return rc;
  if (LONG rc = space_->Change(*cell, kNkName + name_bytes, &p, &size); rc != ERROR_SUCCESS) {
    return rc;
  }
  std::memcpy(p, "nk", 2);
  Store16(p + kNkFlags, FitsCompressed(key.name) ? kKeyCompressedName : 0);
  Store64(p + kNkLastWrite, static_cast<uint64_t>(key.last_write));
  Store32(p + kNkParent, parent);
  Store32(p + kNkSubkeyList, kNoCell);
  Store32(p + kNkVolatileSubkeyList, kNoCell);
  Store32(p + kNkValueCount, static_cast<uint32_t>(values.size()));
  Store32(p + kNkValueList, value_list);
  Store32(p + kNkSecurity, security);
  Store32(p + kNkClass, class_cell);
  Store32(p + kNkMaxValueName, longest_name);
  Store32(p + kNkMaxValueData, largest_data);
  Store16(p + kNkNameLength, static_cast<uint16_t>(name_bytes));
  Store16(p + kNkClassLength, static_cast<uint16_t>(NameLength(key.class_name)));
  StoreName(p + kNkName, key.name);
  // Into the parent's list, in its place.
  if (LONG rc = ReadKey(parent, &parent_node); rc != ERROR_SUCCESS) return rc;
  uint32_t list = parent_node.subkey_list;
  if (parent_node.subkey_count == UINT32_MAX) return kCorrupt;
  if (LONG rc =
          lists_->Insert(&list, parent_node.subkey_count, *cell, key.name, FirstLeafKind(minor_));
      rc != ERROR_SUCCESS) {
    return rc;
  }
  if (LONG rc = ChangeKey(parent, &p); rc != ERROR_SUCCESS) return rc;
  Store32(p + kNkSubkeyList, list);
  Store32(p + kNkSubkeyCount, parent_node.subkey_count + 1);
  const uint32_t names = Load32(p + kNkMaxSubkeyName);
  if ((names & kNameLengthMask) < NameLength(key.name)) {
    Store32(p + kNkMaxSubkeyName, (names & ~kNameLengthMask) | NameLength(key.name));
  }
  if (Load32(p + kNkMaxSubkeyClass) < NameLength(key.class_name)) {
    Store32(p + kNkMaxSubkeyClass, NameLength(key.class_name));
  }
  return ERROR_SUCCESS;
}

LONG HivePatcher::RemoveKey(uint32_t parent, uint32_t cell) {
  KeyNode parent_node;
  if (LONG rc = ReadKey(parent, &parent_node); rc != ERROR_SUCCESS) return rc;
  KeyNode node;
  if (LONG rc = ReadKey(cell, &node); rc != ERROR_SUCCESS) return rc;
  if (node.parent != parent || cell == root_) return kCorrupt;
  uint32_t list = parent_node.subkey_list;
  if (LONG rc = lists_->Remove(&list, parent_node.subkey_count, cell); rc != ERROR_SUCCESS) {
    return rc;
  }
  uint8_t* p = nullptr;
  if (LONG rc = ChangeKey(parent, &p); rc != ERROR_SUCCESS) return rc;
  const uint32_t count = parent_node.subkey_count - 1;
  Store32(p + kNkSubkeyList, list);
  Store32(p + kNkSubkeyCount, count);
  if (count == 0) {
    Store32(p + kNkMaxSubkeyName, Load32(p + kNkMaxSubkeyName) & ~kNameLengthMask);
    Store32(p + kNkMaxSubkeyClass, 0);
  }
  return FreeTree(cell);
}

LONG HivePatcher::FreeTree(uint32_t cell) {
  const HiveReader* reader = nullptr;
  std::vector<uint32_t> pending{cell};
  std::vector<uint32_t> children;
  std::vector<uint32_t> values;
  // Every key is freed when it is reached: a key reached again (a loop, a
  // key listed twice) is no key in use any more.
  while (!pending.empty()) {
    const uint32_t at = pending.back();
    pending.pop_back();
    KeyNode node;
    if (LONG rc = ReadKey(at, &node); rc != ERROR_SUCCESS) return rc;
    if (LONG rc = lists_->Release(node.subkey_list, node.subkey_count, &children);
        rc != ERROR_SUCCESS) {
      return rc;
    }
    pending.insert(pending.end(), children.begin(), children.end());
    if (LONG rc = Reader(&reader); rc != ERROR_SUCCESS) return rc;
    if (LONG rc = reader->ListValues(node, &values); rc != ERROR_SUCCESS) return rc;
    for (const uint32_t value : values) {
      if (LONG rc = FreeValue(value); rc != ERROR_SUCCESS) return rc;
    }
    if (node.value_count > 0) {
      if (LONG rc = space_->Free(node.value_list); rc != ERROR_SUCCESS) return rc;
    }
    if (node.class_length > 0) {
      if (LONG rc = space_->Free(node.class_cell); rc != ERROR_SUCCESS) return rc;
    }
    if (LONG rc = security_->Release(node.security); rc != ERROR_SUCCESS) return rc;
    if (LONG rc = space_->Free(at); rc != ERROR_SUCCESS) return rc;
  }
  return ERROR_SUCCESS;
}

LONG HivePatcher::Finish(int64_t timestamp) {
  uint8_t* base = image_.Change(0, kBaseBlockSize);
  Store64(base + kTimestampOffset, static_cast<uint64_t>(timestamp));
  Store32(base + kDataSizeOffset, space_->bins_size());
  Store32(base + kChecksumOffset, BaseBlockChecksum(base));
  return ERROR_SUCCESS;
}

}  // namespace orvik::posix::hive
