// Writes a raw capture as an SDR file sink leaves it: S samples of K
// channels, interleaved complex64 (each sample's channels in turn, the real
// then the imaginary part of each, floats in the machine's byte order), no
// header. Each
// channel carries one constant signal with its own gain and phase under
// noise that the channels partly share. The noise is a cheap generator's sum
// of uniforms rather than exact Gaussian draws, so that gigabytes are written
// at the disk's speed; seeded and reproducible.
//
//   write_capture SAMPLES CHANNELS SEED OUTPUT
#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

// xorshift64*: fast and good enough for noise.
class Noise {
 public:
  explicit Noise(std::uint64_t seed) : state_(seed | 1) {}
  // About N(0, 1): the sum of four uniforms on [-0.5, 0.5), scaled.
  float next() {
    float sum = 0;
    for (int i = 0; i < 4; ++i) sum += uniform() - 0.5f;
    return sum * 1.7320508f;  // sqrt(12 / 4)
  }

 private:
  float uniform() {
    state_ ^= state_ >> 12;
    state_ ^= state_ << 25;
    state_ ^= state_ >> 27;
    return static_cast<float>((state_ * 0x2545F4914F6CDD1Dull) >> 40) * 0x1p-24f;
  }
  std::uint64_t state_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: %s SAMPLES CHANNELS SEED OUTPUT\n", argv[0]);
    return 2;
  }
  const long long samples = std::atoll(argv[1]);
  const int channels = std::atoi(argv[2]);
  Noise noise(std::strtoull(argv[3], nullptr, 10));
  if (samples < 1 || channels < 1) {
    std::fprintf(stderr, "SAMPLES and CHANNELS must be at least 1\n");
    return 2;
  }
  std::FILE* out = std::fopen(argv[4], "wb");
  if (out == nullptr) {
    std::perror(argv[4]);
    return 1;
  }

  std::vector<std::complex<float>> signal(static_cast<std::size_t>(channels));
  for (int k = 0; k < channels; ++k) {
    signal[static_cast<std::size_t>(k)] =
        std::polar(0.3f + 0.2f * static_cast<float>(k), 0.9f * static_cast<float>(k + 1));
  }
  // 4 MiB a write.
  const long long per_chunk = std::max(1LL, (1LL << 19) / channels);
  std::vector<std::complex<float>> chunk(static_cast<std::size_t>(per_chunk * channels));
  for (long long first = 0; first < samples; first += per_chunk) {
    const long long count = std::min(per_chunk, samples - first);
    std::complex<float>* p = chunk.data();
    for (long long n = 0; n < count; ++n) {
      const std::complex<float> shared(noise.next(), noise.next());
      for (int k = 0; k < channels; ++k) {
        *p++ = signal[static_cast<std::size_t>(k)] + 0.5f * shared +
               std::complex<float>(noise.next(), noise.next());
      }
    }
    const std::size_t values = static_cast<std::size_t>(count * channels);
    if (std::fwrite(chunk.data(), sizeof(std::complex<float>), values, out) != values) {
      std::perror(argv[4]);
      return 1;
    }
  }
  if (std::fclose(out) != 0) {
    std::perror(argv[4]);
    return 1;
  }
  return 0;
}
