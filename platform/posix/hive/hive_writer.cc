// The one-pass hive writer.
#include "platform/posix/hive/hive_writer.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>

#include "platform/posix/codepage.h"
#include "platform/posix/hive/hive_format.h"

namespace orvik::posix::hive {

namespace {

// Cell offsets stay below 2 GiB, as Windows keeps them.
constexpr uint64_t kMaxBinsSize = 0x7FFFF000;

uint32_t Align(uint64_t size, uint32_t alignment) {
  return static_cast<uint32_t>((size + alignment - 1) / alignment * alignment);
}

void AppendSid(std::string& out, uint32_t authority, std::initializer_list<uint32_t> parts) {
  out.push_back(1);
  out.push_back(static_cast<char>(parts.size()));
  for (int i = 0; i < 5; ++i) out.push_back(0);
  out.push_back(static_cast<char>(authority));
  for (const uint32_t part : parts) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(part >> (8 * i)));
  }
}

void Put16(std::string& out, size_t at, uint32_t v) {
  Store16(reinterpret_cast<uint8_t*>(out.data() + at), static_cast<uint16_t>(v));
}
void Put32(std::string& out, size_t at, uint32_t v) {
  Store32(reinterpret_cast<uint8_t*>(out.data() + at), v);
}

std::string BuildDefaultSecurity() {
  constexpr uint32_t kNtAuthority = 5;
  std::string sd(20, '\0');
  sd[0] = 1;             // revision
  Put16(sd, 2, 0x8004);  // self-relative, DACL present
  auto ace = [&sd](uint32_t mask, std::initializer_list<uint32_t> sid) {
    const size_t start = sd.size();
    sd.append(8, '\0');
    sd[start] = 0;      // access allowed
    sd[start + 1] = 2;  // inherited by subkeys
    Put32(sd, start + 4, mask);
    AppendSid(sd, kNtAuthority, sid);
    Put16(sd, start + 2, static_cast<uint32_t>(sd.size() - start));
  };
  const size_t dacl = sd.size();
  sd.append(8, '\0');
  sd[dacl] = 2;  // ACL revision
  ace(KEY_ALL_ACCESS, {18});
  ace(KEY_ALL_ACCESS, {32, 544});
  ace(KEY_READ, {32, 545});
  Put16(sd, dacl + 2, static_cast<uint32_t>(sd.size() - dacl));
  Put16(sd, dacl + 4, 3);
  const size_t owner = sd.size();
  AppendSid(sd, kNtAuthority, {32, 544});
  const size_t group = sd.size();
  AppendSid(sd, kNtAuthority, {18});
  Put32(sd, 4, static_cast<uint32_t>(owner));
  Put32(sd, 8, static_cast<uint32_t>(group));
  Put32(sd, 16, static_cast<uint32_t>(dacl));
  return sd;
}

}  // namespace

const std::string& DefaultKeySecurity() {
  static const std::string security = BuildDefaultSecurity();
  return security;
}

HiveWriter::HiveWriter() = default;

HiveWriter::HiveWriter(int fd) : fd_(fd) {}

namespace {

LONG WriteAt(int fd, const uint8_t* p, size_t n, uint64_t offset) {
  while (n > 0) {
    const ssize_t done = pwrite(fd, p, n, static_cast<off_t>(offset));
    if (done < 0) {
      if (errno == EINTR) continue;
      return errno == ENOSPC || errno == EDQUOT ? ERROR_DISK_FULL : ERROR_WRITE_FAULT;
    }
    p += done;
    n -= static_cast<size_t>(done);
    offset += static_cast<uint64_t>(done);
  }
  return ERROR_SUCCESS;
}

}  // namespace

LONG HiveWriter::Fail(LONG rc) {
  if (error_ == ERROR_SUCCESS) error_ = rc;
  return error_;
}

void HiveWriter::CloseBin() {
  if (bins_.empty() || bins_.back().empty() || last_closed_) return;
  std::vector<uint8_t>& bin = bins_.back();
  const auto rest = static_cast<uint32_t>(bin.size()) - used_;
  if (rest > 0) Store32(bin.data() + used_, rest);  // one free cell to the end
  used_ = static_cast<uint32_t>(bin.size());
  last_closed_ = true;
  // Closed bins go out together, a few hundred per write.
  if (fd_ >= 0 && bins_size_ - bin_offset_[unwritten_] >= kWriteBatch) WriteClosedBins();
}

