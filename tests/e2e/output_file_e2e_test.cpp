// End-to-end: where the output goes. The runs that cannot write it are rows
// of run_ends_test.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/e2e_run.h"
#include "support/one_channel.h"
#include "support/temp_folder.h"

namespace tarvel::testing {
namespace {

TEST(OutputFile, NameFollowsTheInputName) {
  struct Row {
    const char* input;
    const char* output;
  };
  const Row rows[] = {
      {"data.TXT", "data.TXT_out.txt"}, {"data", "data_out.txt"},
      {"a.txt.txt", "a.txt_out.txt"},   {".txt", "_out.txt"},
      {"txt", "txt_out.txt"},
  };
  for (const Row& row : rows) {
    TempFolder folder;
    folder.write(row.input, kOneChannelData);
    RunResult run = run_tarvel(folder, {row.input});
    EXPECT_EQ(run.status, 0) << row.input << ": " << run.err;
    EXPECT_BYTES("stdout", one_channel_report(row.input, row.output), run.out);
    auto files = folder.files();
    EXPECT_EQ(files.size(), 2u) << row.input;
    EXPECT_BYTES(row.output, kOneChannelOutput, files[row.output]);
  }
}

TEST(OutputFile, LandsInTheInputFilesFolder) {
  TempFolder folder;
  std::filesystem::create_directory(folder.file("sub"));
  folder.write("sub/x.txt", kOneChannelData);
  RunResult run = run_tarvel(folder, {"sub/x.txt"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_BYTES("sub/x_out.txt", kOneChannelOutput, read_file(folder.file("sub/x_out.txt")));
}

TEST(OutputFile, LongerExistingFileIsReplacedEntirely) {
  TempFolder folder;
  folder.write("data.txt", kOneChannelData);
  folder.write("data_out.txt", std::string(10000, 'z'));
  RunResult run = run_tarvel(folder, {"data.txt"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_BYTES("data_out.txt", kOneChannelOutput, folder.files()["data_out.txt"]);
}

}  // namespace
}  // namespace tarvel::testing
