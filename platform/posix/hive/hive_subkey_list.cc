// Subkey lists changed in place.
#include "platform/posix/hive/hive_subkey_list.h"

#include <cstring>

#include "platform/posix/codepage.h"
#include "platform/posix/hive/hive_format.h"

namespace orvik::posix::hive {

namespace {

constexpr LONG kCorrupt = ERROR_REGISTRY_CORRUPT;
// Entries of an index leaf or an index root that fit one 4 KiB bin.
constexpr uint32_t kMaxIndexEntries = 1012;

uint32_t MaxEntries(uint32_t stride) { return stride == 4 ? kMaxIndexEntries : kMaxLeafEntries; }

// A fast leaf's hint: the name's first four characters when they are all
// 8-bit, else nothing.
uint32_t Hint(std::u16string_view name) {
  uint8_t hint[4] = {0, 0, 0, 0};
  const size_t n = std::min<size_t>(4, name.size());
  for (size_t i = 0; i < n; ++i) {
    if (name[i] > 0xFF) return 0;
    hint[i] = static_cast<uint8_t>(name[i]);
  }
  return Load32(hint);
}

}  // namespace

const char* FirstLeafKind(uint32_t minor_version) {
  if (minor_version >= 5) return "lh";
  return minor_version >= 3 ? "lf" : "li";
}

LONG SubkeyList::ReadLeaf(uint32_t cell, Leaf* leaf) const {
  const uint8_t* p = nullptr;
  uint32_t size = 0;
  if (LONG rc = space_.Read(cell, kListEntries, &p, &size); rc != ERROR_SUCCESS) return rc;
  if (HasSignature(p, "li")) {
    leaf->stride = 4;
  } else if (HasSignature(p, "lf") || HasSignature(p, "lh")) {
    leaf->stride = 8;
  } else {
    return kCorrupt;
  }
  leaf->cell = cell;
  leaf->count = Load16(p + kListCount);
  std::memcpy(leaf->kind, p, 2);
  if (uint64_t{leaf->count} * leaf->stride > size - kListEntries) return kCorrupt;
  return ERROR_SUCCESS;
}

LONG SubkeyList::Leaves(uint32_t list, uint32_t count, std::vector<Leaf>* leaves,
                        bool* has_root) const {
  leaves->clear();
  const uint8_t* p = nullptr;
  uint32_t size = 0;
  if (LONG rc = space_.Read(list, kListEntries, &p, &size); rc != ERROR_SUCCESS) return rc;
  *has_root = HasSignature(p, "ri");
  if (*has_root) {
    const uint32_t n = Load16(p + kListCount);
    if (n == 0 || uint64_t{n} * 4 > size - kListEntries) return kCorrupt;
    for (uint32_t i = 0; i < n; ++i) {
      Leaf leaf;
      // An index root holds leaves only.
      if (LONG rc = ReadLeaf(Load32(p + kListEntries + 4 * i), &leaf); rc != ERROR_SUCCESS) {
        return rc;
      }
      leaves->push_back(leaf);
    }
  } else {
    Leaf leaf;
    if (LONG rc = ReadLeaf(list, &leaf); rc != ERROR_SUCCESS) return rc;
    leaves->push_back(leaf);
  }
  uint64_t total = 0;
  for (const Leaf& leaf : *leaves) total += leaf.count;
  return total == count ? ERROR_SUCCESS : kCorrupt;
}

uint32_t SubkeyList::EntryCell(const Leaf& leaf, uint32_t index) const {
  const uint8_t* p = nullptr;
  uint32_t size = 0;
  // The leaf was read and checked for its count; it cannot fail now.
  if (space_.Read(leaf.cell, kListEntries, &p, &size) != ERROR_SUCCESS) return kNoCell;
  return Load32(p + kListEntries + index * leaf.stride);
}

LONG SubkeyList::NameAt(const Leaf& leaf, uint32_t index, std::u16string* name) const {
  return name_of_(EntryCell(leaf, index), name);
}

LONG SubkeyList::Position(const Leaf& leaf, std::u16string_view name, uint32_t* position) const {
  uint32_t low = 0;
  uint32_t high = leaf.count;
  std::u16string there;
  while (low < high) {
    const uint32_t middle = low + (high - low) / 2;
    if (LONG rc = NameAt(leaf, middle, &there); rc != ERROR_SUCCESS) return rc;
    const int order = CompareFoldedNames(name, there);
    if (order == 0) return ERROR_ALREADY_EXISTS;
    if (order < 0) {
      high = middle;
    } else {
      low = middle + 1;
    }
  }
  *position = low;
  return ERROR_SUCCESS;
}

void SubkeyList::WriteEntry(uint8_t* payload, const Leaf& leaf, uint32_t index, uint32_t child,
                            std::u16string_view name) const {
  uint8_t* at = payload + kListEntries + index * leaf.stride;
  Store32(at, child);
  if (leaf.stride == 8) {
    Store32(at + 4, leaf.kind[1] == 'h' ? NameHash(name) : Hint(name));
  }
}

LONG SubkeyList::MakeRoom(uint32_t* cell, uint32_t stride, uint32_t entries) {
  const uint8_t* p = nullptr;
  uint32_t size = 0;
  if (LONG rc = space_.Read(*cell, kListEntries, &p, &size); rc != ERROR_SUCCESS) return rc;
  const uint64_t need = kListEntries + uint64_t{entries} * stride;
  if (size >= need) return ERROR_SUCCESS;
  uint32_t moved = 0;
  if (LONG rc = space_.Allocate(static_cast<uint32_t>(need), &moved); rc != ERROR_SUCCESS) {
    return rc;
  }
  // Read again: the allocation may have changed the image's pages but never
  // moves them.
  if (LONG rc = space_.Read(*cell, kListEntries, &p, &size); rc != ERROR_SUCCESS) return rc;
  uint8_t* to = nullptr;
  uint32_t room = 0;
  if (LONG rc = space_.Change(moved, static_cast<uint32_t>(need), &to, &room);
      rc != ERROR_SUCCESS) {
    return rc;
  }
  std::memcpy(to, p, size);
  if (LONG rc = space_.Free(*cell); rc != ERROR_SUCCESS) return rc;
  *cell = moved;
  return ERROR_SUCCESS;
}

LONG SubkeyList::SplitLeaf(std::vector<Leaf>* leaves, size_t at, uint32_t* list, bool* has_root) {
  Leaf& leaf = (*leaves)[at];
  const uint32_t kept = leaf.count / 2;
  const uint32_t moved = leaf.count - kept;
  uint32_t second = 0;
  if (LONG rc = space_.Allocate(kListEntries + moved * leaf.stride, &second); rc != ERROR_SUCCESS) {
    return rc;
  }
  uint8_t* from = nullptr;
  uint8_t* to = nullptr;
  uint32_t size = 0;
  if (LONG rc = space_.Change(leaf.cell, kListEntries, &from, &size); rc != ERROR_SUCCESS) {
    return rc;
  }
  if (LONG rc = space_.Change(second, kListEntries, &to, &size); rc != ERROR_SUCCESS) return rc;
  std::memcpy(to, leaf.kind, 2);
  Store16(to + kListCount, static_cast<uint16_t>(moved));
  std::memcpy(to + kListEntries, from + kListEntries + kept * leaf.stride, moved * leaf.stride);
  Store16(from + kListCount, static_cast<uint16_t>(kept));
  const Leaf second_leaf{second, moved, leaf.stride, {leaf.kind[0], leaf.kind[1]}};
  leaf.count = kept;
  if (!*has_root) {
    // One leaf becomes two under an index root.
    uint32_t root = 0;
    if (LONG rc = space_.Allocate(kListEntries + 2 * 4, &root); rc != ERROR_SUCCESS) return rc;
    uint8_t* r = nullptr;
    if (LONG rc = space_.Change(root, kListEntries, &r, &size); rc != ERROR_SUCCESS) return rc;
    std::memcpy(r, "ri", 2);
    Store16(r + kListCount, 2);
    Store32(r + kListEntries, (*leaves)[at].cell);
    Store32(r + kListEntries + 4, second);
    *list = root;
    *has_root = true;
  } else {
    const auto n = static_cast<uint32_t>(leaves->size());
    if (n >= kMaxIndexEntries) return ERROR_NOT_ENOUGH_MEMORY;
    if (LONG rc = MakeRoom(list, 4, n + 1); rc != ERROR_SUCCESS) return rc;
    uint8_t* r = nullptr;
    if (LONG rc = space_.Change(*list, kListEntries, &r, &size); rc != ERROR_SUCCESS) return rc;
    uint8_t* slot = r + kListEntries + 4 * (at + 1);
    std::memmove(slot + 4, slot, 4 * (n - at - 1));
    Store32(slot, second);
    Store16(r + kListCount, static_cast<uint16_t>(n + 1));
  }
  leaves->insert(leaves->begin() + static_cast<ptrdiff_t>(at) + 1, second_leaf);
  return ERROR_SUCCESS;
}

LONG SubkeyList::Insert(uint32_t* list, uint32_t count, uint32_t child, std::u16string_view name,
                        const char* first_kind) {
  if (count == 0) {
    Leaf leaf{0, 0, first_kind[1] == 'i' ? 4u : 8u, {first_kind[0], first_kind[1]}};
    if (LONG rc = space_.Allocate(kListEntries + leaf.stride, &leaf.cell); rc != ERROR_SUCCESS) {
      return rc;
    }
    uint8_t* p = nullptr;
    uint32_t size = 0;
    if (LONG rc = space_.Change(leaf.cell, kListEntries, &p, &size); rc != ERROR_SUCCESS) {
      return rc;
    }
    std::memcpy(p, leaf.kind, 2);
    Store16(p + kListCount, 1);
    WriteEntry(p, leaf, 0, child, name);
    *list = leaf.cell;
    return ERROR_SUCCESS;
  }
  std::vector<Leaf> leaves;
  bool has_root = false;
  if (LONG rc = Leaves(*list, count, &leaves, &has_root); rc != ERROR_SUCCESS) return rc;
  // The leaf whose last name sorts after the new one, else the last leaf.
  size_t at = leaves.size() - 1;
  std::u16string last;
  for (size_t i = 0; i + 1 < leaves.size(); ++i) {
    if (leaves[i].count == 0) return kCorrupt;
    if (LONG rc = NameAt(leaves[i], leaves[i].count - 1, &last); rc != ERROR_SUCCESS) return rc;
    const int order = CompareFoldedNames(name, last);
    if (order == 0) return ERROR_ALREADY_EXISTS;
    if (order < 0) {
      at = i;
      break;
    }
  }
  uint32_t position = 0;
  if (LONG rc = Position(leaves[at], name, &position); rc != ERROR_SUCCESS) return rc;
  if (leaves[at].count >= MaxEntries(leaves[at].stride)) {
    if (LONG rc = SplitLeaf(&leaves, at, list, &has_root); rc != ERROR_SUCCESS) return rc;
    if (position > leaves[at].count) {
      position -= leaves[at].count;
      ++at;
    }
  }
  Leaf& leaf = leaves[at];
  uint32_t cell = leaf.cell;
  if (LONG rc = MakeRoom(&cell, leaf.stride, leaf.count + 1); rc != ERROR_SUCCESS) return rc;
  uint8_t* p = nullptr;
  uint32_t size = 0;
  if (cell != leaf.cell) {
    leaf.cell = cell;
    if (has_root) {
      if (LONG rc = space_.Change(*list, kListEntries, &p, &size); rc != ERROR_SUCCESS) return rc;
      Store32(p + kListEntries + 4 * at, cell);
    } else {
      *list = cell;
    }
  }
  if (LONG rc = space_.Change(cell, kListEntries, &p, &size); rc != ERROR_SUCCESS) return rc;
  uint8_t* slot = p + kListEntries + position * leaf.stride;
  std::memmove(slot + leaf.stride, slot, (leaf.count - position) * leaf.stride);
  WriteEntry(p, leaf, position, child, name);
  Store16(p + kListCount, static_cast<uint16_t>(leaf.count + 1));
  return ERROR_SUCCESS;
}

LONG SubkeyList::Remove(uint32_t* list, uint32_t count, uint32_t child) {
  std::vector<Leaf> leaves;
  bool has_root = false;
  if (LONG rc = Leaves(*list, count, &leaves, &has_root); rc != ERROR_SUCCESS) return rc;
  for (size_t at = 0; at < leaves.size(); ++at) {
    const Leaf& leaf = leaves[at];
    for (uint32_t i = 0; i < leaf.count; ++i) {
      if (EntryCell(leaf, i) != child) continue;
      uint8_t* p = nullptr;
      uint32_t size = 0;
      if (leaf.count > 1) {
        if (LONG rc = space_.Change(leaf.cell, kListEntries, &p, &size); rc != ERROR_SUCCESS) {
          return rc;
        }
        uint8_t* slot = p + kListEntries + i * leaf.stride;
        std::memmove(slot, slot + leaf.stride, (leaf.count - i - 1) * leaf.stride);
        Store16(p + kListCount, static_cast<uint16_t>(leaf.count - 1));
        return ERROR_SUCCESS;
      }
      // The leaf empties: it goes, and with the last leaf the index root.
      if (LONG rc = space_.Free(leaf.cell); rc != ERROR_SUCCESS) return rc;
      if (!has_root || leaves.size() == 1) {
        if (has_root) {
          if (LONG rc = space_.Free(*list); rc != ERROR_SUCCESS) return rc;
        }
        *list = kNoCell;
        return ERROR_SUCCESS;
      }
      if (LONG rc = space_.Change(*list, kListEntries, &p, &size); rc != ERROR_SUCCESS) return rc;
      const auto n = static_cast<uint32_t>(leaves.size());
      uint8_t* slot = p + kListEntries + 4 * at;
      std::memmove(slot, slot + 4, 4 * (n - at - 1));
      Store16(p + kListCount, static_cast<uint16_t>(n - 1));
      return ERROR_SUCCESS;
    }
  }
  return kCorrupt;
}

LONG SubkeyList::Release(uint32_t list, uint32_t count, std::vector<uint32_t>* children) {
  children->clear();
  if (count == 0) return ERROR_SUCCESS;
  std::vector<Leaf> leaves;
  bool has_root = false;
  if (LONG rc = Leaves(list, count, &leaves, &has_root); rc != ERROR_SUCCESS) return rc;
  for (const Leaf& leaf : leaves) {
    for (uint32_t i = 0; i < leaf.count; ++i) children->push_back(EntryCell(leaf, i));
    if (LONG rc = space_.Free(leaf.cell); rc != ERROR_SUCCESS) return rc;
  }
  return has_root ? space_.Free(list) : ERROR_SUCCESS;
}

}  // namespace orvik::posix::hive