void HiveWriter::WriteClosedBins() {
  const size_t end = last_closed_ ? bins_.size() : bins_.size() - 1;
  if (unwritten_ >= end) return;
  std::vector<uint8_t> batch;
  batch.reserve(bins_size_ - bin_offset_[unwritten_]);
  for (size_t i = unwritten_; i < end; ++i) {
    batch.insert(batch.end(), bins_[i].begin(), bins_[i].end());
    std::vector<uint8_t>().swap(bins_[i]);
  }
  const uint64_t offset = kBaseBlockSize + bin_offset_[unwritten_];
  if (LONG rc = WriteAt(fd_, batch.data(), batch.size(), offset); rc != ERROR_SUCCESS) {
    Fail(rc);
  }
  // The batch goes to the disk while the next is laid out, so that the
  // caller's sync at the end has little left to wait for.
  sync_file_range(fd_, static_cast<off_t>(offset), static_cast<off_t>(batch.size()),
                  SYNC_FILE_RANGE_WRITE);
  unwritten_ = end;
}

void HiveWriter::Patch(uint32_t offset, const uint8_t* bytes, size_t size) {
  const uint32_t bin = bin_of_page_[offset / kBinAlignment];
  if (!bins_[bin].empty()) {
    std::memcpy(bins_[bin].data() + (offset - bin_offset_[bin]), bytes, size);
  } else if (LONG rc = WriteAt(fd_, bytes, size, kBaseBlockSize + offset); rc != ERROR_SUCCESS) {
    Fail(rc);
  }
}

LONG HiveWriter::Allocate(uint64_t payload, uint32_t* cell) {
  if (error_ != ERROR_SUCCESS) return error_;
  if (payload >= kMaxBinsSize) return Fail(ERROR_NOT_ENOUGH_MEMORY);
  const uint64_t size = Align(payload + 4, kCellAlignment);
  // A new bin when the last is full, or already written out.
  if (bins_.empty() || last_closed_ || bins_.back().size() - used_ < size) {
    CloseBin();
    const uint32_t bin_size = Align(size + kBinHeaderSize, kBinAlignment);
    if (static_cast<uint64_t>(bins_size_) + bin_size > kMaxBinsSize) {
      return Fail(ERROR_NOT_ENOUGH_MEMORY);
    }
    std::vector<uint8_t> bin(bin_size, 0);
    std::memcpy(bin.data(), "hbin", 4);
    Store32(bin.data() + kBinOffsetOffset, bins_size_);
    Store32(bin.data() + kBinSizeOffset, bin_size);
    bin_offset_.push_back(bins_size_);
    bin_of_page_.insert(bin_of_page_.end(), bin_size / kBinAlignment,
                        static_cast<uint32_t>(bins_.size()));
    bins_.push_back(std::move(bin));
    bins_size_ += bin_size;
    used_ = kBinHeaderSize;
    last_closed_ = false;
  }
  *cell = bin_offset_.back() + used_;
  Store32(bins_.back().data() + used_, 0u - static_cast<uint32_t>(size));
  used_ += static_cast<uint32_t>(size);
  return ERROR_SUCCESS;
}

uint8_t* HiveWriter::At(uint32_t cell) {
  const uint32_t bin = bin_of_page_[cell / kBinAlignment];
  return bins_[bin].data() + (cell - bin_offset_[bin]) + 4;
}

