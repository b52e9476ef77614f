// The common numeric field, read in one pass straight from the input
// window: the fast path of the field reads, kept inline so that the second
// pass pays no call per field.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "input/input_file.h"
#include "numbers/decimal_to_double.h"
#include "numbers/powers_of_ten.h"

namespace tarvel::detail {

inline constexpr std::size_t kPlainFieldLimit = 67;  // the scanner's field limit

// A field that needs none of the scanner's special rules, read straight from
// the window.
struct PlainField {
  bool is_integer = false;
  std::int64_t integer = 0;  // when is_integer
  double floating = 0.0;     // otherwise
};

// The count (0 to 8) and value of the decimal digits that begin the eight
// bytes at `p`, all at once: a byte is a digit when neither adding 0x46 nor
// subtracting 0x30 sets its high bit, and carries or borrows only travel
// upwards, past the first byte that is not a digit. The digits, moved to the
// top of the word behind zero bytes, are then combined pairwise.
[[gnu::always_inline]] inline int leading_digits(const unsigned char* p, std::uint64_t& value) {
  std::uint64_t bytes;
  std::memcpy(&bytes, p, sizeof bytes);
  const std::uint64_t digits = bytes - 0x3030303030303030ull;
  const std::uint64_t not_digit =
      ((bytes + 0x4646464646464646ull) | digits) & 0x8080808080808080ull;
  const int count = not_digit == 0 ? 8 : std::countr_zero(not_digit) / 8;
  if (count == 0) {
    value = 0;
    return 0;
  }
  std::uint64_t v = digits << (64 - 8 * count);
  v = v * 10 + (v >> 8);
  v = (((v & 0x000000FF000000FFull) * (100 + (1000000ull << 32))) +
       (((v >> 16) & 0x000000FF000000FFull) * (1 + (10000ull << 32)))) >>
      32;
  value = v;
  return count;
}

// The digits of a plain constant with fewer than eight digits before the
// point, fewer than sixteen after it and at most nineteen in all, eight bytes
// at a time: times are often written with more fraction digits than fit one
// word. False, moving nothing, for longer digit runs.
[[gnu::always_inline]] inline bool read_short_mantissa(const unsigned char*& p,
                                                       std::uint64_t& mantissa, int& exponent,
                                                       bool& any_digit, bool& float_mark) {
  const unsigned char* q = p;
  std::uint64_t integer_part = 0;
  const int integer_digits = leading_digits(q, integer_part);
  if (integer_digits == 8) return false;
  q += integer_digits;
  std::uint64_t value = integer_part;
  int fraction_digits = 0;
  if (*q == '.') {
    std::uint64_t fraction = 0;
    fraction_digits = leading_digits(q + 1, fraction);
    value = value * kPowersOfTen[fraction_digits] + fraction;
    if (fraction_digits == 8) {
      // Up to 19 digits in all fit 64 bits.
      const int more_digits = leading_digits(q + 9, fraction);
      if (more_digits == 8 || integer_digits + 8 + more_digits > 19) return false;
      value = value * kPowersOfTen[more_digits] + fraction;
      fraction_digits += more_digits;
    }
    q += 1 + fraction_digits;
    float_mark = true;
  }
  mantissa = value;
  exponent = -fraction_digits;
  any_digit = integer_digits + fraction_digits > 0;
  p = q;
  return true;
}

// Reads the common field in one pass over the window: optional blanks, then
// a plain decimal constant ([+-] digits [. digits] [e|E [+-] digits]) ending
// in a blank, tab, comma or line end, with its delimiter. It is exactly what
// scan_field and the conversion make of the same bytes, because such a text
// sets no flag but the float mark, stays under the field limit, and is
// converted by the same rules: a text without float mark of at most 18 bytes
// is a decimal integer that cannot overflow, and one with a float mark whose
// digits form an integer up to 2^53 with a power of ten within 22 of zero is
// one correctly rounded multiplication or division. Anything else, or a field
// too close to the end of the window, returns false and consumes nothing, so
// the general path reads the field from the same place.
[[gnu::always_inline]] inline bool read_plain_field(InputFile& file, PlainField& field) {
  // Every read below stays within this many bytes of the field's first
  // non-blank byte: the word-wide digit reads, the digit runs (stopped at the
  // field limit) and the exponent. Only the blanks after the field are
  // checked against the end byte by byte.
  constexpr std::ptrdiff_t kLookahead = 2 * kPlainFieldLimit;
  const unsigned char* p = file.next;
  const unsigned char* const end = file.end;
  if (end - p < kLookahead) return false;
  const unsigned char* const last_start = end - kLookahead;
  while (*p == ' ' || *p == '\t') {
    if (++p > last_start) return false;
  }
  const unsigned char* const start = p;
  const unsigned char* const stop = start + kPlainFieldLimit;
  bool negative = false;
  if (*p == '-' || *p == '+') {
    negative = *p == '-';
    ++p;
  }
  std::uint64_t mantissa = 0;
  int exponent = 0;
  bool any_digit = false;
  bool float_mark = false;
  if (!read_short_mantissa(p, mantissa, exponent, any_digit, float_mark)) {
    // Longer runs digit by digit, stopped at the field limit: a field that
    // reaches it is too long for the fast path anyway, and fails the length
    // check below.
    DecimalDigits digits;
    if (!read_decimal_digits(p, stop, digits)) return false;
    mantissa = digits.mantissa;
    exponent = digits.exponent;
    any_digit = digits.any_digit;
    float_mark = digits.point;
  }
  if (!any_digit) return false;
  if (*p == 'e' || *p == 'E') {
    float_mark = true;
    ++p;
    bool negative_exponent = false;
    if (*p == '-' || *p == '+') {
      negative_exponent = *p == '-';
      ++p;
    }
    int written = 0;
    int exponent_digits = 0;
    for (; static_cast<unsigned>(*p - '0') < 10; ++p) {
      if (++exponent_digits > 4) return false;
      written = written * 10 + (*p - '0');
    }
    if (exponent_digits == 0) return false;
    exponent += negative_exponent ? -written : written;
  }
  if (p - start >= static_cast<std::ptrdiff_t>(kPlainFieldLimit)) return false;
  if (!float_mark && p - start > 18) return false;

  // The delimiter, as finish_field and the line-end rules take it.
  switch (*p) {
    case ' ':
    case '\t':
      do {
        if (++p == end) return false;
      } while (*p == ' ' || *p == '\t');
      if (*p == kLineFeed || *p == ',') {
        ++p;
      } else if (*p == kCarriageReturn) {
        if (++p == end) return false;
        if (*p == kLineFeed) ++p;
      }
      break;
    case kLineFeed:
    case ',':
      ++p;
      break;
    case kCarriageReturn:
      if (++p == end) return false;
      if (*p == kLineFeed) ++p;
      break;
    default:
      return false;
  }

  if (!float_mark) {
    const std::int64_t magnitude = static_cast<std::int64_t>(mantissa);
    field.is_integer = true;
    field.integer = negative ? -magnitude : magnitude;
  } else {
    double value;
    if (!exact_decimal_to_double(mantissa, exponent, value)) return false;
    field.is_integer = false;
    field.floating = negative ? -value : value;
  }
  file.next = p;
  return true;
}

}  // namespace tarvel::detail
