// Reading, writing, enumerating and removing values: types, stored forms,
// the ANSI code page, buffer sizes, names and order.
#include <string>
#include <vector>

#include "platform/posix/testing/registry_fixture.h"

namespace orvik::posix {
namespace {

class ValuesTest : public RegistryTest {
 protected:
  void SetUp() override {
    RegistryTest::SetUp();
    key_ = Create(HKEY_CURRENT_USER, "Software\\Values");
  }
  void TearDown() override {
    RegCloseKey(key_);
    RegistryTest::TearDown();
  }
  // The value's bytes as RegQueryValueExW returns them (the stored form).
  std::string GetStored(const std::u16string& name) {
    DWORD size = 0;
    if (RegQueryValueExW(key_, name.c_str(), nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS) {
      return "<error>";
    }
    std::string data(size, '\0');
    EXPECT_EQ(RegQueryValueExW(key_, name.c_str(), nullptr, nullptr,
                               reinterpret_cast<BYTE*>(data.data()), &size),
              ERROR_SUCCESS);
    return data;
  }

  HKEY key_ = nullptr;
};

std::string Bytes(std::initializer_list<int> bytes) {
  std::string out;
  for (int b : bytes) out.push_back(static_cast<char>(b));
  return out;
}

TEST_F(ValuesTest, EveryTypeRoundTrips) {
  struct Case {
    std::string name;
    DWORD type;
    std::string data;
  };
  const Case cases[] = {
      {"sz", REG_SZ, std::string("text\0", 5)},
      {"expand", REG_EXPAND_SZ, std::string("%PATH%\0", 7)},
      {"multi", REG_MULTI_SZ, std::string("a\0b\0\0", 5)},
      {"sz without zero", REG_SZ, "abc"},
      {"empty sz", REG_SZ, ""},
      {"binary", REG_BINARY, Bytes({0, 1, 0xFF, 0})},
      {"dword", REG_DWORD, Bytes({0x78, 0x56, 0x34, 0x12})},
      {"big endian", REG_DWORD_BIG_ENDIAN, Bytes({0x12, 0x34, 0x56, 0x78})},
      {"qword", REG_QWORD, Bytes({1, 2, 3, 4, 5, 6, 7, 8})},
      {"none", REG_NONE, Bytes({0, 0x80})},
      {"odd type", 0xFEDCBA98, Bytes({9, 8, 7})},
      {"empty binary", REG_BINARY, ""},
  };
  for (const auto& c : cases) SetBytes(key_, c.name, c.type, c.data);
  for (const auto& c : cases) {
    DWORD type = 0;
    EXPECT_EQ(Get(key_, c.name, &type), c.data) << c.name;
    EXPECT_EQ(type, c.type) << c.name;
  }
}

TEST_F(ValuesTest, StringTypesAreStoredAsUtf16) {
  SetString(key_, "sz", "h\xC3\xA9");                                            // hé
  SetBytes(key_, "multi", REG_MULTI_SZ, std::string("a\0\xE2\x82\xAC\0\0", 7));  // a, €
  SetBytes(key_, "bin", REG_BINARY, "h\xC3\xA9");
  EXPECT_EQ(GetStored(u"sz"), Bytes({'h', 0, 0xE9, 0, 0, 0}));
  EXPECT_EQ(GetStored(u"multi"), Bytes({'a', 0, 0, 0, 0xAC, 0x20, 0, 0, 0, 0}));
  EXPECT_EQ(GetStored(u"bin"), "h\xC3\xA9");

  // Data written in the stored form reads back in the ANSI form.
  const std::string wide = Bytes({0x70, 0x65, 0x16, 0x52, 0, 0});  // U+6570, U+5216
  ASSERT_EQ(
      RegSetValueExW(key_, u"w\u00E4", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(wide.data()),
                     static_cast<DWORD>(wide.size())),
      ERROR_SUCCESS);
  EXPECT_EQ(Get(key_, "W\xC3\x84"), std::string("\xE6\x95\xB0\xE5\x88\x96\0", 7));
  EXPECT_EQ(GetStored(u"W\u00C4"), wide);
}

TEST_F(ValuesTest, InvalidUtf8SurvivesInNamesAndData) {
  const std::string samples[] = {
      "\xFF",
      "a\x80z",
      "\xC3",                  // truncated sequence
      "\xC3\xA4\xFF\xC3\xA4",  // valid, invalid, valid
      "\xED\xA0\x80",          // an encoded surrogate
      "\xED\xB2\x80",          // the encoding of an escape unit itself
      "\xF4\x90\x80\x80",      // beyond U+10FFFF
      "\xE0\x80\xAF",          // overlong
      "\xC0\xAF\xFE\xFE",
  };
  for (const auto& sample : samples) {
    SCOPED_TRACE(testing::PrintToString(sample));
    SetString(key_, sample, sample);
    SetBytes(key_, sample + "m", REG_MULTI_SZ, sample + std::string("\0\0", 2));
    EXPECT_EQ(Get(key_, sample), sample + std::string(1, '\0'));
    EXPECT_EQ(Get(key_, sample + "m"), sample + std::string("\0\0", 2));
    HKEY sub = Create(key_, "k" + sample);
    RegCloseKey(sub);
  }
  std::vector<std::string> names = ValueNames(key_);
  std::vector<std::string> expected;
  for (const auto& sample : samples) {
    expected.push_back(sample);
    expected.push_back(sample + "m");
  }
  EXPECT_EQ(names, expected);
  for (const auto& sub : SubKeys(key_)) {
    HKEY key = nullptr;
    EXPECT_EQ(Open(key_, sub, KEY_READ, &key), ERROR_SUCCESS) << testing::PrintToString(sub);
    RegCloseKey(key);
  }
  EXPECT_EQ(SubKeys(key_).size(), std::size(samples));
}

TEST_F(ValuesTest, QueryValueSizes) {
  // "日本" takes 6 bytes in the ANSI form and 4 (plus 2 for the zero) stored.
  const std::string text = "\xE6\x97\xA5\xE6\x9C\xAC";
  SetString(key_, "v", text);
  DWORD type = 0;
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(key_, "v", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 7u);
  EXPECT_EQ(type, REG_SZ);
  char buffer[16];
  size = 6;
  EXPECT_EQ(RegQueryValueExA(key_, "v", nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size),
            ERROR_MORE_DATA);
  EXPECT_EQ(size, 7u);
  size = 7;
  EXPECT_EQ(RegQueryValueExA(key_, "v", nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(std::string(buffer, size), text + std::string(1, '\0'));
  size = 5;
  EXPECT_EQ(RegQueryValueExW(key_, u"v", nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size),
            ERROR_MORE_DATA);
  EXPECT_EQ(size, 6u);
  type = 0;
  EXPECT_EQ(RegQueryValueExA(key_, "v", nullptr, &type, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(RegQueryValueExA(key_, "v", nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), nullptr),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegQueryValueExA(key_, "missing", nullptr, nullptr, nullptr, &size),
            ERROR_FILE_NOT_FOUND);

  // The key information's largest data fits the ANSI form too.
  DWORD max_data = 0;
  ASSERT_EQ(RegQueryInfoKeyA(key_, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                             nullptr, &max_data, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(max_data, 7u);
}

TEST_F(ValuesTest, EnumValueSizes) {
  SetString(key_, "name", "data");
  char name[8];
  BYTE data[8];
  DWORD name_length = 4;  // no room for the zero
  DWORD size = sizeof(data);
  DWORD type = 0;
  EXPECT_EQ(RegEnumValueA(key_, 0, name, &name_length, nullptr, &type, data, &size),
            ERROR_MORE_DATA);
  name_length = 5;
  size = 4;
  EXPECT_EQ(RegEnumValueA(key_, 0, name, &name_length, nullptr, &type, data, &size),
            ERROR_MORE_DATA);
  EXPECT_EQ(size, 5u);
  name_length = 5;
  size = 5;
  EXPECT_EQ(RegEnumValueA(key_, 0, name, &name_length, nullptr, &type, data, &size), ERROR_SUCCESS);
  EXPECT_EQ(std::string(name, name_length), "name");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data), size), std::string("data\0", 5));
  EXPECT_EQ(type, REG_SZ);
  name_length = 5;
  size = 0;
  EXPECT_EQ(RegEnumValueA(key_, 0, name, &name_length, nullptr, nullptr, nullptr, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(size, 5u);
  name_length = sizeof(name);
  EXPECT_EQ(RegEnumValueA(key_, 1, name, &name_length, nullptr, nullptr, nullptr, nullptr),
            ERROR_NO_MORE_ITEMS);
  EXPECT_EQ(RegEnumValueA(key_, 0, name, &name_length, nullptr, nullptr, data, nullptr),
            ERROR_INVALID_PARAMETER);
}

TEST_F(ValuesTest, LargeValuesAreReadWhole) {
  std::string big(16 * 1024 * 1024 + 3, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + i / 251);
  SetBytes(key_, "big", REG_BINARY, big);
  SetBytes(key_, "small", REG_BINARY, "s");
  EXPECT_EQ(Get(key_, "big"), big);
  // Enumeration reads the data of a large value on demand.
  std::string data(big.size(), '\0');
  char name[8];
  DWORD name_length = sizeof(name);
  DWORD size = static_cast<DWORD>(data.size());
  ASSERT_EQ(RegEnumValueA(key_, 0, name, &name_length, nullptr, nullptr,
                          reinterpret_cast<BYTE*>(data.data()), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(size, big.size());
  EXPECT_TRUE(data == big);
}

TEST_F(ValuesTest, ValueNames) {
  // The empty and the null name are both the unnamed value.
  ASSERT_EQ(RegSetValueExA(key_, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>("d"), 2),
            ERROR_SUCCESS);
  EXPECT_EQ(Get(key_, ""), std::string("d\0", 2));
  EXPECT_EQ(ValueNames(key_), std::vector<std::string>{""});
  EXPECT_EQ(RegDeleteValueA(key_, ""), ERROR_SUCCESS);
  EXPECT_EQ(RegQueryValueExA(key_, nullptr, nullptr, nullptr, nullptr, nullptr),
            ERROR_FILE_NOT_FOUND);

  // Names compare without case, Unicode letters included; the first
  // spelling stays.
  SetString(key_, "\xC3\x84rger", "1");  // Ärger
  SetString(key_, "\xC3\xA4RGER", "2");
  EXPECT_EQ(ValueNames(key_), std::vector<std::string>{"\xC3\x84rger"});
  EXPECT_EQ(Get(key_, "\xC3\xA4rger"), std::string("2\0", 2));

  const std::string longest(16383, 'n');
  const std::string too_long(16384, 'n');
  SetString(key_, longest, "ok");
  EXPECT_EQ(Get(key_, longest), std::string("ok\0", 3));
  EXPECT_EQ(RegSetValueExA(key_, too_long.c_str(), 0, REG_SZ, nullptr, 0), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegQueryValueExA(key_, too_long.c_str(), nullptr, nullptr, nullptr, nullptr),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegDeleteValueA(key_, too_long.c_str()), ERROR_INVALID_PARAMETER);
}

TEST_F(ValuesTest, ValuesKeepCreationOrder) {
  for (const char* name : {"zeta", "alpha", "Mid", "beta"}) SetString(key_, name, name);
  SetString(key_, "ALPHA", "again");  // overwriting keeps the place
  ASSERT_EQ(RegDeleteValueA(key_, "mid"), ERROR_SUCCESS);
  SetString(key_, "Mid", "back");  // a removed value comes back at the end
  EXPECT_EQ(ValueNames(key_), (std::vector<std::string>{"zeta", "alpha", "beta", "Mid"}));
  EXPECT_EQ(Get(key_, "alpha"), std::string("again\0", 6));
  EXPECT_EQ(RegDeleteValueA(key_, "mid"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueA(key_, "mid"), ERROR_FILE_NOT_FOUND);
}

// Reads after a listing are answered from it: whatever the order and the
// spelling of the names, each read gets its own value, and the ANSI form
// kept for one value never answers for another or for a wide read.
TEST_F(ValuesTest, ReadsFromAListingFindEachValueInAnyOrderAndCase) {
  SetString(key_, "First", "one");
  SetString(key_, "Second", "two \xC3\xA9");
  SetBytes(key_, "Third", REG_BINARY, Bytes({3, 0, 3}));
  SetString(key_, "Large", std::string(3000, 'x'));  // not carried with the listing
  SetString(key_, "Fifth", "five");
  SetString(key_, "Caf\xC3\xA9", "six");
  ASSERT_EQ(ValueNames(key_), (std::vector<std::string>{"First", "Second", "Third", "Large",
                                                        "Fifth", "Caf\xC3\xA9"}));
  const std::string large = std::string(3000, 'x') + std::string(1, '\0');
  struct Case {
    const char* name;
    std::string expected;
  };
  const Case reads[] = {
      {"First", std::string("one\0", 4)},
      {"Second", std::string("two \xC3\xA9\0", 7)},
      {"Third", Bytes({3, 0, 3})},
      {"Large", large},
      {"Fifth", std::string("five\0", 5)},
      {"Caf\xC3\xA9", std::string("six\0", 4)},  // not ASCII
      {"CAF\xC3\x89", std::string("six\0", 4)},
      {"Fifth", std::string("five\0", 5)},
      {"Caf", "<error 2>"},  // a part of the next name, or more than it
      {"Caf\xC3\xA9s", "<error 2>"},
      {"Second", std::string("two \xC3\xA9\0", 7)},  // backwards
      {"FIRST", std::string("one\0", 4)},            // another case
      {"fifth", std::string("five\0", 5)},
      {"Missing", "<error 2>"},
      {"Thir", "<error 2>"},
      {"Thirds", "<error 2>"},
      {"second", std::string("two \xC3\xA9\0", 7)},
  };
  for (const Case& read : reads) EXPECT_EQ(Get(key_, read.name), read.expected) << read.name;
  // The wide form of a string after its ANSI form, and the ANSI form again.
  EXPECT_EQ(GetStored(u"Second"), std::string("t\0w\0o\0 \0\xE9\0\0\0", 12));
  EXPECT_EQ(Get(key_, "Second"), std::string("two \xC3\xA9\0", 7));
  // A buffer too small reports the size of the ANSI form.
  BYTE small[2];
  DWORD size = sizeof(small);
  EXPECT_EQ(RegQueryValueExA(key_, "Second", nullptr, nullptr, small, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 7u);
}

TEST_F(ValuesTest, KeyInformationCountsAnsiBytes) {
  SetString(key_, "\xC3\xA4\xC3\xA4\xC3\xA4", "x");       // three letters, six bytes
  SetString(key_, "\xFF\xFE", "x");                       // two invalid bytes
  RegCloseKey(Create(key_, "\xE2\x82\xAC\xE2\x82\xAC"));  // two letters, six bytes
  RegCloseKey(Create(key_, "ab"));
  DWORD subkeys = 0, max_subkey = 0, values = 0, max_name = 0, max_data = 0, security = 1;
  ASSERT_EQ(RegQueryInfoKeyA(key_, nullptr, nullptr, nullptr, &subkeys, &max_subkey, nullptr,
                             &values, &max_name, &max_data, &security, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(subkeys, 2u);
  EXPECT_EQ(max_subkey, 6u);
  EXPECT_EQ(values, 2u);
  EXPECT_EQ(max_name, 6u);
  EXPECT_EQ(max_data, 4u);  // "x" stored as 2 UTF-16 units
  EXPECT_EQ(security, 0u);
  // A name buffer sized from the information always fits.
  std::vector<char> name(max_name + 1);
  for (DWORD i = 0; i < values; ++i) {
    DWORD length = max_name + 1;
    EXPECT_EQ(RegEnumValueA(key_, i, name.data(), &length, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
  }
}

TEST_F(ValuesTest, SetValueArguments) {
  EXPECT_EQ(RegSetValueExA(key_, "v", 0, REG_BINARY, nullptr, 4), ERROR_NOACCESS);
  EXPECT_EQ(RegSetValueExA(key_, "v", 0, REG_SZ, nullptr, 0), ERROR_SUCCESS);
  EXPECT_EQ(Get(key_, "v"), "");
  EXPECT_EQ(
      RegQueryValueExA(key_, "v", reinterpret_cast<LPDWORD>(&key_), nullptr, nullptr, nullptr),
      ERROR_INVALID_PARAMETER);
}

}  // namespace
}  // namespace orvik::posix
