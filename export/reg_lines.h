// The lines of a registry-editor file: the header, the root keys' names, the
// section line of a key and the entry of each value type, with the escaping
// and hexadecimal lists they use. Text and string data are 8-bit ANSI bytes.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace orvik {

constexpr char kHeaderVersion4[] = "REGEDIT4";
constexpr char kHeaderVersion5[] = "Windows Registry Editor Version 5.00";

struct RootKeyRow {
  HKEY key;
  const char* name;  // the RootName of section lines
};

// The seven root keys a file can name, in the order of their handles.
extern const std::array<RootKeyRow, 7> RootKeyTable;

// The row of a root key handle: 0 to 5 for 0x80000000 to 0x80000005, and 6
// (HKEY_DYN_DATA) for every other handle.
uint8_t RootIndexOf(HKEY root);

// "[RootName\path]"; a path that is empty (the root key itself) gives the
// root's name alone.
std::string SectionLine(const std::string& root_name, const std::string& path);

// The path unchanged when it begins with a backslash, else with one in front.
std::string WithLeadingBackslash(const std::string& path);

// Doubles backslashes, puts a backslash before double quotes and turns each
// line feed into carriage return and line feed, in that order. The second
// byte of a double-byte character (the 5C of 表) is no backslash.
std::string EscapeText(std::string_view text);

// Whether a file carries the name exactly. A section line ends at a line
// break, and readers end names at a NUL: a key's path may hold none of CR,
// LF and NUL. A value's name is quoted, and a line break inside the quotes
// belongs to the name, so there only NUL is out; but the comment that stands
// for a REG_LINK value is a single line, which no line break may enter.
bool KeyPathFits(std::string_view path);
bool ValueNameFits(std::string_view name, DWORD type);
// The name for a message, with CR, LF and NUL shown as <CR>, <LF> and <NUL>.
std::string ShownName(std::string_view name);

// Every byte as two lower-case hexadecimal digits, separated by commas:
// 01,ab,00.
std::string HexList(std::string_view bytes);

// How the entry of a value type is written.
enum class EntryForm {
  kHexList,      // "name"=hex(2):01,02 -- wrapped
  kString,       // "name"="text"
  kDword,        // "name"=dword:0000001f
  kLinkComment,  // ;"name"=REG_LINK not supported
};

struct ValueEntryRow {
  DWORD type;
  EntryForm form;
  const char* tag;  // the text between "=" and ":" of the hex and dword forms
};

// Type codes 0 to 11, indexed by code. REG_DWORD_BIG_ENDIAN has its hex(5)
// form like any other type that has no form of its own, so that no value is
// left out of a file.
extern const std::array<ValueEntryRow, 12> ValueEntryTable;

// The row for any type code; codes above 11 are hex lists tagged with the
// code in lower-case hexadecimal, e.g. hex(1f).
ValueEntryRow ValueEntryRowOf(DWORD type);
std::string TypeTag(DWORD type);

// The entries, given the name already escaped ("" for the unnamed value).
std::string HexEntry(const std::string& escaped_name, DWORD type, std::string_view hex_list);
std::string StringEntry(const std::string& escaped_name, std::string_view escaped_text);
std::string DwordEntry(const std::string& escaped_name, int32_t number);
std::string LinkComment(const std::string& escaped_name);

}  // namespace orvik
