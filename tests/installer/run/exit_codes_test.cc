#include "installer/run/exit_codes.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace quorvane {
namespace {

TEST(QvrExitCodesTest, EveryDefinedCodeHasItsText) {
  const std::pair<int64_t, const char*> cases[] = {
      {-1, "Invalid commmand line, check command line"},
      {-2, "Invalid argument, check command line"},
      {-3, "Initialization error"},
      {-4, "Internal error"},
      {-5, "Context initialization error"},
      {-6, "Context cancellation error"},
      {-7, "Temporary directory error"},
      {-8, "Failed to select files to be sent or archive"},
      {-9, "JSON marshal error"},
      {-10, "JSON write to file error"},
      {-11, "Couldn't archive files or JSON file error"},
      {-12, "Couldn't delete temporary folder"},
      {-13, "Couldn't write the file containing the token"},
      {-14, "Couldn't write the help file"},
      {-15, "Failed to check if already running"},
      {-16, "Quorvane already running"},
      {-17, "Failed to check for Administrator rigths"},
      {-18, "Need Administrator rights"},
      {-19, "Failed to set privileges"},
      {-20, "Invalid step specified"},
      {-21, "Select the appropriate executable for your system architecture."},
  };
  for (const auto& [code, text] : cases) {
    EXPECT_EQ(qvrExitCodes{code}.String(), text) << code;
  }
}

TEST(QvrExitCodesTest, OtherCodesAreNotFound) {
  const std::pair<int64_t, const char*> cases[] = {
      {0, "Description not found for 0"},
      {1, "Description not found for 1"},
      {-22, "Description not found for -22"},
      {1001, "Description not found for 1001"},
      {std::numeric_limits<int64_t>::min(), "Description not found for -9223372036854775808"},
      {std::numeric_limits<int64_t>::max(), "Description not found for 9223372036854775807"},
  };
  for (const auto& [code, text] : cases) {
    EXPECT_EQ(qvrExitCodes{code}.String(), text) << code;
  }
}

// Only a code that is 0 ends the process with 0: 1024 (payload status 24)
// would otherwise read as success.
TEST(ProcessExitStatusTest, LowEightBitsButNeverAFalseSuccess) {
  const std::pair<int, int> cases[] = {
      {0, 0},      {-1, 255}, {-16, 240},  {1001, 233}, {1023, 255},
      {1024, 232}, {1025, 1}, {1255, 231}, {-1001, 23},
  };
  for (const auto& [code, status] : cases) EXPECT_EQ(ProcessExitStatus(code), status) << code;
}

}  // namespace
}  // namespace quorvane
