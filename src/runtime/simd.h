// Vectors for kernels written once: the compiler's vector extension (GCC and
// Clang), whose +, -, *, &, |, ^ and comparisons work lane by lane and become
// the instructions of whatever the enclosing function is compiled for: SSE2
// or NEON at 16 bytes and AVX2 at 32 bytes inside functions marked
// TARVEL_TARGET_AVX2. A kernel is a template
// on its vector width, inlined whole into one such function per width; every
// helper here is always inlined, so it takes the instructions of the
// function it lands in and no vector ever crosses a call.
//
// The few operations the extension lacks, or that a compiler turns into
// poor code, are below with a branch per processor family where needed;
// their results are the same on every processor.
#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>

#if defined(__aarch64__) && defined(__ARM_NEON)
#include <arm_neon.h>
#endif

// The lambdas of the helpers are inlined too, even in unoptimised builds.
#define TARVEL_INLINE_LAMBDA __attribute__((always_inline))

// Marks a function compiled for AVX2 (x86 only); call it only
// where simd_level_supported says the processor has the instructions.
#if defined(__x86_64__) || defined(__i386__)
#define TARVEL_SIMD_X86 1
#define TARVEL_TARGET_AVX2 [[gnu::target("avx2")]]
#else
#define TARVEL_SIMD_X86 0
#endif

// A vector wider than 16 bytes never crosses a call here (everything is
// inlined), so the ABI of passing one does not apply.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"

