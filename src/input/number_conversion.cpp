#include "input/number_conversion.h"

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <string>
#include <system_error>

#include "numbers/decimal_to_double.h"

namespace tarvel {
namespace {

constexpr std::size_t kInteger32Limit = 9;
constexpr std::size_t kInteger64Limit = 18;

bool is_white_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool is_decimal_digit(char c) {
  return c >= '0' && c <= '9';
}

// The value of a digit in any radix up to 16, or 16 for a byte that is none.
unsigned digit_value(char c) {
  if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
  if (c >= 'A' && c <= 'F') return static_cast<unsigned>(c - 'A' + 10);
  if (c >= 'a' && c <= 'f') return static_cast<unsigned>(c - 'a' + 10);
  return 16;
}

bool is_hex_digit(char c) {
  return digit_value(c) < 16;
}

std::int64_t narrow(std::uint64_t value, IntegerWidth width) {
  if (width == IntegerWidth::k32) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
  }
  return static_cast<std::int64_t>(value);
}

// strtod on the numeric prefix [begin, end): only for magnitudes that
// from_chars reports as out of range, where strtod gives the infinity, zero
// or subnormal. The tool never changes LC_NUMERIC from "C", so "." is the
// decimal point here as well.
double convert_out_of_range(const char* begin, const char* end) {
  const std::size_t size = static_cast<std::size_t>(end - begin);
  char local[128];
  std::string heap;
  char* text = local;
  if (size >= sizeof local) {
    heap.assign(begin, size);
    text = heap.data();
  } else {
    std::memcpy(local, begin, size);
    local[size] = '\0';
  }
  return std::strtod(text, nullptr);
}

// The common case of a plain decimal constant: its digits and the power of
// ten, then the shared fast path. Returns false, leaving the text to
// from_chars, for any other text. `p` is past the sign.
bool convert_short_decimal(const char* p, const char* end, double& value) {
  DecimalDigits digits;
  if (!read_decimal_digits(p, end, digits) || !digits.any_digit) return false;
  int exponent = digits.exponent;
  if (p != end && (*p == 'e' || *p == 'E')) {
    const char* q = p + 1;
    bool negative = false;
    if (q != end && (*q == '+' || *q == '-')) {
      negative = *q == '-';
      ++q;
    }
    // An exponent without digits is not part of the constant.
    int written = 0;
    for (; q != end && is_decimal_digit(*q); ++q) {
      if (written > 10000) return false;
      written = written * 10 + (*q - '0');
    }
    exponent += negative ? -written : written;
  }
  return exact_decimal_to_double(digits.mantissa, exponent, value);
}

}  // namespace

ConversionPath choose_conversion(std::string_view text, bool float_mark) {
  if (float_mark) return ConversionPath::kFloating;
  if (text.size() <= kInteger32Limit) return ConversionPath::kInteger32;
  if (text.size() <= kInteger64Limit || text.front() == '&') return ConversionPath::kInteger64;
  return ConversionPath::kFloating;
}

std::int64_t parse_integer(std::string_view text, IntegerWidth width) {
  std::size_t i = 0;
  const std::size_t size = text.size();
  while (i < size && text[i] == ' ') ++i;
  if (i == size) return 0;
  // Unsigned, so that the accumulation wraps instead of overflowing.
  std::uint64_t value = 0;
  if (size - i >= 2 && text[i] == '&') {
    unsigned radix = 8;
    std::size_t digits = i + 2;
    switch (text[i + 1]) {
      case 'H':
      case 'h':
        radix = 16;
        break;
      case 'O':
      case 'o':
        break;
      case 'B':
      case 'b':
        radix = 2;
        break;
      default:
        // A bare "&": octal digits start right after it.
        digits = i + 1;
        break;
    }
    for (std::size_t j = digits; j < size; ++j) {
      const unsigned digit = digit_value(text[j]);
      if (digit >= radix) break;
      value = value * radix + digit;
    }
    return narrow(value, width);
  }
  while (i < size && is_white_space(text[i])) ++i;
  bool negative = false;
  if (i < size && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  for (; i < size && is_decimal_digit(text[i]); ++i) {
    value = value * 10 + static_cast<unsigned>(text[i] - '0');
  }
  if (negative) value = 0 - value;
  return narrow(value, width);
}

double parse_floating(std::string_view text) {
  const char* p = text.data();
  const char* const end = p + text.size();
  while (p != end && is_white_space(*p)) ++p;
  bool negative = false;
  if (p != end && (*p == '+' || *p == '-')) {
    negative = *p == '-';
    ++p;
  }
  // from_chars would take a "-" of its own, and no sign is allowed here.
  if (p == end || *p == '+' || *p == '-') return 0.0;

  const char* const number = p;
  double value = 0.0;
  std::from_chars_result result{};
  const bool hexadecimal =
      end - p >= 3 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X') &&
      (is_hex_digit(p[2]) || (p[2] == '.' && end - p >= 4 && is_hex_digit(p[3])));
  if (hexadecimal) {
    result = std::from_chars(p + 2, end, value, std::chars_format::hex);
  } else if (convert_short_decimal(p, end, value)) {
    return negative ? -value : value;
  } else {
    // Also the "0" of a "0x" that no hexadecimal digit follows.
    result = std::from_chars(p, end, value, std::chars_format::general);
  }
  if (result.ec == std::errc::invalid_argument) return 0.0;
  if (result.ec == std::errc::result_out_of_range) {
    value = convert_out_of_range(number, result.ptr);
  }
  return negative ? -value : value;
}

double convert_to_double(std::string_view text, bool float_mark) {
  switch (choose_conversion(text, float_mark)) {
    case ConversionPath::kInteger32:
      return static_cast<double>(parse_integer(text, IntegerWidth::k32));
    case ConversionPath::kInteger64:
      return static_cast<double>(parse_integer(text, IntegerWidth::k64));
    case ConversionPath::kFloating:
      break;
  }
  return parse_floating(text);
}

float convert_to_single(std::string_view text, bool float_mark) {
  switch (choose_conversion(text, float_mark)) {
    case ConversionPath::kInteger32:
      return static_cast<float>(parse_integer(text, IntegerWidth::k32));
    case ConversionPath::kInteger64:
      // Straight from the integer, rounded once.
      return static_cast<float>(parse_integer(text, IntegerWidth::k64));
    case ConversionPath::kFloating:
      break;
  }
  // Rounded twice, to double and then to single, like every floating item.
  return static_cast<float>(parse_floating(text));
}

}  // namespace tarvel
