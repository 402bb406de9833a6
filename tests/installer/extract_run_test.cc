// The extraction step inside a run of the real installer.
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "installer/log.h"
#include "support/payload_fixture.h"
#include "support/test_support.h"
#include "support/zip_patch.h"

namespace quorvane {
namespace {

using testing::LogLines;
using testing::ReadFile;
using testing::ScratchDir;
using testing::ZipField;
using Lines = std::vector<std::string>;

const std::string kProgram = "#!/bin/sh\nexit 0\n";

struct Outcome {
  int exitStatus = -1;
  std::string installDir;  // from the "Extracting files to" line
  Lines afterExtracting;   // the lines after it, the closing line excluded
};

Outcome RunInstaller(const ScratchDir& dir, const std::string& installer) {
  const std::string tmp = dir / "tmp";
  const std::string debug = dir / "debug";
  mkdir(tmp.c_str(), 0700);
  mkdir(debug.c_str(), 0700);
  testing::ProcessResult r = testing::RunProgram(
      installer, {installer, "--debug-dir", debug, "--temp-dir", tmp}, {"TMPDIR=" + tmp},
      dir.path());
  Outcome out;
  out.exitStatus = r.exit_status;
  Lines lines = LogLines(ReadFile(debug + "/Quorvane_i.log"));
  const std::string marker = "[INFO ] Extracting files to: ";
  auto it = std::find_if(lines.begin(), lines.end(),
                         [&](const std::string& l) { return l.rfind(marker, 0) == 0; });
  if (it == lines.end()) {
    ADD_FAILURE() << "no extraction line in " << ::testing::PrintToString(lines);
    return out;
  }
  out.installDir = it->substr(marker.size());
  EXPECT_EQ(out.installDir.rfind(tmp + "/quorvane_", 0), 0u) << out.installDir;
  auto end = std::find(it, lines.end(), "[INFO ] End, success.");
  out.afterExtracting.assign(it + 1, end);
  return out;
}

std::string Info(const std::string& name, const std::string& path) {
  return FormatLog("[INFO ]         %-40s  ->  %s", name, path);
}

TEST(ExtractionStep, BrokenArchiveEndsTheRunWithMinus13) {
  ScratchDir dir;
  std::string archive = testing::StandardPayloadArchive(kProgram);
  uint32_t crc = testing::GetZipField(archive, "amd64/quorvane", ZipField::kCrc);
  testing::SetZipField(archive, "amd64/quorvane", ZipField::kCrc, crc ^ 0x80);
  Outcome r = RunInstaller(dir, testing::PackInstaller(dir.path(), archive));
  EXPECT_EQ(r.exitStatus, 243);
  ASSERT_GE(r.afterExtracting.size(), 4u);
  EXPECT_EQ(Lines(r.afterExtracting.begin(), r.afterExtracting.begin() + 4),
            (Lines{Info("amd64/quorvane.so", "quorvane.so"), Info("amd64/quorvane", "quorvane"),
                   "[ERROR] Cannot write file: " + r.installDir +
                       "/quorvane. (zip: checksum error)",
                   "[ERROR] Cannot extract files to folder"}));
}

TEST(ExtractionStep, InstallerWithoutPayloadSection) {
  ScratchDir dir;
  Outcome r = RunInstaller(dir, testing::InstallerBinary());
  EXPECT_EQ(r.exitStatus, 243);
  ASSERT_FALSE(r.afterExtracting.empty());
  EXPECT_EQ(r.afterExtracting[0], "[ERROR] Cannot extract files to folder");
}

TEST(ExtractionStep, StandardPayloadIsExtracted) {
  ScratchDir dir;
  Outcome r = RunInstaller(
      dir, testing::PackInstaller(dir.path(), testing::StandardPayloadArchive(kProgram)));
  ASSERT_GE(r.afterExtracting.size(), 5u);
  EXPECT_EQ(Lines(r.afterExtracting.begin(), r.afterExtracting.begin() + 5),
            (Lines{Info("amd64/quorvane.so", "quorvane.so"), Info("amd64/quorvane", "quorvane"),
                   Info("amd64/checksums.txt", "checksums.txt"),
                   Info("licenses/LICENSE.txt", "licenses/LICENSE.txt"),
                   Info("licenses/checksums.txt", "licenses/checksums.txt")}));
  for (const std::string& line : r.afterExtracting) {
    EXPECT_NE(line, "[ERROR] Cannot extract files to folder");
  }
}

}  // namespace
}  // namespace quorvane
