// TRegistryExport: the walk over a key tree and the entry of each value, and
// writing the collected lines to the file.
//
// The walk keeps the handle of each key on the path from the start key open
// while it is below it, and reads each value's name, type and data with one
// enumeration call; a value's entry depends only on those three.
#include "export/registry_export.h"

#include "export/reg_lines.h"
#include "export/wrap.h"
#include "platform/ansi_text.h"
#include "registry/exception.h"

namespace orvik {

namespace {

// While streaming, lines are written in batches of about this many bytes.
constexpr size_t kFlushBytes = 256 * 1024;

// Name buffers start large enough for any name the platform allows in a
// single-byte code page and grow up to this many bytes for multi-byte ones.
constexpr size_t kNameBufferStart = 16384;
constexpr size_t kNameBufferLimit = 1u << 20;
constexpr size_t kDataBufferStart = 4096;

// Closes a key handle of the walk on every path.
struct KeyCloser {
  HKEY key;
  ~KeyCloser() { RegCloseKey(key); }
};

std::string ChildPath(const std::string& parent_path, std::string_view name) {
  std::string path;
  path.reserve(parent_path.size() + 1 + name.size());
  path += parent_path;
  path += '\\';
  path += name;
  return path;
}

// The full name of a key in messages, as its section line has it.
std::string FullName(const std::string& root_name, const std::string& path) {
  return ShownName(path.empty() ? root_name : root_name + WithLeadingBackslash(path));
}

// A name the file cannot carry stops the export: leaving the key or value
// out, or writing the name as it is, would give a file that imports to
// another tree.
Exception KeyNameRefused(const std::string& root_name, const std::string& path) {
  return Exception("Cannot export key " + FullName(root_name, path) +
                   ": a .reg file cannot hold its name");
}

Exception ValueNameRefused(const std::string& root_name, const std::string& path,
                           std::string_view name) {
  return Exception("Cannot export value '" + ShownName(name) + "' of key " +
                   FullName(root_name, path) + ": a .reg file cannot hold its name");
}

}  // namespace

TRegistryExport::TRegistryExport()
    : registry_(KEY_READ), name_buffer_(kNameBufferStart), data_buffer_(kDataBufferStart) {}

void TRegistryExport::AddLine(std::string_view line) {
  lines_.append(line);
  lines_.append("\r\n");
  FlushIfFull();
}

void TRegistryExport::WriteHeader(bool version5) {
  AddLine(version5 ? kHeaderVersion5 : kHeaderVersion4);
}

void TRegistryExport::SetRootIndex(uint8_t index) {
  if (index >= RootKeyTable.size()) index = 6;  // as RootIndexOf maps unknown handles
  root_index_ = index;
  registry_.SelectRoot(RootKeyTable[index].key);
  root_name_ = RootKeyTable[index].name;
}

void TRegistryExport::ExportKey(const std::string& path) {
  const std::string saved_path = registry_.ActivePath();
  if (!registry_.EnterKeyReadOnly(path)) return;

  // Afterwards the key entered before is entered again by its path (the root
  // itself when none was), also when a value cannot be read.
  struct ReEnter {
    TRegistry& registry;
    const std::string& path;
    ~ReEnter() {
      registry.LeaveKey();
      registry.EnterKeyReadOnly(path);
    }
  } re_enter{registry_, saved_path};

  // A path typed with a trailing backslash names the same key; its section
  // and the paths below it are written without it, so that no empty name
  // appears between two backslashes.
  // A name that ends in a double-byte character whose second byte is a
  // backslash (表) keeps that byte.
  const std::string key_path(WithoutTrailingBackslashes(registry_.ActivePath()));
  if (!KeyPathFits(key_path)) throw KeyNameRefused(root_name_, key_path);
  ExportTree(registry_.ActiveHandle(), key_path);
}

void TRegistryExport::ExportTree(HKEY key, const std::string& path) {
  AddLine("");
  AddLine(SectionLine(root_name_, path));
  ExportValues(key, path);

  // Subkeys are enumerated one at a time, each walked before the next name
  // is read. One that cannot be opened is left out.
  for (DWORD index = 0;; ++index) {
    LONG result = ERROR_MORE_DATA;
    DWORD length = 0;
    while (result == ERROR_MORE_DATA) {
      length = static_cast<DWORD>(name_buffer_.size());
      result = RegEnumKeyExA(key, index, name_buffer_.data(), &length, nullptr, nullptr, nullptr,
                             nullptr);
      if (result == ERROR_MORE_DATA && name_buffer_.size() >= kNameBufferLimit) break;
      if (result == ERROR_MORE_DATA) name_buffer_.resize(name_buffer_.size() * 2);
    }
    if (result == ERROR_MORE_DATA) continue;  // a name no buffer takes
    if (result != ERROR_SUCCESS) break;       // the end, or the key went away
    const std::string_view name(name_buffer_.data(), length);
    if (!KeyPathFits(name)) throw KeyNameRefused(root_name_, ChildPath(path, name));
    HKEY child = nullptr;
    if (RegOpenKeyExA(key, name_buffer_.data(), 0, KEY_READ, &child) != ERROR_SUCCESS) continue;
    const KeyCloser closer{child};
    ExportTree(child, ChildPath(path, name));
  }
}

void TRegistryExport::ExportValues(HKEY key, const std::string& path) {
  for (DWORD index = 0;; ++index) {
    DWORD type = REG_NONE;
    DWORD size = 0;
    DWORD length = 0;
    LONG result = ERROR_MORE_DATA;
    while (result == ERROR_MORE_DATA) {
      length = static_cast<DWORD>(name_buffer_.size());
      size = static_cast<DWORD>(data_buffer_.size());
      const DWORD capacity = size;
      result = RegEnumValueA(key, index, name_buffer_.data(), &length, nullptr, &type,
                             data_buffer_.data(), &size);
      if (result != ERROR_MORE_DATA) break;
      if (size > capacity) {
        data_buffer_.resize(size);  // the data did not fit
      } else if (name_buffer_.size() < kNameBufferLimit) {
        name_buffer_.resize(name_buffer_.size() * 2);  // the name did not
      } else {
        break;
      }
    }
    if (result == ERROR_MORE_DATA) continue;  // a name no buffer takes
    if (result != ERROR_SUCCESS) break;       // the end, or the key went away
    AddValueEntry(path, std::string_view(name_buffer_.data(), length), type,
                  std::string_view(reinterpret_cast<const char*>(data_buffer_.data()), size));
  }
}

void TRegistryExport::ExportValue(const std::string& value_name) {
  // A value that cannot be queried is written as type 0 without data.
  DWORD type = REG_NONE;
  DWORD size = 0;
  LONG result = ERROR_MORE_DATA;
  while (result == ERROR_MORE_DATA) {
    size = static_cast<DWORD>(data_buffer_.size());
    result = RegQueryValueExA(registry_.ActiveHandle(), value_name.c_str(), nullptr, &type,
                              data_buffer_.data(), &size);
    if (result == ERROR_MORE_DATA) data_buffer_.resize(size);
  }
  if (result != ERROR_SUCCESS) {
    type = REG_NONE;
    size = 0;
  }
  AddValueEntry(registry_.ActivePath(), value_name, type,
                std::string_view(reinterpret_cast<const char*>(data_buffer_.data()), size));
}

void TRegistryExport::AddValueEntry(const std::string& key_path, std::string_view name, DWORD type,
                                    std::string_view data) {
  if (!ValueNameFits(name, type)) throw ValueNameRefused(root_name_, key_path, name);
  const std::string escaped_name = EscapeText(name);
  switch (ValueEntryRowOf(type).form) {
    case EntryForm::kString: {
      // The text ends at the first zero byte.
      const std::string_view text = data.substr(0, data.find('\0'));
      AddLine(StringEntry(escaped_name, EscapeText(text)));
      break;
    }
    case EntryForm::kDword: {
      // A double word is read into four bytes: more data cannot be read as
      // one, less is padded with zero bytes.
      if (data.size() > 4) {
        throw ERegistryException("Failed to get data for '" + std::string(name) + "'");
      }
      uint32_t pattern = 0;
      for (size_t i = 0; i < data.size(); ++i) {
        pattern |= static_cast<uint32_t>(static_cast<unsigned char>(data[i])) << (8 * i);
      }
      AddLine(DwordEntry(escaped_name, static_cast<int32_t>(pattern)));
      break;
    }
    case EntryForm::kLinkComment:
      AddLine(LinkComment(escaped_name));
      break;
    case EntryForm::kHexList:
      AddWrapped(HexEntry(escaped_name, type, HexList(data)), lines_);
      FlushIfFull();
      break;
  }
}

void TRegistryExport::StreamToFile(const std::string& file_name) {
  if (!file_.Create(file_name)) throw Exception("Cannot create file " + file_name);
  streamed_name_ = file_name;
  FlushLines();
}

void TRegistryExport::FlushIfFull() {
  if (lines_.size() >= kFlushBytes && file_.IsOpen()) FlushLines();
}

void TRegistryExport::FlushLines() {
  if (!file_.Write(lines_)) throw Exception("Stream write error");
  lines_.clear();
}

void TRegistryExport::WriteToFile(const std::string& file_name) {
  if (file_.IsOpen() && streamed_name_ == file_name) {
    FlushLines();
  } else {
    // Written in one piece, the lines stay as they are.
    if (!file_.Create(file_name)) throw Exception("Cannot create file " + file_name);
    if (!file_.Write(lines_)) {
      file_.Discard();
      throw Exception("Stream write error");
    }
  }
  streamed_name_.clear();
  switch (file_.Commit()) {
    case FileReplacement::Outcome::kDone:
      return;
    case FileReplacement::Outcome::kWriteFailed:
      throw Exception("Stream write error");
    case FileReplacement::Outcome::kReplaceFailed:
      throw Exception("Cannot create file " + file_name);
  }
}

}  // namespace orvik
