// Compares every operation of the portable extended type, and the rounding
// of each result to float and double, with the x87's long double (where the
// compiler has it) and with MPFR at 64 bits (where the build found it), on
// many drawn operand pairs, far more than the unit tests run. Prints, per
// reference, the cases and the mismatches (which must be 0).
//
//   extended_random_check [PAIRS]   (default 100000000; MPFR takes a tenth)
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "support/extended_comparison.h"

namespace {

using tarvel::PortableExtended;
using tarvel::testing::Operation;
using tarvel::testing::X87Image;

void report(Operation operation, const PortableExtended& a, const PortableExtended& b,
            const X87Image& got, const X87Image& expected) {
  const X87Image ia = tarvel::testing::image_of(a);
  const X87Image ib = tarvel::testing::image_of(b);
  std::printf("  %04x:%016llx %s %04x:%016llx gives %04x:%016llx, expected %04x:%016llx\n",
              ia.sign_exponent, static_cast<unsigned long long>(ia.significand),
              tarvel::testing::name_of(operation), ib.sign_exponent,
              static_cast<unsigned long long>(ib.significand), got.sign_exponent,
              static_cast<unsigned long long>(got.significand), expected.sign_exponent,
              static_cast<unsigned long long>(expected.significand));
}

template <class Compare>
tarvel::testing::Comparison run(std::int64_t pairs, std::uint64_t seed, Compare&& compare) {
  tarvel::testing::Random random(seed);
  tarvel::testing::Comparison tally;
  for (std::int64_t i = 0; i < pairs && tally.mismatches < 20; ++i) {
    const int kind = static_cast<int>(i % tarvel::testing::kOperandKinds);
    const PortableExtended a = tarvel::testing::draw_operand(random, kind);
    const PortableExtended b = tarvel::testing::draw_partner(random, kind, a);
    for (const Operation operation : tarvel::testing::kOperations) compare(operation, a, b, tally);
  }
  return tally;
}

void print(const char* reference, const tarvel::testing::Comparison& tally) {
  std::printf("%-24s %12lld operations %10lld beyond the x87 range %6lld mismatches\n", reference,
              static_cast<long long>(tally.cases), static_cast<long long>(tally.skipped),
              static_cast<long long>(tally.mismatches));
}

}  // namespace

int main(int argc, char** argv) {
  const std::int64_t pairs = argc > 1 ? std::atoll(argv[1]) : 100000000;
  std::int64_t mismatches = 0;
  if constexpr (tarvel::testing::kLongDoubleIsX87) {
    const auto tally =
        run(pairs, 101,
            [](Operation operation, const PortableExtended& a, const PortableExtended& b, auto& t) {
              tarvel::testing::compare_with_hardware(operation, a, b, t, report);
            });
    print("x87 long double", tally);
    mismatches += tally.mismatches;
  } else {
    std::printf("long double is not the x87 format here: no hardware comparison\n");
  }
#if defined(TARVEL_HAVE_MPFR)
  tarvel::testing::MpfrReference mpfr;
  const auto tally =
      run(pairs / 10, 102,
          [&](Operation operation, const PortableExtended& a, const PortableExtended& b, auto& t) {
            tarvel::testing::compare_with_mpfr(mpfr, operation, a, b, t, report);
          });
  print("MPFR, 64 bits", tally);
  mismatches += tally.mismatches;
#else
  std::printf("MPFR not found by the build: no MPFR comparison\n");
#endif
  return mismatches == 0 ? 0 : 1;
}
