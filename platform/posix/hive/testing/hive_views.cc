// The four readers' views of a hive, for the tests.
#include "platform/posix/hive/testing/hive_views.h"

#include <hivex.h>
#include <libregf.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>

#include "platform/posix/codepage.h"
#include "platform/posix/hive/hive_recovery.h"
#include "platform/posix/hive/hive_walk.h"

namespace orvik::posix::hive::test {

namespace {

std::string Hex(const void* data, size_t size) {
  static const char kDigits[] = "0123456789ABCDEF";
  const auto* p = static_cast<const uint8_t*>(data);
  std::string out;
  out.reserve(size * 2);
  for (size_t i = 0; i < size; ++i) {
    out.push_back(kDigits[p[i] >> 4]);
    out.push_back(kDigits[p[i] & 15]);
  }
  return out;
}
std::string Hex(const std::string& bytes) { return Hex(bytes.data(), bytes.size()); }

std::string Utf8(const std::u16string& wide) { return WideToUtf8(wide); }

std::string KeyLine(const std::string& path, const ViewFields& fields, const std::string& class_hex,
                    const std::string& sd_hex, int64_t time) {
  return "K|" + path + "|" + (fields.classes ? class_hex : "") + "|" +
         (fields.security ? sd_hex : "") + "|" + (fields.times ? std::to_string(time) : "");
}

std::string ValueLine(const std::string& path, const std::string& name, uint32_t type,
                      std::string data_hex, const ViewFields& fields) {
  if (fields.libregf_data) {
    if (data_hex.size() > 0 && data_hex.size() < 8) data_hex = "(short)";
    if (type == 1 || type == 2) {
      for (size_t i = 0; i + 4 <= data_hex.size(); i += 4) {
        if (data_hex.compare(i, 4, "0000") == 0) {
          data_hex.resize(i);
          break;
        }
      }
    }
  }
  return "V|" + path + "|" + name + "|" + std::to_string(type) + "|" + data_hex;
}

class OurVisitor : public HiveVisitor {
 public:
  explicit OurVisitor(const ViewFields& fields) : fields_(fields) {}
  LONG EnterKey(const KeyNode& key, const std::u16string& class_name,
                const std::string& security) override {
    path_.push_back(path_.empty() ? "" : Utf8(key.name));
    std::string class_bytes = WideToBytes(class_name);
    lines.push_back(KeyLine(Path(), fields_, Hex(class_bytes), Hex(security), key.last_write));
    return ERROR_SUCCESS;
  }
  LONG Value(const ValueNode& value, const std::string& data) override {
    lines.push_back(ValueLine(Path(), Utf8(value.name), value.type, Hex(data), fields_));
    return ERROR_SUCCESS;
  }
  LONG LeaveKey(const KeyNode&) override {
    path_.pop_back();
    return ERROR_SUCCESS;
  }
  std::vector<std::string> lines;

