// Tests of the text conversions behind value writing: integer text,
// hexadecimal byte text and the wide form of REG_NONE.
#include "manip/value_write.h"

#include <gtest/gtest.h>

#include <string>

#include "manip/value_render.h"
#include "registry/registry.h"
#include "registry/test_registry.h"
#include "tests/support/code_page_932.h"

namespace orvik {
namespace {

std::string ConvertMessage(const std::string& text) {
  return "'" + text + "' is not a valid integer value";
}

struct IntCase {
  std::string text;
  int32_t value;
};

TEST(TextToInt32Test, AcceptsDecimalAndHexadecimalForms) {
  const IntCase cases[] = {
      {"12", 12},
      {"0", 0},
      {"-0", 0},
      {"+7", 7},
      {"-1", -1},
      {"010", 10},  // a leading zero is not octal
      {" 7", 7},
      {"   -42", -42},
      {"2147483647", 2147483647},
      {"-2147483648", INT32_MIN},
      {"0000000000012", 12},
      {"$10", 16},
      {"x10", 16},
      {"X10", 16},
      {"0x10", 16},
      {"0X10", 16},
      {" $a", 10},
      {"$aBcD", 0xABCD},
      {"0xffffffff", -1},
      {"$80000000", INT32_MIN},
      {"$7FFFFFFF", 2147483647},
      {"$000000000001", 1},  // leading zeros are not significant digits
      {"$0FFFFFFFF", -1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TextToInt32(c.text), c.value) << "text: '" << c.text << "'";
  }
}

TEST(TextToInt32Test, RejectsWithTheWholeTextInTheMessage) {
  const std::string rejected[] = {
      "",
      "   ",
      "7 ",
      "1.5",
      "4294967295",
      "2147483648",
      "-2147483649",
      "99999999999999999999",
      "+",
      "-",
      "+-1",
      "--1",
      "$",
      "0x",
      "x",
      "$ 1",
      "$1 ",
      "$g",
      "-$10",  // a sign does not combine with a hexadecimal prefix
      "-0x10",
      "$100000000",  // nine significant digits
      "0xfffffffff",
      "12a",
      "1\t",
      "\t1",  // only the space character is skipped
  };
  for (const auto& text : rejected) {
    try {
      const int32_t value = TextToInt32(text);
      ADD_FAILURE() << "'" << text << "' accepted as " << value;
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.what(), ConvertMessage(text));
    }
  }
}

TEST(HexTextToBytesTest, AcceptedTexts) {
  const struct {
    std::string text;
    std::string bytes;
  } cases[] = {
      {"", ""},
      {"fe340ead", std::string("\xFE\x34\x0E\xAD", 4)},
      {"FE340EAD", std::string("\xFE\x34\x0E\xAD", 4)},
      {"Fe340eAd", std::string("\xFE\x34\x0E\xAD", 4)},
      {"00", std::string(1, '\0')},
      {"0000ff", std::string("\x00\x00\xFF", 3)},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(HexTextToBytes(c.text), c.bytes) << "text: '" << c.text << "'";
  }
}

TEST(HexTextToBytesTest, RejectionNamesTheOffendingDigit) {
  const struct {
    std::string text;
    std::string reported;
  } cases[] = {
      {"fe 34", "$ "},
      {"0x12", "$x"},
      {"$1", "$$"},
      {"zz", "$z"},
      {"1g", "$g"},
      {"-1", "$-"},
      // Odd length: the last digit has no partner.
      {"f", "$"},
      {"abc", "$"},
      // The pairs are converted in order, so an earlier bad digit is named.
      {"zz1", "$z"},
      {"ab1g1", "$g"},
  };
  for (const auto& c : cases) {
    try {
      const std::string bytes = HexTextToBytes(c.text);
      ADD_FAILURE() << "'" << c.text << "' accepted, " << bytes.size() << " bytes";
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.what(), ConvertMessage(c.reported)) << "text: '" << c.text << "'";
    }
  }
}

TEST(WidenTextTest, SixteenBitUnitsClosedByAZeroUnit) {
  EXPECT_EQ(WidenText(""), std::string(2, '\0'));
  EXPECT_EQ(WidenText("abc"), std::string("a\0b\0c\0\0\0", 8));
  // A byte above 127 keeps its value in the low byte.
  EXPECT_EQ(WidenText("\xE9"), std::string("\xE9\0\0\0", 4));
}

// Writing through a registry object entered at the scratch key.
class WriteValueFromTextTest : public test::ScratchKeyTest {
 protected:
  void SetUp() override {
    ScratchKeyTest::SetUp();
    registry_.SelectRoot(HKEY_CURRENT_USER);
    ASSERT_TRUE(registry_.EnterKey(KeyPath(), false));
  }