LONG HiveWriter::BeginKey(const KeyRecord& key) {
  if (error_ != ERROR_SUCCESS) return error_;
  if (done_ || (open_.empty() && !bins_.empty())) return Fail(ERROR_INVALID_PARAMETER);
  const uint32_t name_bytes = StoredNameSize(key.name);
  const size_t class_bytes = key.class_name.size() * 2;
  if (name_bytes > 0xFFFF || class_bytes > 0xFFFF) return Fail(ERROR_INVALID_PARAMETER);
  // The cells the key refers to come first, so that its own cell is written
  // whole while its bin is still being filled.
  uint32_t class_cell = kNoCell;
  if (class_bytes > 0) {
    if (LONG rc = Allocate(class_bytes, &class_cell); rc != ERROR_SUCCESS) return rc;
    uint8_t* c = At(class_cell);
    for (size_t i = 0; i < key.class_name.size(); ++i) Store16(c + 2 * i, key.class_name[i]);
  }
  const std::string& descriptor = key.security.empty() ? DefaultKeySecurity() : key.security;
  Security& security = security_[descriptor];
  if (security.references == 0) {
    if (LONG rc = Allocate(kSkDescriptor + descriptor.size(), &security.cell);
        rc != ERROR_SUCCESS) {
      return rc;
    }
    uint8_t* s = At(security.cell);
    std::memcpy(s, "sk", 2);
    Store32(s + kSkSize, static_cast<uint32_t>(descriptor.size()));
    std::memcpy(s + kSkDescriptor, descriptor.data(), descriptor.size());
    security_order_.push_back(security.cell);
  }
  ++security.references;
  uint32_t cell = 0;
  if (LONG rc = Allocate(kNkName + name_bytes, &cell); rc != ERROR_SUCCESS) return rc;
  const bool is_root = open_.empty();
  uint16_t flags = FitsCompressed(key.name) ? kKeyCompressedName : 0;
  if (is_root) flags |= kKeyHiveEntry | kKeyNoDelete;
  uint8_t* p = At(cell);
  std::memcpy(p, "nk", 2);
  Store16(p + kNkFlags, flags);
  Store64(p + kNkLastWrite, static_cast<uint64_t>(key.last_write));
  Store32(p + kNkParent, is_root ? 0 : open_.back().cell);
  Store32(p + kNkSubkeyList, kNoCell);
  Store32(p + kNkVolatileSubkeyList, kNoCell);
  Store32(p + kNkValueList, kNoCell);
  Store32(p + kNkSecurity, security.cell);
  Store32(p + kNkClass, class_cell);
  Store16(p + kNkNameLength, static_cast<uint16_t>(name_bytes));
  Store16(p + kNkClassLength, static_cast<uint16_t>(class_bytes));
  StoreName(p + kNkName, key.name);
  if (is_root) {
    root_ = cell;
  } else {
    OpenKey& parent = open_.back();
    parent.children.push_back(Child{FoldName(key.name), cell});
    parent.max_subkey_name =
        std::max(parent.max_subkey_name, static_cast<uint32_t>(key.name.size() * 2));
    parent.max_subkey_class = std::max(parent.max_subkey_class, static_cast<uint32_t>(class_bytes));
  }
  open_.push_back(OpenKey{});
  open_.back().cell = cell;
  open_.back().security = security.cell;
  open_.back().class_cell = class_cell;
  return ERROR_SUCCESS;
}

LONG HiveWriter::WriteData(std::string_view data, uint32_t* cell) {
  if (data.size() <= kBigDataThreshold) {
    if (LONG rc = Allocate(data.size(), cell); rc != ERROR_SUCCESS) return rc;
    std::memcpy(At(*cell), data.data(), data.size());
    return ERROR_SUCCESS;
  }
  // Segments, then their list, then the big data cell: each is complete
  // before the next is placed.
  const size_t count = (data.size() + kBigDataThreshold - 1) / kBigDataThreshold;
  if (count > 0xFFFF) return Fail(ERROR_INVALID_PARAMETER);
  std::vector<uint32_t> segments(count);
  for (size_t i = 0; i < count; ++i) {
    const std::string_view part = data.substr(i * kBigDataThreshold, kBigDataThreshold);
    // Every segment full-sized, the last one too, as Windows lays them out.
    if (LONG rc = Allocate(kBigDataThreshold, &segments[i]); rc != ERROR_SUCCESS) return rc;
    std::memcpy(At(segments[i]), part.data(), part.size());
  }
  uint32_t list = 0;
  if (LONG rc = Allocate(count * 4, &list); rc != ERROR_SUCCESS) return rc;
  for (size_t i = 0; i < count; ++i) Store32(At(list) + 4 * i, segments[i]);
  if (LONG rc = Allocate(kDbSize, cell); rc != ERROR_SUCCESS) return rc;
  uint8_t* db = At(*cell);
  std::memcpy(db, "db", 2);
  Store16(db + kDbCount, static_cast<uint16_t>(count));
  Store32(db + kDbList, list);
  return ERROR_SUCCESS;
}