 private:
  std::string Path() const {
    std::string out;
    for (size_t i = 1; i < path_.size(); ++i) out += "\\" + path_[i];
    return out;
  }
  const ViewFields& fields_;
  std::vector<std::string> path_;
};

void HivexKey(hive_h* h, hive_node_h node, const std::string& path, const ViewFields& fields,
              std::vector<std::string>& lines, long* error) {
  lines.push_back(KeyLine(path, fields, "", "", hivex_node_timestamp(h, node)));
  hive_value_h* values = hivex_node_values(h, node);
  if (values == nullptr) {
    *error = 1;
    return;
  }
  for (size_t i = 0; values[i] != 0; ++i) {
    char* name = hivex_value_key(h, values[i]);
    // hivex hands any type code out as its enum; read it as the number it is.
    uint32_t type = 0;
    size_t length = 0;
    char* data = hivex_value_value(h, values[i], reinterpret_cast<hive_type*>(&type), &length);
    if (name == nullptr || data == nullptr) *error = 1;
    lines.push_back(ValueLine(path, name != nullptr ? name : "", type,
                              data != nullptr ? Hex(data, length) : "", fields));
    free(name);
    free(data);
  }
  free(values);
  hive_node_h* children = hivex_node_children(h, node);
  if (children == nullptr) {
    *error = 1;
    return;
  }
  for (size_t i = 0; children[i] != 0; ++i) {
    char* name = hivex_node_name(h, children[i]);
    HivexKey(h, children[i], path + "\\" + (name != nullptr ? name : ""), fields, lines, error);
    free(name);
  }
  free(children);
}

std::u16string RegfKeyName(libregf_key_t* key) {
  size_t size = 0;
  if (libregf_key_get_utf16_name_size(key, &size, nullptr) != 1 || size == 0) return u"";
  std::u16string name(size, u'\0');
  libregf_key_get_utf16_name(key, reinterpret_cast<uint16_t*>(name.data()), size, nullptr);
  name.resize(size - 1);
  return name;
}

void RegfKey(libregf_key_t* key, const std::string& path, const ViewFields& fields,
             std::vector<std::string>& lines, long* error) {
  std::string class_bytes;
  size_t size = 0;
  if (libregf_key_get_utf16_class_name_size(key, &size, nullptr) == 1 && size > 1) {
    std::u16string class_name(size, u'\0');
    libregf_key_get_utf16_class_name(key, reinterpret_cast<uint16_t*>(class_name.data()), size,
                                     nullptr);
    class_name.resize(size - 1);
    class_bytes = WideToBytes(class_name);
  }
  std::string sd;
  if (libregf_key_get_security_descriptor_size(key, &size, nullptr) == 1 && size > 0) {
    sd.resize(size);
    libregf_key_get_security_descriptor(key, reinterpret_cast<uint8_t*>(sd.data()), size, nullptr);
  }
  uint64_t time = 0;
  libregf_key_get_last_written_time(key, &time, nullptr);
  lines.push_back(KeyLine(path, fields, Hex(class_bytes), Hex(sd), static_cast<int64_t>(time)));
  int count = 0;
  if (libregf_key_get_number_of_values(key, &count, nullptr) != 1) *error = 1;
  for (int i = 0; i < count; ++i) {
    libregf_value_t* value = nullptr;
    if (libregf_key_get_value(key, i, &value, nullptr) != 1) {
      *error = 1;
      continue;
    }
    std::u16string name;
    if (libregf_value_get_utf16_name_size(value, &size, nullptr) == 1 && size > 1) {
      name.assign(size, u'\0');
      libregf_value_get_utf16_name(value, reinterpret_cast<uint16_t*>(name.data()), size, nullptr);
      name.resize(size - 1);
    }
    uint32_t type = 0;
    libregf_value_get_value_type(value, &type, nullptr);
    std::string data;
    if (libregf_value_get_value_data_size(value, &size, nullptr) == 1 && size > 0) {
      data.resize(size);
      if (libregf_value_get_value_data(value, reinterpret_cast<uint8_t*>(data.data()), size,
                                       nullptr) != 1) {
        *error = 1;
      }
    }
    lines.push_back(ValueLine(path, Utf8(name), type, Hex(data), fields));
    libregf_value_free(&value, nullptr);
  }
  if (libregf_key_get_number_of_sub_keys(key, &count, nullptr) != 1) *error = 1;
  for (int i = 0; i < count; ++i) {
    libregf_key_t* child = nullptr;
    if (libregf_key_get_sub_key(key, i, &child, nullptr) != 1) {
      *error = 1;
      continue;
    }
    RegfKey(child, path + "\\" + Utf8(RegfKeyName(child)), fields, lines, error);
    libregf_key_free(&child, nullptr);
  }
}

std::string TimeText(int64_t filetime) {
  const time_t seconds = static_cast<time_t>(filetime / 10000000 - 11644473600LL);
  tm parts{};
  gmtime_r(&seconds, &parts);
  char text[32];
  strftime(text, sizeof(text), "%Y-%m-%d %H:%M:%S", &parts);
  return text;
}

std::string TypeName(uint32_t type) {
  static const char* const kNames[] = {"NONE",      "SZ",        "EXPAND_SZ",     "BINARY",
                                       "DWORD",     "DWORD_BE",  "LINK",          "MULTI_SZ",
                                       "RSRC_LIST", "RSRC_DESC", "RSRC_REQ_LIST", "QWORD"};
  if (type < 12) return kNames[type];
  char text[16];
  snprintf(text, sizeof(text), "0x%08X", type);
  return text;
}

std::string Unescape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      out.push_back(static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16)));
      i += 2;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

