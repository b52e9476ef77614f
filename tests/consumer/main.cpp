// capture_report FILE K: tarvel's report on a raw capture of K channels,
// interleaved complex floats (as an SDR's file sink writes them).
#include <tarvel/tarvel.h>

#include <complex>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: capture_report FILE K\n";
    return 1;
  }
  std::ifstream file(argv[1], std::ios::binary);
  std::vector<std::complex<float>> x;
  for (std::complex<float> v; file.read(reinterpret_cast<char*>(&v), sizeof v);) x.push_back(v);
  if (!file.eof()) {  // not opened, or a read failed
    std::cerr << argv[1] << ": cannot be read\n";
    return 2;
  }
  const std::int64_t k = std::atoll(argv[2]);  // 0, which tarvel refuses, when K is no number
  const std::int64_t s = k > 0 ? std::ssize(x) / k : 0;
  try {
    const tarvel::Estimate e = tarvel::estimate(tarvel::SampleView{x.data(), s, k, k, 1});
    std::cout << tarvel::report(e);
  } catch (const tarvel::Error& e) {
    std::cerr << e.what() << '\n';
    return e.code();
  }
}
