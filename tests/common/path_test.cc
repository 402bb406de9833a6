#include "common/path.h"

#include <gtest/gtest.h>

namespace quorvane {
namespace {

TEST(PathTest, Clean) {
  const std::pair<const char*, const char*> cases[] = {
      {"", "."},
      {".", "."},
      {"/", "/"},
      {"//", "/"},
      {"a//b", "a/b"},
      {"a/./b", "a/b"},
      {"a/b/", "a/b"},
      {"/a/b/..", "/a"},
      {"a/../..", ".."},
      {"../../a", "../../a"},
      {"/../a", "/a"},
      {"/..", "/"},
      {"a/..", "."},
      {"./", "."},
      {"a/b/../../../c", "../c"},
      {"..//..", "../.."},
      {"/a/../../b/./c/", "/b/c"},
      {"abc/def/../../..", ".."},
  };
  for (const auto& [in, want] : cases) EXPECT_EQ(CleanPath(in), want) << "input " << in;
}

TEST(PathTest, JoinDirPartBaseName) {
  EXPECT_EQ(JoinPath("a", "b"), "a/b");
  EXPECT_EQ(JoinPath("/a/", "/b/"), "/a/b");
  EXPECT_EQ(JoinPath("", "b"), "b");
  EXPECT_EQ(JoinPath("a", ""), "a");
  EXPECT_EQ(JoinPath("", ""), "");
  EXPECT_EQ(JoinPath("/tmp", "../x"), "/x");

  const std::pair<const char*, const char*> dirs[] = {
      {"", "."},       {"a", "."},         {"/a", "/"},  {"/a/b", "/a"},
      {"a/b/", "a/b"}, {"./bin/x", "bin"}, {"//a", "/"},
  };
  for (const auto& [in, want] : dirs) EXPECT_EQ(DirPart(in), want) << "input " << in;

  const std::pair<const char*, const char*> bases[] = {
      {"", "."}, {"/", "/"}, {"///", "/"}, {"a", "a"}, {"/a/b", "b"}, {"/a/b//", "b"},
  };
  for (const auto& [in, want] : bases) EXPECT_EQ(BaseName(in), want) << "input " << in;
}

}  // namespace
}  // namespace quorvane