// Splits reglookup's path at its separators and decodes each name.
std::vector<std::string> PathNames(const std::string& path) {
  std::vector<std::string> names;
  size_t start = 1;
  while (start <= path.size()) {
    const size_t slash = path.find('/', start);
    const size_t end = slash == std::string::npos ? path.size() : slash;
    names.push_back(Unescape(path.substr(start, end - start)));
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  return names;
}

std::string JoinNames(const std::vector<std::string>& names, size_t count) {
  std::string out;
  for (size_t i = 0; i < count; ++i) out += "\\" + names[i];
  return out;
}

// A name as reglookup prints it: ASCII as it is, any other name as its
// stored bytes (8-bit or UTF-16LE).
std::string ReglookupName(const std::u16string& name) {
  std::string out;
  const bool narrow = std::all_of(name.begin(), name.end(), [](char16_t c) { return c < 0x100; });
  if (narrow) {
    for (char16_t c : name) out.push_back(static_cast<char>(c));
    return out;
  }
  return WideToBytes(name);
}

class ReglookupVisitor : public HiveVisitor {
 public:
  LONG EnterKey(const KeyNode& key, const std::u16string&, const std::string&) override {
    path_.push_back(path_.empty() ? "" : ReglookupName(key.name));
    lines.push_back("K|" + Path() + "|" + TimeText(key.last_write));
    return ERROR_SUCCESS;
  }
  LONG Value(const ValueNode& value, const std::string& data) override {
    std::string shown;
    if (value.type == 3) shown = Hex(data);
    if (value.type == 4 && data.size() == 4) shown = Hex(data);
    lines.push_back("V|" + Path() + "|" + ReglookupName(value.name) + "|" + TypeName(value.type) +
                    "|" + shown);
    return ERROR_SUCCESS;
  }
  LONG LeaveKey(const KeyNode&) override {
    path_.pop_back();
    return ERROR_SUCCESS;
  }
  std::vector<std::string> lines;

 private:
  std::string Path() const {
    std::string out;
    for (size_t i = 1; i < path_.size(); ++i) out += "\\" + path_[i];
    return out;
  }
  std::vector<std::string> path_;
};

}  // namespace

std::vector<std::string> OurView(const std::string& file, const ViewFields& fields, long* error) {
  *error = 0;
  std::unique_ptr<HiveReader> reader;
  LONG rc = HiveReader::Open(file, &reader);
  OurVisitor visitor(fields);
  if (rc == ERROR_SUCCESS) rc = WalkHive(*reader, visitor);
  *error = rc;
  return rc == ERROR_SUCCESS ? visitor.lines : std::vector<std::string>{};
}

std::vector<std::string> RecoveredView(const std::string& file, const ViewFields& fields,
                                       long* error) {
  RecoveredHive hive;
  LONG rc = OpenRecoveredHive(file, &hive);
  OurVisitor visitor(fields);
  if (rc == ERROR_SUCCESS) rc = WalkHive(*hive.reader, visitor);
  *error = rc;
  return rc == ERROR_SUCCESS ? visitor.lines : std::vector<std::string>{};
}

std::vector<std::string> HivexView(const std::string& file, const ViewFields& fields, long* error) {
  *error = 0;
  std::vector<std::string> lines;
  hive_h* h = hivex_open(file.c_str(), 0);
  if (h == nullptr) {
    *error = 1;
    return lines;
  }
  HivexKey(h, hivex_root(h), "", fields, lines, error);
  hivex_close(h);
  if (*error != 0) lines.clear();
  return lines;
}

std::vector<std::string> LibregfView(const std::string& file, const ViewFields& fields,
                                     long* error) {
  *error = 0;
  std::vector<std::string> lines;
  libregf_file_t* regf = nullptr;
  libregf_key_t* root = nullptr;
  if (libregf_file_initialize(&regf, nullptr) != 1 ||
      libregf_file_open(regf, file.c_str(), LIBREGF_OPEN_READ, nullptr) != 1 ||
      libregf_file_get_root_key(regf, &root, nullptr) != 1) {
    *error = 1;
  } else {
    RegfKey(root, "", fields, lines, error);
    libregf_key_free(&root, nullptr);
  }
  if (regf != nullptr) {
    libregf_file_close(regf, nullptr);
    libregf_file_free(&regf, nullptr);
  }
  if (*error != 0) lines.clear();
  return lines;
}

