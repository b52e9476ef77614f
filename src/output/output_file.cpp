#include "output/output_file.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "output/output_lines.h"
#include "output/print.h"
#include "output/real_format.h"
#include "output/report_writer.h"
#include "runtime/open_files.h"
#include "runtime/ordered_blocks.h"
#include "runtime/report_lines.h"

namespace tarvel {
namespace {

constexpr std::size_t kOutputBufferSize = 8192;

constexpr std::size_t kStagingSize = std::size_t{1} << 20;

}  // namespace

std::string make_output_name(std::string_view input_name) {
  constexpr std::string_view kExtension = ".txt";
  std::string name(input_name);
  if (name.size() >= kExtension.size() &&
      std::string_view(name).substr(name.size() - kExtension.size()) == kExtension) {
    name.resize(name.size() - kExtension.size());
  }
  name += "_out.txt";
  return name;
}

RuntimeErrorCode open_for_output(std::string_view name, int file_number) {
  if (name.empty() || is_file_open(file_number)) return kIllegalFunctionCall;
  // A name holding a NUL byte names no file that can be created.
  const platform::FileHandle file = platform::create_for_writing(name);
  if (file == platform::kNoFile) return kFileNotFound;
  RuntimeErrorCode code = register_open_file(file_number, file, kOutputBufferSize);
  if (code != kNoError) {
    platform::close_file(file);
    return code;
  }
  return kNoError;
}

bool produce_output_lines(const OutputColumns& columns, EarlyLines* early, const OutputSink& sink,
                          const std::stop_token& stop) {
  // Each line is composed whole, and lines are printed a block at a time:
  // the same bytes as printing the five items of a line one by one (the
  // time, a blank, the real part, a blank, the imaginary part and the line
  // end), at a fraction of the calls. The blocks are formatted on every worker.
  // Blocks are gathered into large aligned writes, which the page cache
  // takes in large pages, at a fraction of the cost per byte of small ones;
  // closing the file, and truncating it on the next run, cost less too.
  std::unique_ptr<char[]> staging(new (std::nothrow) char[kStagingSize]);
  std::size_t staged = 0;
  bool stopped = false;
  const auto consume = [&](const char* bytes, std::size_t size) {
    if (stopped) return;
    if (staging == nullptr) {
      sink(bytes, size);
      return;
    }
    // Whole stagings only, so that every write but the last starts and ends
    // on a multiple of the staging size in the file.
    while (size > 0) {
      const std::size_t part = std::min(size, kStagingSize - staged);
      std::memcpy(staging.get() + staged, bytes, part);
      staged += part;
      bytes += part;
      size -= part;
      if (staged == kStagingSize) {
        sink(staging.get(), staged);
        staged = 0;
      }
    }
    stopped = stop.stop_requested();
  };

  // The blocks formatted early come first.
  std::int64_t first_block = 0;
  if (early != nullptr) {
    early->stop();
    consume(early->bytes(), early->size());
    first_block = early->blocks();
  }
  const bool printed = produce_in_order(
      block_count(columns.size) - first_block, kBlockCapacity,
      [&](std::int64_t block, char* out) -> std::size_t {
        if (stop.stop_requested()) return kNoMoreBlocks;
        return format_block(columns, first_block + block, out);
      },
      consume);
  if (staged > 0) sink(staging.get(), staged);
  if (!printed) {
    // No memory for a block: one line at a time.
    char line[kLineCapacity];
    for (std::int64_t n = first_block * kLinesPerBlock + 1; n <= columns.size && !stopped; ++n) {
      const char* end = format_lines(columns, n, n, line);
      sink(line, static_cast<std::size_t>(end - line));
      stopped = stop.stop_requested();
    }
  }
  return !stopped && !stop.stop_requested();
}

void write_output_file(std::string_view output_name, const Array1<double>& t,
                       const Array1<float>& yr, const Array1<float>& yi, EarlyLines* early) {
  ConsoleSink console;
  write_writing_line(console, output_name);

  RuntimeErrorCode code = open_for_output(output_name, kOutputFileNumber);
  if (code != kNoError) raise_runtime_error(code, kOpenOutputLine);
  produce_output_lines(columns_of(t, yr, yi), early, [](const char* bytes, std::size_t size) {
    print_text(kOutputFileNumber, std::string_view(bytes, size));
  });
  code = close_file(kOutputFileNumber);
  if (code != kNoError) raise_runtime_error(code, kCloseOutputLine);
}

}  // namespace tarvel
