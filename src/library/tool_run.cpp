// The command's report and its whole run as calls: the command's own report
// writer, into a string.
#include <string>
#include <vector>

#include "library/failure.h"
#include "output/report_writer.h"
#include "tarvel/tarvel.h"

namespace tarvel {
namespace {

void write_estimate(ReportSink& sink, const Estimate& e) {
  const auto order = static_cast<std::int64_t>(e.signals.size());
  write_signals(sink, e.signals, e.snr_db);
  write_matrix(sink, "noise covariance:", e.covariance, order);
  write_matrix(sink, "inverted noise covariance:", e.inverse, order);
  write_weights(sink, e.weights, e.normalized_weights);
  write_combined(sink, e.combined_signal, e.combined_snr_db);
}

}  // namespace

std::string report(const Estimate& e) {
  const std::size_t k = e.signals.size();
  if (k == 0 || e.snr_db.size() != k || e.covariance.size() != k * k || e.inverse.size() != k * k ||
      e.weights.size() != k || e.normalized_weights.size() != k) {
    library::fail(Failure::illegal_function_call,
                  "an estimate whose sizes do not agree has no report");
  }
  return library::with_errors([&] {
    StringSink sink;
    write_estimate(sink, e);
    // The console shows every section under an empty line; the report
    // starts with its first.
    return std::move(sink.text().erase(0, 2));
  });
}

RunResult run(const std::filesystem::path& input, std::stop_token stop) {
  const TextSamples samples = read_text(input, stop);
  return library::with_errors([&] {
    StringSink console;
    write_reading_line(console, input.string(), samples.channel_count, samples.sample_count);
    std::vector<std::complex<float>> combined(static_cast<std::size_t>(samples.sample_count));
    // The command's own running sums, not the library's default exact ones.
    RunResult result;
    result.estimate = combine(view(samples), combined, Options{Arithmetic::command}, stop);
    write_estimate(console, result.estimate);
    result.output_path = output_path(input);
    write_writing_line(console, result.output_path.string());
    write_text(result.output_path, samples.times, combined, stop);
    result.standard_output = std::move(console.text());
    return result;
  });
}

}  // namespace tarvel
