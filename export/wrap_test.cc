// Tests of the wrapping of hex-list entries: the worked examples, the
// boundaries of the first piece, and for every length of name and list that
// no byte is split, no line is too long and the lines give back the entry.
#include "export/wrap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "export/reg_lines.h"

namespace orvik {
namespace {

// The bytes 0, 1, 2, ... as a hex list.
std::string CountingList(int count) {
  std::string bytes;
  for (int i = 0; i < count; ++i) bytes += static_cast<char>(i);
  return HexList(bytes);
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end = text.find("\r\n"); end != std::string::npos; end = text.find("\r\n", start)) {
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  EXPECT_EQ(start, text.size()) << "every line ends in CR LF";
  return lines;
}

std::vector<std::string> Wrapped(const std::string& entry) {
  std::string text;
  AddWrapped(entry, text);
  return SplitLines(text);
}

TEST(FirstWrapPiece, EndsAfterTheLastCommaWithin79Characters) {
  const std::string list = CountingList(40);
  const struct {
    std::string entry;
    size_t piece_length;
  } cases[] = {
      {"@=hex:" + list, 78},          // comma at 78
      {"\"Data\"=hex:" + list, 77},   // comma at 77
      {"\"Dat\"=hex:" + list, 79},    // comma at 76, so also at 79
      {"\"Da\"=hex(2):" + list, 78},  // comma at 78
  };
  for (const auto& c : cases) {
    const std::string_view piece = FirstWrapPiece(c.entry);
    EXPECT_EQ(piece.size(), c.piece_length) << c.entry;
    EXPECT_EQ(piece.back(), ',') << c.entry;
  }
}

TEST(FirstWrapPiece, LateTagKeepsTheNameTheTagAndOneByte) {
  const std::string name = "\"" + std::string(66, 'a') + ":=x\"";  // tag at 71
  EXPECT_EQ(FirstWrapPiece(name + "=hex:" + CountingList(30)), name + "=hex:00,");
  EXPECT_EQ(FirstWrapPiece(name + "=hex:05"), name + "=hex:05");
  EXPECT_EQ(FirstWrapPiece(name + "=hex(1f):"), name + "=hex(1f):");
}

TEST(AddWrapped, WorkedExamplesOfAHundredBytes) {
  const std::vector<std::string> named = Wrapped("\"Data\"=hex:" + CountingList(100));
  ASSERT_EQ(named.size(), 5u);
  EXPECT_EQ(named[0].size(), 78u);
  EXPECT_EQ(named[0], "\"Data\"=hex:" + CountingList(22) + ",\\");
  EXPECT_EQ(named[4], "  61,62,63");

  const std::vector<std::string> unnamed = Wrapped("@=hex:" + CountingList(100));
  ASSERT_EQ(unnamed.size(), 5u);
  EXPECT_EQ(unnamed[0], "@=hex:" + CountingList(24) + ",\\");
  EXPECT_EQ(unnamed[1],
            "  18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27,28,29,2a,2b,2c,2d,2e,2f,30,\\");
  EXPECT_EQ(unnamed[4], "  63");
}

TEST(AddWrapped, SeventyEightCharactersStayOnOneLine) {
  const std::string at78 = "\"NNN\"=hex:" + CountingList(23);
  ASSERT_EQ(at78.size(), 78u);
  EXPECT_EQ(Wrapped(at78), std::vector<std::string>{at78});
  EXPECT_EQ(Wrapped("\"NNNN\"=hex:" + CountingList(23)).size(), 2u);
  const std::string long_string_entry = "\"S\"=\"" + std::string(200, 's') + "\"";
  EXPECT_EQ(Wrapped(long_string_entry), std::vector<std::string>{long_string_entry});
}

// Every name length and type tag, every list length up to a few lines:
// the lines join back to the entry, no byte is split, every line but the
// first holds whole bytes, and lines stay within 80 characters unless the
// name and tag alone are longer.
TEST(AddWrapped, NoByteIsSplitAndTheLinesGiveBackTheEntry) {
  for (const DWORD type :
       {DWORD{REG_BINARY}, DWORD{REG_EXPAND_SZ}, DWORD{0x1f}, DWORD{0x1234567}}) {
    for (size_t name_length = 0; name_length < 90; ++name_length) {
      for (int bytes = 0; bytes < 60; ++bytes) {
        const std::string name(name_length, 'n');
        const std::string head = HexEntry(name, type, "");
        const std::string entry = head + CountingList(bytes);
        const std::vector<std::string> lines = Wrapped(entry);
        SCOPED_TRACE(entry);
        std::string joined;
        for (size_t i = 0; i < lines.size(); ++i) {
          std::string line = lines[i];
          const bool last = i + 1 == lines.size();
          ASSERT_EQ(!last, !line.empty() && line.back() == '\\');
          if (!last) line.pop_back();
          if (i > 0) {
            ASSERT_EQ(line.substr(0, 2), "  ");
            line = line.substr(2);
            ASSERT_EQ(line.size() % 3, last ? 2u : 0u) << "whole bytes";
          }
          // A name and tag too long for one line take one byte along.
          ASSERT_LE(lines[i].size(), i == 0 ? std::max<size_t>(80, head.size() + 4) : 80u);
          joined += line;
        }
        ASSERT_EQ(joined, entry);
        // The first line ends at the tag's colon or after a whole byte.
        const std::string& first = lines.size() > 1 ? lines[0] : entry;
        if (lines.size() > 1) {
          ASSERT_GE(first.size() - 1, head.size());
          ASSERT_EQ((first.size() - 1 - head.size()) % 3, 0u);
        }
      }
    }
  }
}

}  // namespace
}  // namespace orvik
