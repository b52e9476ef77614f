#include "output/output_file.h"

#include <fcntl.h>
#include <unistd.h>

#include "output/print.h"
#include "output/real_format.h"
#include "runtime/open_files.h"

namespace tarvel {
namespace {

constexpr std::size_t kOutputBufferSize = 8192;
constexpr int kOpenOutputLine = 214;
constexpr int kCloseOutputLine = 219;

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
  // The platform wants a terminated name; a name holding a NUL byte names no
  // file that can be created.
  std::string path(name);
  if (path.find('\0') != std::string::npos) return kFileNotFound;
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return kFileNotFound;
  RuntimeErrorCode code = register_open_file(file_number, fd, kOutputBufferSize);
  if (code != kNoError) {
    ::close(fd);
    return code;
  }
  reset_print_column(file_number);
  return kNoError;
}

void write_output_file(std::string_view output_name, const Array1<double>& t,
                       const Array1<float>& yr, const Array1<float>& yi) {
  end_line(kConsoleFileNumber, kItemEndsLine);
  print_text(kConsoleFileNumber, "writing ", kItemInLine);
  print_text(kConsoleFileNumber, output_name, kItemEndsLine);

  RuntimeErrorCode code = open_for_output(output_name, kOutputFileNumber);
  if (code != kNoError) raise_runtime_error(code, kOpenOutputLine);
  // Each line is composed whole and printed as one text: the same bytes as
  // printing its five items one by one (the time, a blank, the real part, a
  // blank, the imaginary part and the line end), at a fifth of the calls.
  char line[3 * kRealTextCapacity + 4];
  for (std::int64_t n = 1; n <= t.size(); ++n) {
    char* end = line;
    end += format_real(t(n), kDoubleDigits, true, end);
    *end++ = ' ';
    end += format_real(static_cast<double>(yr(n)), kSingleDigits, true, end);
    *end++ = ' ';
    end += format_real(static_cast<double>(yi(n)), kSingleDigits, true, end);
    *end++ = '\r';
    *end++ = '\n';
    print_text(kOutputFileNumber, std::string_view(line, static_cast<std::size_t>(end - line)),
               kItemInLine);
  }
  code = close_file(kOutputFileNumber);
  if (code != kNoError) raise_runtime_error(code, kCloseOutputLine);
}

}  // namespace tarvel
