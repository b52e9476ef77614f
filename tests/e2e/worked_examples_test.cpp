// End-to-end: the bundled examples, console report and output file exact.
#include <gtest/gtest.h>

#include <string>

#include "support/e2e_run.h"
#include "support/temp_folder.h"

namespace tarvel::testing {
namespace {

const char kOneChannelReport[] =
    "reading one.txt 1 channels 2 samples\n"
    "\n"
    "signals:\n"
    " 2 1j   10 dB SNR\n"
    "\n"
    "noise covariance:\n"
    " 1 0j  \n"
    "\n"
    "inverted noise covariance:\n"
    " 1 0j  \n"
    "\n"
    "optimum weights:\n"
    " 2-1j\n"
    "\n"
    "normalized optimum weights:\n"
    " 1 0j\n"
    "\n"
    "combined signal:\n"
    " 2 1j   10 dB SNR\n"
    "\n"
    "writing one_out.txt\n";

const char kTwoChannelReport[] =
    "reading two.txt 2 channels 4 samples\n"
    "\n"
    "signals:\n"
    " 1 0j   6.0206 dB SNR\n"
    " 2 1j   13.0103 dB SNR\n"
    "\n"
    "noise covariance:\n"
    " 1 0j  -0.75 0.25j  \n"
    "-0.75-0.25j   1 0j  \n"
    "\n"
    "inverted noise covariance:\n"
    " 2.666667 0j   2-0.6666667j  \n"
    " 2 0.6666667j   2.666667 0j  \n"
    "\n"
    "optimum weights:\n"
    " 7.333333-0.6666666j\n"
    " 7.333333-3.333333j\n"
    "\n"
    "normalized optimum weights:\n"
    " 0.8630137 0.3013699j\n"
    " 1 0j\n"
    "\n"
    "combined signal:\n"
    " 2.863014 1.30137j   20.05752 dB SNR\n"
    "\n"
    "writing two_out.txt\n";

std::string example(const std::string& name) {
  return read_file(std::string(TARVEL_SOURCE_DIR) + "/examples/" + name);
}

// Once into pipes and once into files, as a shell's redirection gives them.
TEST(WorkedExamples, OneChannel) {
  for (Streams streams : {Streams::kPipes, Streams::kFiles}) {
    TempFolder folder;
    folder.write("one.txt", example("one.txt"));
    RunResult run = run_tarvel(folder, {"one.txt"}, {}, streams);
    EXPECT_BYTES("stdout", crlf(kOneChannelReport), run.out);
    EXPECT_BYTES("stderr", "", run.err);
    EXPECT_EQ(run.status, 0);
    auto files = folder.files();
    ASSERT_EQ(files.size(), 2u);
    EXPECT_BYTES("one_out.txt", " 0  1  1\r\n 1  3  1\r\n", files["one_out.txt"]);
  }
}

TEST(WorkedExamples, TwoChannels) {
  TempFolder folder;
  folder.write("two.txt", example("two.txt"));
  RunResult run = run_tarvel(folder, {"two.txt"});
  EXPECT_BYTES("stdout", crlf(kTwoChannelReport), run.out);
  EXPECT_BYTES("stderr", "", run.err);
  EXPECT_EQ(run.status, 0);
  auto files = folder.files();
  ASSERT_EQ(files.size(), 2u);
  EXPECT_BYTES("two_out.txt",
               " 0  2.863014  1.30137\r\n"
               " 1  2.424657  1.465753\r\n"
               " 2  3  2\r\n"
               " 3  3.164383  0.4383562\r\n",
               files["two_out.txt"]);
}

}  // namespace
}  // namespace tarvel::testing
