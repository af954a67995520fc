#include "TestSupport.h"

TEST(LastError, IsPerThreadAndKeptUntilSet) {
  win::SetLastError(123);
  EXPECT_EQ(win::GetLastError(), 123u);
  win::SetLastError(0);
  EXPECT_EQ(win::GetLastError(), 0u);
}
