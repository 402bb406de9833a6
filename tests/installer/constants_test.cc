#include "installer/constants.h"

#include <gtest/gtest.h>

namespace quorvane {
namespace {

TEST(EmbeddedArchTest, IsTheLabelItself) {
  EXPECT_EQ(payloadArch.String(), "amd64");
  EXPECT_EQ(embeddedArch{"arm64"}.String(), "arm64");
}

}  // namespace
}  // namespace quorvane
