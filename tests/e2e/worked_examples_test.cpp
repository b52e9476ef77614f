// End-to-end: the bundled examples, console report and output file exact.
#include <gtest/gtest.h>

#include <string>

#include "support/e2e_run.h"
#include "support/one_channel.h"
#include "support/temp_folder.h"

namespace tarvel::testing {
namespace {

std::string example(const std::string& name) {
  return read_file(std::string(TARVEL_SOURCE_DIR) + "/examples/" + name);
}

// Once into pipes and once into files, as a shell's redirection gives them.
TEST(WorkedExamples, OneChannel) {
  ASSERT_EQ(example("one.txt"), kOneChannelData) << "the report below is that data's";
  for (Streams streams : {Streams::kPipes, Streams::kFiles}) {
    TempFolder folder;
    folder.write("one.txt", example("one.txt"));
    RunResult run = run_tarvel(folder, {"one.txt"}, {}, streams);
    EXPECT_BYTES("stdout", one_channel_report("one.txt", "one_out.txt"), run.out);
    EXPECT_BYTES("stderr", "", run.err);
    EXPECT_EQ(run.status, 0);
    auto files = folder.files();
    ASSERT_EQ(files.size(), 2u);
    EXPECT_BYTES("one_out.txt", kOneChannelOutput, files["one_out.txt"]);
  }
}

// The report and the output file as examples/expected holds them, the bytes
// the packages' and the cross builds' checks compare with too.
TEST(WorkedExamples, TwoChannels) {
  TempFolder folder;
  folder.write("two.txt", example("two.txt"));
  RunResult run = run_tarvel(folder, {"two.txt"});
  EXPECT_BYTES("stdout", example("expected/two_report.txt"), run.out);
  EXPECT_BYTES("stderr", "", run.err);
  EXPECT_EQ(run.status, 0);
  auto files = folder.files();
  ASSERT_EQ(files.size(), 2u);
  EXPECT_BYTES("two_out.txt", example("expected/two_out.txt"), files["two_out.txt"]);
}

}  // namespace
}  // namespace tarvel::testing
