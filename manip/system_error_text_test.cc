// Tests of the platform's message text for an error code.
#include "manip/system_error_text.h"

#include <gtest/gtest.h>

namespace orvik {
namespace {

TEST(SystemErrorTextTest, TheLineEndIsDroppedAndAnUnknownCodeIsNamed) {
  EXPECT_EQ(SystemErrorText(ERROR_ACCESS_DENIED), "Access is denied.");
  EXPECT_STREQ(RefusedChange(ERROR_ACCESS_DENIED).what(), "Error: Access is denied.");
  // A code without a message still tells the user which failure it was.
  EXPECT_EQ(SystemErrorText(987654), "Unknown error 987654");
}

}  // namespace
}  // namespace orvik
