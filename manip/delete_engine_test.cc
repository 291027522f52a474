// Tests of removing all named values of a key when the key may not be changed.
#include "manip/delete_engine.h"

#include <gtest/gtest.h>

#include "registry/registry.h"
#include "registry/test_registry.h"

namespace orvik {
namespace {

class DeleteAllValuesTest : public test::ScratchKeyTest {};

TEST_F(DeleteAllValuesTest, AKeyOpenedForReadingKeepsEveryValueAndReportsFalse) {
  SetValue("a", REG_SZ, std::string("a\0", 2));
  SetValue("b", REG_SZ, std::string("b\0", 2));
  TRegistry registry;
  registry.SelectRoot(HKEY_CURRENT_USER);
  ASSERT_TRUE(registry.EnterKeyReadOnly(KeyPath()));
  EXPECT_FALSE(DeleteAllValues(registry));
  EXPECT_EQ(registry.LastError(), ERROR_ACCESS_DENIED);
  TStringList names;
  registry.ListValueNames(names);
  EXPECT_EQ(names.size(), 2u);
}

TEST_F(DeleteAllValuesTest, AKeyWithOnlyTheUnnamedValueIsDoneAtOnce) {
  SetValue("", REG_SZ, std::string("u\0", 2));
  TRegistry registry;
  registry.SelectRoot(HKEY_CURRENT_USER);
  ASSERT_TRUE(registry.EnterKeyReadOnly(KeyPath()));
  // Nothing needs removing, so a key that may not be changed is no failure.
  EXPECT_TRUE(DeleteAllValues(registry));
}

}  // namespace
}  // namespace orvik
