#include <string>

#include "input/two_pass_reader.h"
#include "library/failure.h"
#include "output/output_file.h"
#include "platform/files.h"
#include "runtime/fp_environment.h"
#include "tarvel/tarvel.h"

namespace tarvel {
namespace library {
namespace {

std::error_code reason_of(int error_number) {
  return error_number == 0 ? std::error_code()
                           : std::error_code(error_number, std::generic_category());
}

// The reasons the tool's guarded steps fail for, in words that name the file.
[[noreturn]] void fail_to_read(const PassFailure& failure, const std::filesystem::path& path) {
  const std::string name = path.string();
  const Failure named = failure_of(failure.code);
  switch (failure.code) {
    case kFileNotFound:
      fail_on_file(named, "cannot open " + name + " for reading (missing, unreadable or a folder)",
                   path, reason_of(failure.error_number));
    case kIllegalFunctionCall:
      // The system accepted the file; the reader cannot take it.
      fail_on_file(
          named, "cannot read " + name + ": no regular file (a device, pipe or socket), or no name",
          path, std::make_error_code(std::errc::invalid_argument));
    default:
      fail_on_file(named, "cannot read " + name, path, reason_of(failure.error_number));
  }
}

// The samples of `table` in the library's layout: times apart, each
// sample's channels adjacent as complex values. The table's parts are freed
// as soon as they are copied.
TextSamples take_samples(SampleTable& table, std::int64_t samples, std::int64_t channels) {
  TextSamples out;
  out.sample_count = samples;
  out.channel_count = channels;
  out.times.assign(table.t.data(), table.t.data() + samples);
  table.t = Array1<double>();
  out.values.resize(static_cast<std::size_t>(samples * channels));
  const float* xr = table.xr.row(1);
  const float* xi = table.xi.row(1);
  for (std::int64_t i = 0; i < samples * channels; ++i) {
    out.values[static_cast<std::size_t>(i)] = {xr[i], xi[i]};
  }
  return out;
}

}  // namespace
}  // namespace library

std::filesystem::path output_path(const std::filesystem::path& input) {
  return std::filesystem::path(make_output_name(input.string()));
}

TextSamples read_text(const std::filesystem::path& path, std::stop_token stop) {
  return library::with_errors([&] {
    const std::string name = path.string();
    FloatingPointScope environment;
    const PassControl control{0, stop};
    FirstPass first;
    if (const PassFailure failure = count_lines(name, first, {}, control);
        failure.code != kNoError) {
      library::fail_to_read(failure, path);
    }
    if (stop.stop_requested()) library::fail_stopped();
    const std::int64_t samples = first.line_count;
    const std::int64_t channels = count_fields(first.first_line);
    SampleTable table;
    if (RuntimeErrorCode code = allocate_sample_table(table, samples, channels); code != kNoError) {
      if (code == kIllegalFunctionCall) {
        library::fail_on_file(Failure::illegal_function_call,
                              name + " holds no samples (" + std::to_string(samples) +
                                  " lines of " + std::to_string(channels) + " channels)",
                              path);
      }
      library::fail_on_file(Failure::out_of_memory,
                            "no room for the " + std::to_string(samples) + " samples of " +
                                std::to_string(channels) + " channels of " + name,
                            path);
    }
    std::int64_t read = 0;
    if (const PassFailure failure =
            read_samples(name, samples, channels, table, read, {}, first.split, control);
        failure.code != kNoError) {
      library::fail_to_read(failure, path);
    }
    if (stop.stop_requested()) library::fail_stopped();
    if (read < samples) {
      library::fail_on_file(Failure::end_of_file,
                            "file too short: " + name + " ends after " + std::to_string(read) +
                                " of its " + std::to_string(samples) + " samples",
                            path);
    }
    return library::take_samples(table, samples, channels);
  });
}

void write_text(const std::filesystem::path& path, std::span<const double> times,
                std::span<const std::complex<float>> combined, std::stop_token stop) {
  library::with_errors([&] {
    const std::string name = path.string();
    if (times.size() != combined.size() || times.empty()) {
      library::fail(Failure::illegal_function_call,
                    "the output needs as many times as combined values, at least one (" +
                        std::to_string(times.size()) + " and " + std::to_string(combined.size()) +
                        ")");
    }
    if (name.empty()) library::fail(Failure::illegal_function_call, "the output file has no name");
    const platform::FileHandle file = platform::create_for_writing(name);
    if (file == platform::kNoFile) {
      library::fail_on_file(Failure::file_not_found, "cannot create " + name, path,
                            library::reason_of(platform::last_error_number()));
    }
    // As the tool: every byte is tried, and a failed write is told at the end,
    // with the reason of the first that failed.
    bool written = true;
    int write_error = 0;
    const auto* parts = reinterpret_cast<const float*>(combined.data());
    const OutputColumns columns{times.data(), parts, parts + 1, 2,
                                static_cast<std::int64_t>(times.size())};
    bool ended = false;
    try {
      FloatingPointScope environment;
      ended = produce_output_lines(
          columns, nullptr,
          [&](const char* bytes, std::size_t size) {
            if (!platform::write_fully(file, bytes, size) && written) {
              write_error = platform::last_error_number();
              written = false;
            }
          },
          stop);
    } catch (...) {
      platform::close_file(file);
      throw;
    }
    platform::close_file(file);
    if (!written) {
      library::fail_on_file(Failure::file_io_error, "cannot write all of " + name, path,
                            library::reason_of(write_error));
    }
    if (!ended) {
      library::fail_on_file(Failure::interrupted,
                            "the call was stopped before " + name + " was written whole", path);
    }
  });
}

}  // namespace tarvel
