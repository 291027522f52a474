// Tests of the QUERY listing where the command line cannot reach: a subkey
// that goes away between listing the names and entering it.
#include "manip/query_engine.h"

#include <gtest/gtest.h>

#include <string>

#include "registry/test_registry.h"

namespace orvik {
namespace {

// Removes a key of the registry as soon as a given line has been printed.
class RemovingConsole : public CapturingConsole {
 public:
  RemovingConsole(std::string trigger, std::string doomed_key)
      : trigger_(std::move(trigger)), doomed_key_(std::move(doomed_key)) {}
  void Line(std::string_view text) override {
    CapturingConsole::Line(text);
    if (text == trigger_) {
      EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, doomed_key_.c_str()), ERROR_SUCCESS);
    }
  }

 private:
  std::string trigger_;
  std::string doomed_key_;
};

class ListKeyTreeTest : public test::ScratchKeyTest {};

TEST_F(ListKeyTreeTest, SubKeyThatCannotBeEnteredShowsItsOwnPathAndTheListingGoesOn) {
  CreateSubKey("A");
  CreateSubKey("B");
  CreateSubKey("C");
  SetValue("v", REG_SZ, std::string("x\0", 2));
  const std::string header = "HKEY_CURRENT_USER\\" + KeyPath();
  RemovingConsole out(header + "\\A", KeyPath() + "\\B");
  TRegistry registry(KEY_READ);
  ASSERT_TRUE(registry.EnterKey(KeyPath(), false));
  ListKeyTree(out, registry, "hkcu", "/s");
  EXPECT_EQ(out.Text(), test::Lines({header, "   v REG_SZ  x", "", header + "\\A", "",
                                     header + "\\B", "", header + "\\C"}));
  EXPECT_EQ(registry.ActiveHandle(), nullptr);
}

TEST_F(ListKeyTreeTest, WithoutRecursionSubKeysAreNotShown) {
  CreateSubKey("A");
  CapturingConsole out;
  TRegistry registry(KEY_READ);
  ASSERT_TRUE(registry.EnterKey(KeyPath(), false));
  ListKeyTree(out, registry, "HKEY_CURRENT_USER", "");
  EXPECT_EQ(out.Text(), test::Lines({"HKEY_CURRENT_USER\\" + KeyPath()}));
  EXPECT_EQ(registry.ActivePath(), KeyPath());
}

}  // namespace
}  // namespace orvik
