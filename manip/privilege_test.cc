// EnablePrivilege: its results, and the state it leaves the process in.
#include "manip/privilege.h"

#include <gtest/gtest.h>

#include "platform/posix/calls/token.h"

namespace orvik {
namespace {

TEST(PrivilegeTest, EnablesAndDisablesAndFailsOnlyForUnknownNames) {
  using orvik::posix::kBackupPrivilege;
  using orvik::posix::kRestorePrivilege;
  using orvik::posix::PrivilegeEnabled;
  orvik::posix::ResetPrivileges();
  EXPECT_EQ(EnablePrivilege("SeBackupPrivilege", true), 0);
  EXPECT_TRUE(PrivilegeEnabled(kBackupPrivilege));
  EXPECT_FALSE(PrivilegeEnabled(kRestorePrivilege));
  EXPECT_EQ(EnablePrivilege("SeBackupPrivilege", false), 0);
  EXPECT_FALSE(PrivilegeEnabled(kBackupPrivilege));
  EXPECT_EQ(EnablePrivilege("SeNoSuchPrivilege", true), 1627);
  {
    PrivilegeScope scope("SeRestorePrivilege");
    EXPECT_TRUE(PrivilegeEnabled(kRestorePrivilege));
  }
  EXPECT_FALSE(PrivilegeEnabled(kRestorePrivilege));
}

}  // namespace
}  // namespace orvik
