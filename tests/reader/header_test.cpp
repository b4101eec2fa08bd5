#include <gtest/gtest.h>
#include "Veltrane.h"
TEST(Header, FreshObject) { CVeltrane v; EXPECT_EQ(v.GetMaxLevel(), 0); }
