// TRegistryExport: the walk over a key tree and the entry of each value, and
// writing the collected lines to the file.
#include "export/registry_export.h"

#include <vector>

#include "export/reg_lines.h"
#include "export/wrap.h"
#include "registry/exception.h"

namespace orvik {

namespace {

// While streaming, lines are written in batches of about this many bytes.
constexpr size_t kFlushBytes = 256 * 1024;

}  // namespace

TRegistryExport::TRegistryExport() : registry_(KEY_READ) {}

void TRegistryExport::AddLine(std::string line) {
  pending_bytes_ += line.size() + 2;
  lines_.push_back(std::move(line));
  FlushIfFull();
}

void TRegistryExport::AddWrapped(const std::string& entry) {
  const size_t before = lines_.size();
  orvik::AddWrapped(entry, lines_);
  for (size_t i = before; i < lines_.size(); ++i) pending_bytes_ += lines_[i].size() + 2;
  FlushIfFull();
}

void TRegistryExport::WriteHeader(bool version5) {
  AddLine(version5 ? kHeaderVersion5 : kHeaderVersion4);
}

void TRegistryExport::SetRootIndex(uint8_t index) {
  root_index_ = index;
  registry_.SelectRoot(RootKeyTable[index].key);
  root_name_ = RootKeyTable[index].name;
}

void TRegistryExport::ExportKey(const std::string& path) {
  TStringList names;
  const std::string saved_path = registry_.ActivePath();
  if (!registry_.EnterKeyReadOnly(path)) return;

  // Only one key of the walk is open: the parent is entered again by its
  // path when the child is done, also when a value cannot be read.
  struct ReEnter {
    TRegistry& registry;
    const std::string& path;
    ~ReEnter() {
      registry.LeaveKey();
      registry.EnterKeyReadOnly(path);
    }
  } re_enter{registry_, saved_path};

  AddLine("");
  AddLine(SectionLine(root_name_, registry_.ActivePath()));
  EnumValueNames(names);
  for (const std::string& name : names) ExportValue(name);
  EnumSubKeyNames(names);
  for (const std::string& name : names) ExportKey(name);
}

void TRegistryExport::ExportValue(const std::string& value_name) {
  const std::string escaped_name = EscapeText(value_name);
  // A value that cannot be queried keeps type 0 and is written as hex(0).
  DWORD type = REG_NONE;
  DWORD size = 0;
  RegQueryValueExA(registry_.ActiveHandle(), value_name.c_str(), nullptr, &type, nullptr, &size);

  switch (ValueEntryRowOf(type).form) {
    case EntryForm::kString:
      AddLine(StringEntry(escaped_name, EscapeText(registry_.ReadStringValue(value_name))));
      break;
    case EntryForm::kDword:
      AddLine(DwordEntry(escaped_name, registry_.ReadIntegerValue(value_name)));
      break;
    case EntryForm::kLinkComment:
      AddLine(LinkComment(escaped_name));
      break;
    case EntryForm::kHexList:
      AddWrapped(HexEntry(escaped_name, type, ValueHex(value_name)));
      break;
  }
}

std::string TRegistryExport::ValueHex(const std::string& value_name) {
  const int64_t size = registry_.ValueDataSize(value_name);
  if (size <= 0) return std::string();
  std::string data(static_cast<size_t>(size), '\0');
  DataKind kind = dkUnknown;
  registry_.ReadValueData(value_name, data.data(), static_cast<DWORD>(size), kind);
  return HexList(data);
}

void TRegistryExport::EnumSubKeyNames(TStringList& list) { registry_.ListSubKeys(list); }

void TRegistryExport::EnumValueNames(TStringList& list) { registry_.ListValueNames(list); }

void TRegistryExport::StreamToFile(const std::string& file_name) {
  if (!file_.Create(file_name)) throw Exception("Cannot create file " + file_name);
  streamed_name_ = file_name;
  FlushLines();
}

void TRegistryExport::FlushIfFull() {
  if (file_.IsOpen() && pending_bytes_ >= kFlushBytes) FlushLines();
}

void TRegistryExport::FlushLines() {
  std::string text;
  text.reserve(pending_bytes_);
  for (const std::string& line : lines_) {
    text += line;
    text += "\r\n";
  }
  if (!file_.Write(text)) throw Exception("Stream write error");
  lines_.clear();
  pending_bytes_ = 0;
}

void TRegistryExport::WriteToFile(const std::string& file_name) {
  if (file_.IsOpen() && streamed_name_ == file_name) {
    FlushLines();
  } else {
    // Lines only grows: written in one piece, the list stays as it is.
    if (!file_.Create(file_name)) throw Exception("Cannot create file " + file_name);
    std::string text;
    for (const std::string& line : lines_) {
      text += line;
      text += "\r\n";
    }
    if (!file_.Write(text)) {
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
