// Tests of the text conversions behind value writing: integer text,
// hexadecimal byte text and the wide form of REG_NONE.
#include "manip/value_write.h"

#include <gtest/gtest.h>

#include <string>

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

}  // namespace
}  // namespace orvik