  // "TYPE HEX" of a value in its ANSI form; "absent" when there is none.
  std::string Stored(const std::string& name) {
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExA(Key(), name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
      return "absent";
    }
    std::string bytes(size, '\0');
    RegQueryValueExA(Key(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(bytes.data()),
                     &size);
    bytes.resize(size);
    return Described(type, bytes);
  }
  static std::string Described(DWORD type, const std::string& bytes) {
    return std::to_string(type) + " " + BytesToHexText(bytes);
  }

  TRegistry registry_;
};

// What value rendering makes of a value, the writer turns back into the same
// type and bytes; COPY relies on it.
TEST_F(WriteValueFromTextTest, WritesBackWhatRenderingRead) {
  const struct {
    DWORD type;
    std::string bytes;
  } cases[] = {
      {REG_SZ, std::string("Mixed Case %x%\0", 15)},
      {REG_SZ, std::string("\0", 1)},
      {REG_SZ, ""},  // no data: rendered as the marker, written with no data
      {REG_EXPAND_SZ, std::string("%systemroot%\0", 13)},
      {REG_EXPAND_SZ, ""},
      {REG_BINARY, std::string("\xFE\x34\x00\xAD", 4)},
      {REG_BINARY, ""},
      {REG_DWORD, std::string("\x00\x00\x00\x80", 4)},
      {REG_DWORD, std::string("\xFF\xFF\xFF\xFF", 4)},
      {REG_DWORD_BIG_ENDIAN, std::string("\x00\x00\x00\x01", 4)},
      {REG_NONE, std::string("a\0b\0\0\0", 6)},
  };
  for (const auto& c : cases) {
    SetValue("source", c.type, c.bytes);
    const std::string text = ReadValueAsText(registry_, "source");
    EXPECT_EQ(WriteValueFromText(registry_, "copy", text, c.type, "\\0"), ERROR_SUCCESS);
    EXPECT_EQ(Stored("copy"), Described(c.type, c.bytes))
        << "type " << c.type << ", text '" << text << "'";
  }
}

TEST_F(WriteValueFromTextTest, MultiStringSeparatorsBeginAtCharacters) {
  // In code page 932 表 is 95 5C: 表0 holds no "\0" separator.
  const test::CodePage932 cp932;
  EXPECT_EQ(WriteValueFromText(registry_, "list",
                               "\x95\x5C"
                               "0\\0x",
                               REG_MULTI_SZ, "\\0"),
            ERROR_SUCCESS);
  EXPECT_EQ(Stored("list"), Described(REG_MULTI_SZ, std::string("\x95\x5C"
                                                                "0\0x\0\0",
                                                                7)));
}

TEST_F(WriteValueFromTextTest, TypesWithoutATextFormAreLeftAlone) {
  SetValue("v", REG_SZ, std::string("keep\0", 5));
  const DWORD no_text_form[] = {REG_LINK, REG_RESOURCE_LIST, REG_QWORD, 0x12345678UL};
  for (const DWORD type : no_text_form) {
    EXPECT_EQ(WriteValueFromText(registry_, "v", "1", type, "\\0"), ERROR_SUCCESS) << type;
    EXPECT_EQ(WriteValueFromText(registry_, "w", "1", type, "\\0"), ERROR_SUCCESS) << type;
  }
  EXPECT_EQ(Stored("v"), "1 6B65657000");
  EXPECT_EQ(Stored("w"), "absent");
}

TEST_F(WriteValueFromTextTest, AtIsTheUnnamedValueUnlessTheNameIsLiteral) {
  EXPECT_EQ(WriteValueFromText(registry_, "@", "5", REG_DWORD, "\\0"), ERROR_SUCCESS);
  EXPECT_EQ(Stored(""), "4 05000000");
  EXPECT_EQ(Stored("@"), "absent");

  EXPECT_EQ(WriteValueFromTextLiteralName(registry_, "@", "x", REG_SZ, "\\0"), ERROR_SUCCESS);
  EXPECT_EQ(Stored("@"), "1 7800");
  EXPECT_EQ(Stored(""), "4 05000000");
}

TEST(WriteValueFromTextRefusalTest, AWriteWithoutAnEnteredKeyReportsTheStatus) {
  test::UseTemporaryRegistry();
  TRegistry registry;
  EXPECT_NE(WriteValueFromText(registry, "v", "x", REG_SZ, "\\0"), ERROR_SUCCESS);
  EXPECT_NE(WriteValueFromText(registry, "v", "1", REG_DWORD, "\\0"), ERROR_SUCCESS);
}

}  // namespace
}  // namespace orvik