namespace tarvel::simd {

// `lanes` values of T in one vector; lanes * sizeof(T) is 8, 16, 32 or 64.
// (A typedef in a class template: the attribute on an alias template is lost
// when the alias is a template argument.)
template <class T, int lanes>
struct VecOf {
  typedef T type __attribute__((vector_size(lanes * sizeof(T))));
};
template <class T, int lanes>
using Vec = typename VecOf<T, lanes>::type;

// The lane type and lane count of a vector type.
template <class V>
using Lane = std::remove_cvref_t<decltype(std::declval<V&>()[0])>;
template <class V>
inline constexpr int kLanes = static_cast<int>(sizeof(V) / sizeof(Lane<V>));

// The signed integer vector of the same lanes, the type a comparison gives:
// all ones in a lane where it holds, zero elsewhere.
template <class V>
using MaskOf = Vec<std::make_signed_t<std::conditional_t<
                       sizeof(Lane<V>) == 8, std::uint64_t,
                       std::conditional_t<sizeof(Lane<V>) == 4, std::uint32_t, std::uint8_t>>>,
                   kLanes<V>>;

// Every lane x; a plain broadcast, so -0 and NaN keep their bits.
template <class V>
[[gnu::always_inline]] inline V splat(Lane<V> x) {
#if defined(__clang__)
  return [&]<std::size_t... i>(std::index_sequence<i...>) TARVEL_INLINE_LAMBDA {
    return __builtin_shufflevector(V{x}, V{x}, (static_cast<int>(i) * 0)...);
  }
  (std::make_index_sequence<kLanes<V>>());
#else
  return __builtin_shuffle(V{x}, MaskOf<V>{});
#endif
}

// The vector at p, which need not be aligned.
template <class V>
[[gnu::always_inline]] inline V load(const Lane<V>* p) {
  V v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

template <class V>
[[gnu::always_inline]] inline void store(Lane<V>* p, V v) {
  std::memcpy(p, &v, sizeof v);
}

// p[0], p[stride], p[2·stride], ... in the lanes.
template <class V>
[[gnu::always_inline]] inline V load_strided(const Lane<V>* p, std::int64_t stride) {
  return [&]<std::size_t... i>(std::index_sequence<i...>) TARVEL_INLINE_LAMBDA {
    return V{p[static_cast<std::int64_t>(i) * stride]...};
  }
  (std::make_index_sequence<kLanes<V>>());
}

// The floats of v as doubles, exactly.
template <class F, int lanes = kLanes<F>>
[[gnu::always_inline]] inline Vec<double, lanes> widen(F v) {
  static_assert(std::is_same_v<Lane<F>, float>);
#if defined(__aarch64__) && defined(__ARM_NEON)
  if constexpr (lanes == 2)
    return vcvt_f64_f32(v);  // the compiler's own conversion goes lane by lane
#endif
  if constexpr (lanes == 2) {
    return __builtin_convertvector(v, Vec<double, lanes>);
  } else {
    // Lane by lane, which the compiler merges into one conversion; its own
    // conversion of wider vectors goes by halves.
    return [&]<std::size_t... i>(std::index_sequence<i...>) TARVEL_INLINE_LAMBDA {
      return Vec<double, lanes>{static_cast<double>(v[i])...};
    }
    (std::make_index_sequence<lanes>());
  }
}

// The doubles of v rounded to float, each as a single rounding would.
template <class D, int lanes = kLanes<D>>
[[gnu::always_inline]] inline Vec<float, lanes> narrow(D v) {
  static_assert(std::is_same_v<Lane<D>, double>);
  return __builtin_convertvector(v, Vec<float, lanes>);
}

// The bits of v as another vector type of the same size. The builtin, not
// std::bit_cast: that is a function of its own, which an unoptimised build
// calls rather than inlines, compiled without the wider vector registers of
// the kernel that calls it, so that the two pass a 256-bit vector in
// different places and the call crashes.
template <class To, class From>
[[gnu::always_inline]] inline To bits_as(From v) {
  static_assert(sizeof(To) == sizeof(From));
  return __builtin_bit_cast(To, v);
}

// The sign bit of every lane cleared (the absolute value, NaN included).
template <class V>
[[gnu::always_inline]] inline V magnitude(V v) {
  using M = MaskOf<V>;
  return bits_as<V>(bits_as<M>(v) & ~bits_as<M>(splat<V>(Lane<V>{-0.0})));
}

// Comparison results (or any masks) combined lane by lane. GCC 12 turns & and
// | of two 64-bit comparison results into code lane by lane without SSE4, so
// the masks are combined as 32-bit words, which is the same thing.
template <class M>
[[gnu::always_inline]] inline M both(M a, M b) {
  using Words = Vec<std::int32_t, static_cast<int>(sizeof(M) / 4)>;
  return bits_as<M>(bits_as<Words>(a) & bits_as<Words>(b));
}
// a and not b: one instruction (ANDN) where a NOT and an AND written apart
// stay two.
template <class M>
[[gnu::always_inline]] inline M but_not(M a, M b) {
  using Words = Vec<std::int32_t, static_cast<int>(sizeof(M) / 4)>;
  return bits_as<M>(bits_as<Words>(a) & ~bits_as<Words>(b));
}
template <class M>
[[gnu::always_inline]] inline M either(M a, M b) {
  using Words = Vec<std::int32_t, static_cast<int>(sizeof(M) / 4)>;
  return bits_as<M>(bits_as<Words>(a) | bits_as<Words>(b));
}

// Bit i set where byte i of v has its top bit set (a comparison's all-ones
// byte, say).
[[gnu::always_inline]] inline std::uint32_t byte_mask(Vec<std::uint8_t, 16> v) {
#if TARVEL_SIMD_X86
  return static_cast<std::uint16_t>(__builtin_ia32_pmovmskb128(bits_as<Vec<char, 16>>(v)));
#elif defined(__aarch64__) && defined(__ARM_NEON)
  const uint8x16_t weights = {1, 2, 4, 8, 16, 32, 64, 128, 1, 2, 4, 8, 16, 32, 64, 128};
  const uint8x16_t bits =
      vandq_u8(vreinterpretq_u8_s8(vshrq_n_s8(vreinterpretq_s8_u8(v), 7)), weights);
  return vaddv_u8(vget_low_u8(bits)) |
         (static_cast<std::uint32_t>(vaddv_u8(vget_high_u8(bits))) << 8);
#else
  std::uint32_t mask = 0;
  for (int i = 0; i < 16; ++i) mask |= static_cast<std::uint32_t>(v[i] >> 7) << i;
  return mask;
#endif
}

// GCC's own reduction of a 32-byte mask costs three more instructions than
// VPTEST on the hot branch of the kernels; clang reduces well by itself, and
// rejects a 32-byte register operand outside AVX functions.
#if TARVEL_SIMD_X86 && !defined(__clang__)
#define TARVEL_VPTEST_ANY 1
#else
#define TARVEL_VPTEST_ANY 0
#endif

#if TARVEL_VPTEST_ANY
// any() of a 32-byte mask: VPTEST, which the compiler has no plain spelling
// for. AVX code only.
template <class M>
[[gnu::always_inline]] inline bool any_avx(M mask) {
  static_assert(sizeof(M) == 32);
  bool set;
  asm("vptest %1, %1" : "=@ccnz"(set) : "x"(mask));
  return set;
}
#endif

// True when some lane of the comparison result `mask` is set. On x86 a
// 32-byte mask is tested with an AVX instruction, so only in functions
// marked TARVEL_TARGET_AVX2, the only place such vectors belong.
template <class M>
[[gnu::always_inline]] inline bool any(M mask) {
#if TARVEL_VPTEST_ANY
  if constexpr (sizeof(M) == 32) return any_avx(mask);
#endif
  if constexpr (sizeof(M) > 16) {
    // OR of the 16-byte pieces.
    using Piece = Vec<std::int64_t, 2>;
    const auto whole = bits_as<Vec<std::int64_t, static_cast<int>(sizeof(M) / 8)>>(mask);
    Piece folded{};
    for (int i = 0; i < kLanes<decltype(whole)>; i += 2) folded |= Piece{whole[i], whole[i + 1]};
    return any(folded);
  } else if constexpr (sizeof(M) < 16) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &mask, sizeof mask);
    return bits != 0;
  } else {
#if TARVEL_SIMD_X86
    return byte_mask(bits_as<Vec<std::uint8_t, 16>>(mask)) != 0;
#elif defined(__aarch64__) && defined(__ARM_NEON)
    return vmaxvq_u32(bits_as<uint32x4_t>(mask)) != 0;
#else
    const auto halves = bits_as<Vec<std::uint64_t, 2>>(mask);
    return (halves[0] | halves[1]) != 0;
#endif
  }
}

// Bit i set where lane i of `mask` is set. For the rare path: lane by lane.
template <class M>
[[gnu::always_inline]] inline unsigned lane_bits(M mask) {
  unsigned bits = 0;
  for (int i = 0; i < kLanes<M>; ++i) bits |= (mask[i] != 0 ? 1u : 0u) << i;
  return bits;
}

}  // namespace tarvel::simd

#pragma GCC diagnostic pop
