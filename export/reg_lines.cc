// The lines of a registry-editor file, built from texts the caller read.
#include "export/reg_lines.h"

#include <cstdio>

#include "platform/lead_bytes.h"

namespace orvik {

const std::array<RootKeyRow, 7> RootKeyTable = {{
    {HKEY_CLASSES_ROOT, "HKEY_CLASSES_ROOT"},
    {HKEY_CURRENT_USER, "HKEY_CURRENT_USER"},
    {HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE"},
    {HKEY_USERS, "HKEY_USERS"},
    {HKEY_PERFORMANCE_DATA, "HKEY_PERFORMANCE_DATA"},
    {HKEY_CURRENT_CONFIG, "HKEY_CURRENT_CONFIG"},
    {HKEY_DYN_DATA, "HKEY_DYN_DATA"},
}};

const std::array<ValueEntryRow, 12> ValueEntryTable = {{
    {REG_NONE, EntryForm::kHexList, "hex(0)"},
    {REG_SZ, EntryForm::kString, ""},
    {REG_EXPAND_SZ, EntryForm::kHexList, "hex(2)"},
    {REG_BINARY, EntryForm::kHexList, "hex"},
    {REG_DWORD, EntryForm::kDword, "dword"},
    {REG_DWORD_BIG_ENDIAN, EntryForm::kHexList, "hex(5)"},
    {REG_LINK, EntryForm::kLinkComment, ""},
    {REG_MULTI_SZ, EntryForm::kHexList, "hex(7)"},
    {REG_RESOURCE_LIST, EntryForm::kHexList, "hex(8)"},
    {REG_FULL_RESOURCE_DESCRIPTOR, EntryForm::kHexList, "hex(9)"},
    {REG_RESOURCE_REQUIREMENTS_LIST, EntryForm::kHexList, "hex(a)"},
    {REG_QWORD, EntryForm::kHexList, "hex(b)"},
}};

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

// The front of an entry: the quoted name, or "@" for the unnamed value.
std::string EntryHead(const std::string& escaped_name) {
  if (escaped_name.empty()) return "@";
  std::string head;
  head.reserve(escaped_name.size() + 2);
  head += '"';
  head += escaped_name;
  head += '"';
  return head;
}

}  // namespace

uint8_t RootIndexOf(HKEY root) {
  for (uint8_t index = 0; index < 6; ++index) {
    if (RootKeyTable[index].key == root) return index;
  }
  return 6;
}

std::string WithLeadingBackslash(const std::string& path) {
  if (!path.empty() && path.front() == '\\') return path;
  return "\\" + path;
}

std::string SectionLine(const std::string& root_name, const std::string& path) {
  if (path.empty()) return "[" + root_name + "]";
  return "[" + root_name + WithLeadingBackslash(path) + "]";
}

std::string EscapeText(std::string_view text) {
  const LeadByteTable& bytes = AnsiLeadBytes();
  std::string escaped;
  escaped.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (bytes.lead[static_cast<unsigned char>(c)] && i + 1 < text.size()) {
      // A double-byte character: its second byte may be a backslash (表).
      escaped += c;
      escaped += text[++i];
    } else if (c == '\\') {
      escaped += "\\\\";
    } else if (c == '"') {
      escaped += "\\\"";
    } else if (c == '\n') {
      escaped += "\r\n";
    } else {
      escaped += c;
    }
  }
  return escaped;
}

bool KeyPathFits(std::string_view path) {
  return path.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

bool ValueNameFits(std::string_view name, DWORD type) {
  if (ValueEntryRowOf(type).form == EntryForm::kLinkComment) return KeyPathFits(name);
  return name.find('\0') == std::string_view::npos;
}

std::string ShownName(std::string_view name) {
  std::string shown;
  shown.reserve(name.size());
  for (const char c : name) {
    if (c == '\r') {
      shown += "<CR>";
    } else if (c == '\n') {
      shown += "<LF>";
    } else if (c == '\0') {
      shown += "<NUL>";
    } else {
      shown += c;
    }
  }
  return shown;
}

std::string HexList(std::string_view bytes) {
  if (bytes.empty()) return std::string();
  std::string list(bytes.size() * 3 - 1, ',');
  for (size_t i = 0; i < bytes.size(); ++i) {
    const auto byte = static_cast<unsigned char>(bytes[i]);
    list[i * 3] = kHexDigits[byte >> 4];
    list[i * 3 + 1] = kHexDigits[byte & 0x0f];
  }
  return list;
}

ValueEntryRow ValueEntryRowOf(DWORD type) {
  if (type < ValueEntryTable.size()) return ValueEntryTable[type];
  return {type, EntryForm::kHexList, nullptr};
}

std::string TypeTag(DWORD type) {
  const ValueEntryRow row = ValueEntryRowOf(type);
  if (row.tag != nullptr) return row.tag;
  char tag[24];
  std::snprintf(tag, sizeof tag, "hex(%lx)", static_cast<unsigned long>(type));
  return tag;
}

std::string HexEntry(const std::string& escaped_name, DWORD type, std::string_view hex_list) {
  std::string entry = EntryHead(escaped_name);
  entry += '=';
  entry += TypeTag(type);
  entry += ':';
  entry += hex_list;
  return entry;
}

std::string StringEntry(const std::string& escaped_name, std::string_view escaped_text) {
  std::string entry = EntryHead(escaped_name);
  entry += "=\"";
  entry += escaped_text;
  entry += '"';
  return entry;
}

std::string DwordEntry(const std::string& escaped_name, int32_t number) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%08lx",
                static_cast<unsigned long>(static_cast<uint32_t>(number)));
  return EntryHead(escaped_name) + "=dword:" + digits;
}

std::string LinkComment(const std::string& escaped_name) {
  return ";\"" + escaped_name + "\"=REG_LINK not supported";
}

}  // namespace orvik
