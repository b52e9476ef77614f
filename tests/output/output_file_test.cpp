#include "output/output_file.h"

#include <gtest/gtest.h>

#include "runtime/open_files.h"
#include "support/temp_folder.h"

namespace tarvel {
namespace {

TEST(MakeOutputName, DropsAnExactFinalTxtOnly) {
  struct Row {
    const char* input;
    const char* output;
  };
  const Row rows[] = {
      {"data.txt", "data_out.txt"},
      {"data.TXT", "data.TXT_out.txt"},
      {"data", "data_out.txt"},
      {"data.txt.txt", "data.txt_out.txt"},
      {".txt", "_out.txt"},
      {"txt", "txt_out.txt"},
      {"a", "a_out.txt"},
      {"dir/sub/x.txt", "dir/sub/x_out.txt"},
      {"my data.txt", "my data_out.txt"},
      {"x.tx", "x.tx_out.txt"},
  };
  for (const Row& row : rows) EXPECT_EQ(make_output_name(row.input), row.output) << row.input;
}

TEST(OpenForOutput, Codes) {
  testing::TempFolder folder;
  EXPECT_EQ(open_for_output("", 2), kIllegalFunctionCall);
  EXPECT_EQ(open_for_output(folder.file("missing/x.txt"), 2), kFileNotFound);
  EXPECT_EQ(open_for_output(folder.path(), 2), kFileNotFound);
  EXPECT_EQ(open_for_output(std::string("a\0b", 3), 2), kFileNotFound);
  ASSERT_EQ(open_for_output(folder.file("x.txt"), 2), kNoError);
  EXPECT_EQ(open_for_output(folder.file("y.txt"), 2), kIllegalFunctionCall);
  EXPECT_EQ(close_file(2), kNoError);
}

TEST(OpenForOutput, TruncatesAnExistingFile) {
  testing::TempFolder folder;
  folder.write("x.txt", std::string(100, 'o'));
  ASSERT_EQ(open_for_output(folder.file("x.txt"), 2), kNoError);
  EXPECT_EQ(close_file(2), kNoError);
  EXPECT_EQ(testing::read_file(folder.file("x.txt")), "");
}

}  // namespace
}  // namespace tarvel