std::vector<std::string> ReglookupView(const std::string& file, long* error) {
  *error = 0;
  std::vector<std::string> lines;
  const std::string command = "reglookup -H '" + file + "' 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) {
    *error = 1;
    return lines;
  }
  std::string output;
  char buffer[65536];
  size_t n = 0;
  while ((n = fread(buffer, 1, sizeof(buffer), pipe)) > 0) output.append(buffer, n);
  if (pclose(pipe) != 0) *error = 1;
  size_t start = 0;
  while (start < output.size()) {
    size_t end = output.find('\n', start);
    if (end == std::string::npos) end = output.size();
    const std::string line = output.substr(start, end - start);
    start = end + 1;
    // PATH,TYPE,VALUE,MTIME; the fields escape their commas.
    std::vector<std::string> parts;
    size_t from = 0;
    for (;;) {
      const size_t comma = line.find(',', from);
      parts.push_back(line.substr(from, comma - from));
      if (comma == std::string::npos) break;
      from = comma + 1;
    }
    if (parts.size() < 4) continue;
    // A value of the root is "//name".
    std::vector<std::string> names =
        PathNames(parts[0].rfind("//", 0) == 0 ? parts[0].substr(1) : parts[0]);
    if (parts[1] == "KEY") {
      if (parts[0] == "/") names.clear();
      lines.push_back("K|" + JoinNames(names, names.size()) + "|" + parts[3]);
      continue;
    }
    std::string shown;
    if (parts[1] == "BINARY") {
      const std::string bytes = Unescape(parts[2]);
      shown = Hex(bytes.data(), bytes.size());
    } else if (parts[1] == "DWORD" && parts[2].size() == 10) {
      const auto v = static_cast<uint32_t>(std::stoul(parts[2].substr(2), nullptr, 16));
      const uint8_t bytes[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                                static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)};
      shown = Hex(bytes, 4);
    }
    lines.push_back("V|" + JoinNames(names, names.size() - 1) + "|" + names.back() + "|" +
                    parts[1] + "|" + shown);
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

std::vector<std::string> OurReglookupView(const std::string& file, long* error) {
  std::unique_ptr<HiveReader> reader;
  LONG rc = HiveReader::Open(file, &reader);
  ReglookupVisitor visitor;
  if (rc == ERROR_SUCCESS) rc = WalkHive(*reader, visitor);
  *error = rc;
  std::sort(visitor.lines.begin(), visitor.lines.end());
  return visitor.lines;
}

::testing::AssertionResult SameLines(const std::vector<std::string>& expected,
                                     const std::vector<std::string>& actual) {
  auto shorten = [](const std::string& line) {
    return line.size() > 160 ? line.substr(0, 160) + "..." : line;
  };
  const size_t n = std::min(expected.size(), actual.size());
  for (size_t i = 0; i < n; ++i) {
    if (expected[i] != actual[i]) {
      size_t at = 0;
      while (at < expected[i].size() && at < actual[i].size() && expected[i][at] == actual[i][at]) {
        ++at;
      }
      const size_t from = at > 60 ? at - 60 : 0;
      return ::testing::AssertionFailure()
             << "line " << i << " differs at " << at << "\n expected: ..."
             << shorten(expected[i].substr(from)) << "\n actual:   ..."
             << shorten(actual[i].substr(from));
      return ::testing::AssertionFailure()
             << "line " << i << "\n expected: " << shorten(expected[i])
             << "\n actual:   " << shorten(actual[i]);
    }
  }
  if (expected.size() != actual.size()) {
    return ::testing::AssertionFailure()
           << expected.size() << " lines expected, " << actual.size() << " seen";
  }
  return ::testing::AssertionSuccess();
}

std::string RealHivesFolder() {
  // ORVIK_REAL_HIVES names the folder; else the first of the usual places.
  if (const char* env = getenv("ORVIK_REAL_HIVES")) return env;
  const std::string places = ORVIK_REAL_HIVES_DIRS;
  for (size_t from = 0; from < places.size();) {
    size_t colon = places.find(':', from);
    if (colon == std::string::npos) colon = places.size();
    const std::string place = places.substr(from, colon - from);
    struct stat info {};
    if (stat(place.c_str(), &info) == 0) return place;
    from = colon + 1;
  }
  return "";
}

std::vector<std::string> UnpackRealHives(const std::string& directory) {
  const std::string source = RealHivesFolder();
  std::vector<std::string> names;
  for (const char* name : {"BCD", "SAM", "NTUSER.DAT", "UsrClass.dat", "amcache.hve", "SYSTEM",
                           "corrupted_system_hive"}) {
    const std::string packed = source + "/" + name + ".xz";
    struct stat info {};
    if (stat(packed.c_str(), &info) != 0) continue;
    const std::string command =
        "xz -dc '" + packed + "' > '" + directory + "/" + name + "' 2>/dev/null";
    if (system(command.c_str()) == 0) names.push_back(name);
  }
  return names;
}

std::string OtherSecurity() {
  std::string sd(20, '\0');
  sd[0] = 1;
  sd[3] = static_cast<char>(0x80);
  sd[4] = 20;
  sd[8] = 20;
  const char sid[] = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};
  sd.append(sid, sizeof(sid));
  return sd;
}

}  // namespace orvik::posix::hive::test