LONG HiveWriter::AddValue(std::u16string_view name, uint32_t type, std::string_view data) {
  if (error_ != ERROR_SUCCESS) return error_;
  if (open_.empty() || data.size() >= kDataInline) return Fail(ERROR_INVALID_PARAMETER);
  const uint32_t name_bytes = StoredNameSize(name);
  if (name_bytes > 0xFFFF) return Fail(ERROR_INVALID_PARAMETER);
  const auto size = static_cast<uint32_t>(data.size());
  uint32_t data_word = 0;
  uint32_t size_word = size;
  if (size <= kMaxInlineData) {
    uint8_t bytes[4] = {0, 0, 0, 0};
    std::memcpy(bytes, data.data(), size);
    data_word = Load32(bytes);
    size_word |= kDataInline;
  } else if (LONG rc = WriteData(data, &data_word); rc != ERROR_SUCCESS) {
    return rc;
  }
  uint32_t cell = 0;
  if (LONG rc = Allocate(kVkName + name_bytes, &cell); rc != ERROR_SUCCESS) return rc;
  uint8_t* p = At(cell);
  std::memcpy(p, "vk", 2);
  Store16(p + kVkNameLength, static_cast<uint16_t>(name_bytes));
  Store32(p + kVkDataSize, size_word);
  Store32(p + kVkData, data_word);
  Store32(p + kVkType, type);
  Store16(p + kVkFlags, FitsCompressed(name) ? kValueCompressedName : 0);
  StoreName(p + kVkName, name);
  OpenKey& key = open_.back();
  key.values.push_back(cell);
  key.max_value_name = std::max(key.max_value_name, static_cast<uint32_t>(name.size() * 2));
  key.max_value_data = std::max(key.max_value_data, size);
  return ERROR_SUCCESS;
}

LONG HiveWriter::WriteSubkeyList(std::vector<Child>& children, uint32_t* cell) {
  std::sort(children.begin(), children.end(),
            [](const Child& a, const Child& b) { return a.folded < b.folded; });
  const size_t leaves = (children.size() + kMaxLeafEntries - 1) / kMaxLeafEntries;
  if (leaves > 0xFFFF) return Fail(ERROR_INVALID_PARAMETER);
  std::vector<uint32_t> leaf_cells;
  for (size_t first = 0; first < children.size(); first += kMaxLeafEntries) {
    const size_t count = std::min<size_t>(kMaxLeafEntries, children.size() - first);
    uint32_t leaf = 0;
    if (LONG rc = Allocate(kListEntries + count * 8, &leaf); rc != ERROR_SUCCESS) return rc;
    uint8_t* p = At(leaf);
    std::memcpy(p, "lh", 2);
    Store16(p + kListCount, static_cast<uint16_t>(count));
    for (size_t i = 0; i < count; ++i) {
      const Child& child = children[first + i];
      Store32(p + kListEntries + 8 * i, child.cell);
      Store32(p + kListEntries + 8 * i + 4, NameHash(child.folded));
    }
    leaf_cells.push_back(leaf);
  }
  if (leaf_cells.size() == 1) {
    *cell = leaf_cells[0];
    return ERROR_SUCCESS;
  }
  if (LONG rc = Allocate(kListEntries + leaf_cells.size() * 4, cell); rc != ERROR_SUCCESS) {
    return rc;
  }
  uint8_t* p = At(*cell);
  std::memcpy(p, "ri", 2);
  Store16(p + kListCount, static_cast<uint16_t>(leaf_cells.size()));
  for (size_t i = 0; i < leaf_cells.size(); ++i) Store32(p + kListEntries + 4 * i, leaf_cells[i]);
  return ERROR_SUCCESS;
}

LONG HiveWriter::EndKey() {
  if (error_ != ERROR_SUCCESS) return error_;
  if (open_.empty()) return Fail(ERROR_INVALID_PARAMETER);
  OpenKey& key = open_.back();
  uint32_t value_list = kNoCell;
  if (!key.values.empty()) {
    if (LONG rc = Allocate(key.values.size() * 4, &value_list); rc != ERROR_SUCCESS) return rc;
    uint8_t* p = At(value_list);
    for (size_t i = 0; i < key.values.size(); ++i) Store32(p + 4 * i, key.values[i]);
  }
  uint32_t subkey_list = kNoCell;
  if (!key.children.empty()) {
    if (LONG rc = WriteSubkeyList(key.children, &subkey_list); rc != ERROR_SUCCESS) return rc;
  }
  // The key's counts and lists, from the subkey count to the largest data
  // size, in place.
  uint8_t fields[kNkMaxValueData + 4 - kNkSubkeyCount] = {};
  auto put = [&fields](size_t offset, uint32_t value) {
    Store32(fields + (offset - kNkSubkeyCount), value);
  };
  put(kNkSubkeyCount, static_cast<uint32_t>(key.children.size()));
  put(kNkVolatileSubkeyCount, 0);
  put(kNkSubkeyList, subkey_list);
  put(kNkVolatileSubkeyList, kNoCell);
  put(kNkValueCount, static_cast<uint32_t>(key.values.size()));
  put(kNkValueList, value_list);
  put(kNkSecurity, key.security);
  put(kNkClass, key.class_cell);
  put(kNkMaxSubkeyName, key.max_subkey_name);
  put(kNkMaxSubkeyClass, key.max_subkey_class);
  put(kNkMaxValueName, key.max_value_name);
  put(kNkMaxValueData, key.max_value_data);
  Patch(key.cell + 4 + kNkSubkeyCount, fields, sizeof(fields));
  open_.pop_back();
  if (open_.empty()) done_ = true;
  return ERROR_SUCCESS;
}

