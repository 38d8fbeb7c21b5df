#include <gtest/gtest.h>
int harvesta_placeholder();
TEST(Smoke, Runs) { EXPECT_EQ(harvesta_placeholder(), 0); }
