// The main function of every test program.
#include <gtest/gtest.h>

#include "TestSupport.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
