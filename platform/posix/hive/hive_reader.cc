// The checked reader of hive files.
#include "platform/posix/hive/hive_reader.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/codepage.h"
#include "platform/posix/file_errors.h"
#include "platform/posix/hive/hive_format.h"

namespace orvik::posix::hive {

namespace {

constexpr LONG kCorrupt = ERROR_REGISTRY_CORRUPT;
// Subkey lists may nest one level: an index root over leaves.
constexpr int kMaxListDepth = 2;

// Into `name`, whose room is used again: reading keys one after another
// takes no allocation per name.
void DecodeName(const uint8_t* bytes, uint32_t length, bool compressed, std::u16string* name) {
  if (compressed) {
    name->resize(length);
    for (uint32_t i = 0; i < length; ++i) (*name)[i] = bytes[i];
  } else {
    name->resize(length / 2);
    for (uint32_t i = 0; i < length / 2; ++i) (*name)[i] = Load16(bytes + 2 * i);
  }
}

}  // namespace

LONG HiveReader::Open(const std::string& path, std::unique_ptr<HiveReader>* reader, bool whole) {
  // A pipe or device is refused below without waiting for a writer.
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return FileError(errno, path);
  struct stat info {};
  if (fstat(fd, &info) != 0) {
    const LONG rc = FileError(errno, path);
    close(fd);
    return rc;
  }
  const LONG rc = Map(fd, info, reader, whole);
  close(fd);
  return rc;
}

LONG HiveReader::Map(int fd, const struct stat& info, std::unique_ptr<HiveReader>* reader,
                     bool whole) {
  if (S_ISDIR(info.st_mode)) return ERROR_ACCESS_DENIED;
  if (!S_ISREG(info.st_mode) || info.st_size < static_cast<off_t>(kBaseBlockSize)) {
    return ERROR_NOT_REGISTRY_FILE;
  }
  const auto size = static_cast<size_t>(info.st_size);
  void* map = mmap(nullptr, size, PROT_READ, MAP_PRIVATE | (whole ? MAP_POPULATE : 0), fd, 0);
  if (map == MAP_FAILED) return ERROR_NOT_ENOUGH_MEMORY;
  std::unique_ptr<HiveReader> opened(new HiveReader);
  opened->data_ = static_cast<const uint8_t*>(map);
  opened->size_ = size;
  opened->mapped_ = true;
  if (const LONG rc = opened->Load(); rc != ERROR_SUCCESS) return rc;
  *reader = std::move(opened);
  return ERROR_SUCCESS;
}

LONG HiveReader::FromBytes(const uint8_t* data, size_t size, std::unique_ptr<HiveReader>* reader) {
  std::unique_ptr<HiveReader> opened(new HiveReader);
  opened->data_ = data;
  opened->size_ = size;
  if (const LONG rc = opened->Load(); rc != ERROR_SUCCESS) return rc;
  *reader = std::move(opened);
  return ERROR_SUCCESS;
}

HiveReader::~HiveReader() {
  if (mapped_) munmap(const_cast<uint8_t*>(data_), size_);
}

LONG HiveReader::Load() {
  if (size_ < kBaseBlockSize || !HasSignature(data_, "regf")) return ERROR_NOT_REGISTRY_FILE;
  const uint8_t* base = data_;
  if (Load32(base + kMajorVersionOffset) != kMajorVersion) return ERROR_NOT_REGISTRY_FILE;
  minor_version_ = Load32(base + kMinorVersionOffset);
  if (minor_version_ < 2 || minor_version_ > 6) return ERROR_NOT_REGISTRY_FILE;
  // A primary file in direct-memory-load form; logs and alternates are not hives.
  if (Load32(base + kFileTypeOffset) != 0 || Load32(base + kFileFormatOffset) != 1) {
    return ERROR_NOT_REGISTRY_FILE;
  }
  if (Load32(base + kChecksumOffset) != BaseBlockChecksum(base)) return kCorrupt;
  // Unequal sequence numbers mean the hive was saved while in use; what the
  // file holds is still read as it is, as Windows does without its logs.
  bins_size_ = Load32(base + kDataSizeOffset);
  if (bins_size_ == 0 || bins_size_ % kBinAlignment != 0 || bins_size_ > size_ - kBaseBlockSize) {
    return kCorrupt;
  }
  const uint8_t* bins = data_ + kBaseBlockSize;
  const size_t pages = bins_size_ / kBinAlignment;
  bin_end_.assign(pages, 0);
  bin_start_.assign(pages, 0);
  for (uint32_t offset = 0; offset < bins_size_;) {
    const uint8_t* bin = bins + offset;
    if (!HasSignature(bin, "hbin") || Load32(bin + kBinOffsetOffset) != offset) return kCorrupt;
    const uint32_t bin_size = Load32(bin + kBinSizeOffset);
    if (bin_size < kBinAlignment || bin_size % kBinAlignment != 0 ||
        bin_size > bins_size_ - offset) {
      return kCorrupt;
    }
    for (uint32_t page = offset / kBinAlignment; page < (offset + bin_size) / kBinAlignment;
         ++page) {
      bin_start_[page] = offset;
      bin_end_[page] = offset + bin_size;
    }
    offset += bin_size;
  }
  root_ = Load32(base + kRootCellOffset);
  KeyNode root;
  return ReadKey(root_, &root);
}

LONG HiveReader::Cell(uint32_t cell, uint32_t min_size, const uint8_t** payload,
                      uint32_t* size) const {
  if (cell >= bins_size_ || cell % kCellAlignment != 0) return kCorrupt;
  const uint32_t page = cell / kBinAlignment;
  const uint32_t start = bin_start_[page];
  const uint32_t end = bin_end_[page];
  if (cell < start + kBinHeaderSize || end - cell < 4) return kCorrupt;
  const uint8_t* p = data_ + kBaseBlockSize + cell;
  const auto raw = static_cast<int32_t>(Load32(p));
  // A cell in use has a negative size; one that counts its own size field.
  if (raw >= -4) return kCorrupt;
  const uint32_t cell_size = 0u - static_cast<uint32_t>(raw);
  if (cell_size > end - cell || cell_size - 4 < min_size) return kCorrupt;
  *payload = p + 4;
  *size = cell_size - 4;
  return ERROR_SUCCESS;
}

LONG HiveReader::ReadKey(uint32_t cell, KeyNode* key) const {
  const uint8_t* p = nullptr;
  uint32_t size = 0;
  if (LONG rc = Cell(cell, kNkName, &p, &size); rc != ERROR_SUCCESS) return rc;
  if (!HasSignature(p, "nk")) return kCorrupt;
  key->cell = cell;
  key->flags = Load16(p + kNkFlags);
  key->last_write = static_cast<int64_t>(Load64(p + kNkLastWrite));
  key->parent = Load32(p + kNkParent);
  key->subkey_count = Load32(p + kNkSubkeyCount);
  key->subkey_list = Load32(p + kNkSubkeyList);
  key->value_count = Load32(p + kNkValueCount);
  key->value_list = Load32(p + kNkValueList);
  key->security = Load32(p + kNkSecurity);
  key->class_cell = Load32(p + kNkClass);
  key->class_length = Load16(p + kNkClassLength);
  const uint16_t name_length = Load16(p + kNkNameLength);
  const bool compressed = (key->flags & kKeyCompressedName) != 0;
  if (name_length > size - kNkName || (!compressed && name_length % 2 != 0)) return kCorrupt;
  DecodeName(p + kNkName, name_length, compressed, &key->name);
  // A key's name is one path element: never empty, no backslash (the root's
  // name is not used).
  if (cell != root_) {
    if (key->name.empty() || key->name.find(u'\\') != std::u16string::npos) return kCorrupt;
  }
  if (key->subkey_count == 0) key->subkey_list = kNoCell;
  if (key->value_count == 0) key->value_list = kNoCell;
  if (key->class_length == 0) key->class_cell = kNoCell;
  return ERROR_SUCCESS;
}

template <typename Visit>
LONG HiveReader::WalkList(uint32_t list, uint32_t expected, Visit visit) const {
  uint32_t seen = 0;
  bool stop = false;
  auto walk = [&](auto&& self, uint32_t cell, int depth) -> LONG {
    const uint8_t* p = nullptr;
    uint32_t size = 0;
    if (LONG rc = Cell(cell, kListEntries, &p, &size); rc != ERROR_SUCCESS) return rc;
    const uint32_t count = Load16(p + kListCount);
    const bool index_root = HasSignature(p, "ri");
    uint32_t stride = 0;
    if (HasSignature(p, "lf") || HasSignature(p, "lh")) {
      stride = 8;
    } else if (HasSignature(p, "li") || index_root) {
      stride = 4;
    } else {
      return kCorrupt;
    }
    if (static_cast<uint64_t>(count) * stride > size - kListEntries) return kCorrupt;
    if (index_root && depth + 1 >= kMaxListDepth) return kCorrupt;
    for (uint32_t i = 0; i < count && !stop; ++i) {
      const uint32_t entry = Load32(p + kListEntries + i * stride);
      if (index_root) {
        if (LONG rc = self(self, entry, depth + 1); rc != ERROR_SUCCESS) return rc;
        continue;
      }
      if (++seen > expected) return kCorrupt;
      SubkeyEntry listed{entry, HasSignature(p, "lh"), 0, 0};
      if (listed.has_hash) {
        listed.hash_offset = static_cast<size_t>(p - data_) + kListEntries + i * 8 + 4;
        listed.hash = Load32(data_ + listed.hash_offset);
      }
      if (!visit(listed)) stop = true;
    }
    return ERROR_SUCCESS;
  };
  if (LONG rc = walk(walk, list, 0); rc != ERROR_SUCCESS) return rc;
  if (!stop && seen != expected) return kCorrupt;
  return ERROR_SUCCESS;
}

LONG HiveReader::ListSubkeys(const KeyNode& key, std::vector<uint32_t>* cells) const {
  cells->clear();
  if (key.subkey_count == 0) return ERROR_SUCCESS;
  // Each entry takes at least 4 bytes of a list: a larger count cannot be true.
  if (key.subkey_count > bins_size_ / 4) return kCorrupt;
  cells->reserve(key.subkey_count);
  return WalkList(key.subkey_list, key.subkey_count, [&](const SubkeyEntry& entry) {
    cells->push_back(entry.cell);
    return true;
  });
}

LONG HiveReader::ListSubkeyEntries(const KeyNode& key, std::vector<SubkeyEntry>* entries) const {
  entries->clear();
  if (key.subkey_count == 0) return ERROR_SUCCESS;
  if (key.subkey_count > bins_size_ / 4) return kCorrupt;
  entries->reserve(key.subkey_count);
  return WalkList(key.subkey_list, key.subkey_count, [&](const SubkeyEntry& entry) {
    entries->push_back(entry);
    return true;
  });
}

LONG HiveReader::FindSubkey(const KeyNode& key, std::u16string_view name, uint32_t* cell) const {
  if (key.subkey_count == 0) return ERROR_FILE_NOT_FOUND;
  if (key.subkey_count > bins_size_ / 4) return kCorrupt;
  const uint32_t hash = NameHash(name);
  LONG inner = ERROR_SUCCESS;
  bool found = false;
  const LONG rc = WalkList(key.subkey_list, key.subkey_count, [&](const SubkeyEntry& entry) {
    if (entry.has_hash && entry.hash != hash) return true;
    KeyNode node;
    if (inner = ReadKey(entry.cell, &node); inner != ERROR_SUCCESS) return false;
    if (CompareFoldedNames(node.name, name) != 0) return true;
    *cell = entry.cell;
    found = true;
    return false;
  });
  if (rc != ERROR_SUCCESS) return rc;
  if (inner != ERROR_SUCCESS) return inner;
  return found ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

LONG HiveReader::ReadClass(const KeyNode& key, std::u16string* class_name) const {
  class_name->clear();
  if (key.class_length == 0) return ERROR_SUCCESS;
  if (key.class_length % 2 != 0) return kCorrupt;
  const uint8_t* p = nullptr;
  uint32_t size = 0;
  if (LONG rc = Cell(key.class_cell, key.class_length, &p, &size); rc != ERROR_SUCCESS) return rc;
  DecodeName(p, key.class_length, false, class_name);
  return ERROR_SUCCESS;
}

LONG HiveReader::ReadSecurity(const KeyNode& key, std::string* descriptor) const {
  const uint8_t* p = nullptr;
  uint32_t size = 0;
  if (LONG rc = Cell(key.security, kSkDescriptor, &p, &size); rc != ERROR_SUCCESS) return rc;
  if (!HasSignature(p, "sk")) return kCorrupt;
  const uint32_t length = Load32(p + kSkSize);
  // A self-relative descriptor: revision 1, the self-relative flag, and at
  // least its 20-byte header.
  if (length > size - kSkDescriptor || length < 20) return kCorrupt;
  const uint8_t* sd = p + kSkDescriptor;
  if (sd[0] != 1 || (Load16(sd + 2) & 0x8000) == 0) return kCorrupt;
  descriptor->assign(reinterpret_cast<const char*>(sd), length);
  return ERROR_SUCCESS;
}

LONG HiveReader::ListValues(const KeyNode& key, std::vector<uint32_t>* cells) const {
  cells->clear();
  if (key.value_count == 0) return ERROR_SUCCESS;
  if (key.value_count > bins_size_ / 4) return kCorrupt;
  const uint8_t* p = nullptr;
  uint32_t size = 0;
  if (LONG rc = Cell(key.value_list, key.value_count * 4, &p, &size); rc != ERROR_SUCCESS) {
    return rc;
  }
  cells->resize(key.value_count);
  for (uint32_t i = 0; i < key.value_count; ++i) (*cells)[i] = Load32(p + 4 * i);
  return ERROR_SUCCESS;
}

LONG HiveReader::ReadValue(uint32_t cell, ValueNode* value) const {
  const uint8_t* p = nullptr;
  uint32_t size = 0;
  if (LONG rc = Cell(cell, kVkName, &p, &size); rc != ERROR_SUCCESS) return rc;
  if (!HasSignature(p, "vk")) return kCorrupt;
  value->cell = cell;
  const uint16_t name_length = Load16(p + kVkNameLength);
  const bool compressed = (Load16(p + kVkFlags) & kValueCompressedName) != 0;
  if (name_length > size - kVkName || (!compressed && name_length % 2 != 0)) return kCorrupt;
  DecodeName(p + kVkName, name_length, compressed, &value->name);
  const uint32_t data_size = Load32(p + kVkDataSize);
  value->is_inline = (data_size & kDataInline) != 0;
  value->size = data_size & ~kDataInline;
  value->data_word = Load32(p + kVkData);
  value->type = Load32(p + kVkType);
  if (value->is_inline && value->size > kMaxInlineData) return kCorrupt;
  return ERROR_SUCCESS;
}

template <typename Sink>
LONG HiveReader::VisitValueData(const ValueNode& value, Sink sink) const {
  if (value.size == 0) return ERROR_SUCCESS;
  if (value.is_inline) {
    uint8_t bytes[4];
    Store32(bytes, value.data_word);
    sink(bytes, value.size);
    return ERROR_SUCCESS;
  }
  if (value.size > bins_size_) return kCorrupt;
  const uint8_t* p = nullptr;
  uint32_t size = 0;
  if (minor_version_ >= 4 && value.size > kBigDataThreshold) {
    if (LONG rc = Cell(value.data_word, kDbSize, &p, &size); rc != ERROR_SUCCESS) return rc;
    if (!HasSignature(p, "db")) return kCorrupt;
    const uint32_t count = Load16(p + kDbCount);
    if (static_cast<uint64_t>(count) * kBigDataThreshold < value.size) return kCorrupt;
    const uint8_t* list = nullptr;
    uint32_t list_size = 0;
    if (LONG rc = Cell(Load32(p + kDbList), count * 4, &list, &list_size); rc != ERROR_SUCCESS) {
      return rc;
    }
    uint32_t done = 0;
    for (uint32_t i = 0; i < count && done < value.size; ++i) {
      const uint32_t want = std::min<uint32_t>(kBigDataThreshold, value.size - done);
      const uint8_t* segment = nullptr;
      uint32_t segment_size = 0;
      if (LONG rc = Cell(Load32(list + 4 * i), want, &segment, &segment_size);
          rc != ERROR_SUCCESS) {
        return rc;
      }
      sink(segment, want);
      done += want;
    }
    return done == value.size ? ERROR_SUCCESS : kCorrupt;
  }
  if (LONG rc = Cell(value.data_word, value.size, &p, &size); rc != ERROR_SUCCESS) return rc;
  sink(p, value.size);
  return ERROR_SUCCESS;
}

LONG HiveReader::ReadValueData(const ValueNode& value, std::string* data) const {
  data->clear();
  data->reserve(value.size <= bins_size_ ? value.size : 0);
  return VisitValueData(value, [data](const uint8_t* bytes, size_t size) {
    data->append(reinterpret_cast<const char*>(bytes), size);
  });
}

LONG HiveReader::CheckValueData(const ValueNode& value) const {
  return VisitValueData(value, [](const uint8_t*, size_t) {});
}

}  // namespace orvik::posix::hive