LONG HiveWriter::Finish(std::u16string_view file_name, int64_t timestamp, uint32_t sequence) {
  if (error_ != ERROR_SUCCESS) return error_;
  if (!done_ || !base_.empty()) return Fail(ERROR_INVALID_PARAMETER);
  CloseBin();
  // The security cells form one ring, in the order they were written.
  for (const auto& [descriptor, security] : security_) {
    const size_t n = security_order_.size();
    const size_t i = static_cast<size_t>(
        std::find(security_order_.begin(), security_order_.end(), security.cell) -
        security_order_.begin());
    uint8_t links[kSkReferences + 4 - kSkNext];
    Store32(links + kSkNext - kSkNext, security_order_[(i + 1) % n]);
    Store32(links + kSkPrevious - kSkNext, security_order_[(i + n - 1) % n]);
    Store32(links + kSkReferences - kSkNext, security.references);
    Patch(security.cell + 4 + kSkNext, links, sizeof(links));
  }
  uint8_t stamp[8];
  Store64(stamp, static_cast<uint64_t>(timestamp));
  Patch(kBinTimestampOffset, stamp, sizeof(stamp));
  base_.assign(kBaseBlockSize, 0);
  uint8_t* b = base_.data();
  std::memcpy(b, "regf", 4);
  Store32(b + kPrimarySequenceOffset, sequence);
  Store32(b + kSecondarySequenceOffset, sequence);
  Store64(b + kTimestampOffset, static_cast<uint64_t>(timestamp));
  Store32(b + kMajorVersionOffset, kMajorVersion);
  Store32(b + kMinorVersionOffset, kMinorVersion);
  Store32(b + kFileTypeOffset, kFileTypePrimary);
  Store32(b + kFileFormatOffset, 1);
  Store32(b + kRootCellOffset, root_);
  Store32(b + kDataSizeOffset, bins_size_);
  Store32(b + kClusteringOffset, 1);
  constexpr size_t kNameUnits = kFileNameSize / 2 - 1;  // and a terminating zero
  const std::u16string_view tail =
      file_name.size() > kNameUnits ? file_name.substr(file_name.size() - kNameUnits) : file_name;
  for (size_t i = 0; i < tail.size(); ++i) Store16(b + kFileNameOffset + 2 * i, tail[i]);
  Store32(b + kChecksumOffset, BaseBlockChecksum(b));
  if (fd_ >= 0) {
    WriteClosedBins();
    if (LONG rc = WriteAt(fd_, b, base_.size(), 0); rc != ERROR_SUCCESS) return Fail(rc);
  }
  return error_;
}

LONG HiveWriter::WriteTo(int fd) const {
  if (base_.empty() || fd_ >= 0) return ERROR_INVALID_PARAMETER;
  auto write_all = [fd](const uint8_t* p, size_t n) -> LONG {
    while (n > 0) {
      const ssize_t done = write(fd, p, n);
      if (done < 0) {
        if (errno == EINTR) continue;
        return errno == ENOSPC || errno == EDQUOT ? ERROR_DISK_FULL : ERROR_WRITE_FAULT;
      }
      p += done;
      n -= static_cast<size_t>(done);
    }
    return ERROR_SUCCESS;
  };
  if (LONG rc = write_all(base_.data(), base_.size()); rc != ERROR_SUCCESS) return rc;
  for (const auto& bin : bins_) {
    if (LONG rc = write_all(bin.data(), bin.size()); rc != ERROR_SUCCESS) return rc;
  }
  return ERROR_SUCCESS;
}

std::string HiveWriter::Bytes() const {
  std::string out(base_.begin(), base_.end());
  for (const auto& bin : bins_) out.append(bin.begin(), bin.end());
  return out;
}

}  // namespace orvik::posix::hive
