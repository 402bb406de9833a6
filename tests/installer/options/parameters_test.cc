#include "installer/options/parameters.h"

#include <gtest/gtest.h>

#include "support/parameters_print.h"

namespace quorvane {
namespace {

TEST(ParametersMerge, FlagsAddAndNonEmptyTextsReplace) {
  const Parameters base{.Help = true,
                        .Offline = "/off",
                        .OutputDir = "/o",
                        .TempDir = "/t",
                        .NoCheck = true,
                        .DebugDir = "/d",
                        .EncryptedParamsValue = "rec"};
  Parameters p = base;
  p.Merge(Parameters{});
  EXPECT_EQ(p, base);

  p.Merge(Parameters{.Kill = true,
                     .TempDir = "/t2",
                     .YaraDir = "/y",
                     .NoDelete = true,
                     .NoAdminCheck = true,
                     .EncryptedParamsValue = "other"});
  EXPECT_EQ(p, (Parameters{.Help = true,
                           .Offline = "/off",
                           .Kill = true,
                           .OutputDir = "/o",
                           .TempDir = "/t2",
                           .YaraDir = "/y",
                           .NoDelete = true,
                           .NoAdminCheck = true,
                           .NoCheck = true,
                           .DebugDir = "/d",
                           .EncryptedParamsValue = "rec"}));

  p.Merge(Parameters{.Offline = "/off2", .OutputDir = "/o2", .DebugDir = "/d2"});
  EXPECT_EQ(p.Offline, "/off2");
  EXPECT_EQ(p.OutputDir, "/o2");
  EXPECT_EQ(p.DebugDir, "/d2");
  EXPECT_TRUE(p.Help && p.Kill && p.NoDelete && p.NoAdminCheck && p.NoCheck);
}

}  // namespace
}  // namespace quorvane
