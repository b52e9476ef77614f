// Writes a realistic tarvel input file: one coherent complex signal received
// on K channels, each with its own gain and phase, plus complex Gaussian noise
// of which a part is shared between the channels. Values carry 7 significant
// digits, times are multiples of the sample period. Seeded and reproducible.
//
//   generate_input SAMPLES CHANNELS SEED OUTPUT
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr double kSamplePeriod = 1.0 / 48000.0;
constexpr double kPi = 3.14159265358979323846;

char* append(char* out, double value, int digits) {
  return std::to_chars(out, out + 32, value, std::chars_format::general, digits).ptr;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: %s SAMPLES CHANNELS SEED OUTPUT\n", argv[0]);
    return 2;
  }
  const long long samples = std::atoll(argv[1]);
  const int channels = std::atoi(argv[2]);
  std::mt19937_64 random(std::strtoull(argv[3], nullptr, 10));
  std::FILE* out = std::fopen(argv[4], "wb");
  if (out == nullptr || samples < 0 || channels < 1) {
    std::fprintf(stderr, "cannot write %s\n", argv[4]);
    return 1;
  }

  std::uniform_real_distribution<double> uniform(0.0, 1.0);
  std::normal_distribution<double> normal(0.0, 1.0);
  std::vector<double> gain(channels), phase(channels), noise(channels), shared(channels);
  for (int k = 0; k < channels; ++k) {
    gain[k] = 0.2 + 1.8 * uniform(random);
    phase[k] = 2 * kPi * uniform(random);
    noise[k] = 0.1 + 0.9 * uniform(random);
    shared[k] = 0.5 * uniform(random);
  }
  const double frequency = 1000.0;

  std::vector<char> buffer(1 << 20);
  std::size_t used = 0;
  for (long long n = 0; n < samples; ++n) {
    if (buffer.size() - used < 64 + 40 * static_cast<std::size_t>(channels)) {
      std::fwrite(buffer.data(), 1, used, out);
      used = 0;
    }
    char* p = buffer.data() + used;
    const double t = static_cast<double>(n) * kSamplePeriod;
    p = append(p, t, 10);
    const double angle = 2 * kPi * frequency * t;
    const double common_re = normal(random);
    const double common_im = normal(random);
    for (int k = 0; k < channels; ++k) {
      double re = gain[k] * std::cos(angle + phase[k]);
      double im = gain[k] * std::sin(angle + phase[k]);
      re += noise[k] * (shared[k] * common_re + (1 - shared[k]) * normal(random));
      im += noise[k] * (shared[k] * common_im + (1 - shared[k]) * normal(random));
      *p++ = ' ';
      p = append(p, re, 7);
      *p++ = ' ';
      p = append(p, im, 7);
    }
    *p++ = '\n';
    used = static_cast<std::size_t>(p - buffer.data());
  }
  std::fwrite(buffer.data(), 1, used, out);
  return std::fclose(out) == 0 ? 0 : 1;
}
