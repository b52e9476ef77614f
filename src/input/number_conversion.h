// Conversion of a numeric field's text to a number: 32-bit and 64-bit integer
// conversion with the &H, &O, &B and bare & radixes, and correctly rounded
// floating conversion of the longest numeric prefix.
#pragma once

#include <cstdint>
#include <string_view>

namespace tarvel {

enum class ConversionPath { kInteger32, kInteger64, kFloating };

enum class IntegerWidth { k32, k64 };

// The conversion a field's text takes: floating when the scanner set its float
// mark; else 32-bit integer up to 9 bytes, 64-bit integer up to 18 bytes or
// when the text begins with "&", floating beyond. Never allocates.
ConversionPath choose_conversion(std::string_view text, bool float_mark);

// Integer conversion of `text`: leading blanks skipped; "&H", "&O", "&B" or a
// bare "&" select hexadecimal, octal, binary or octal digits; otherwise an
// optionally signed decimal integer after optional white space. Digits are
// taken up to the first byte that is not one; none gives 0. The value wraps
// modulo 2 to the power of the width and is read as signed of that width.
// Never fails; never allocates.
std::int64_t parse_integer(std::string_view text, IntegerWidth width);

// The nearest double (ties to even) to the longest prefix of `text` that is a
// floating constant: optional white space and sign, then decimal digits with
// at most one point and an optional complete exponent, "inf", "infinity",
// "nan", "nan(...)" (any case) or a "0x" hexadecimal constant. No such prefix
// gives 0; magnitudes out of range give infinity, zero or a subnormal. The
// decimal point is always ".". Never fails; allocates only for a numeric
// prefix of more than 127 bytes that is out of range.
double parse_floating(std::string_view text);

// The value of a field as a double-precision item. Never fails.
double convert_to_double(std::string_view text, bool float_mark);

// The value of a field as a single-precision item: an integer rounds straight
// to the nearest single, a floating text first to double and then to single.
// Never fails.
float convert_to_single(std::string_view text, bool float_mark);

}  // namespace tarvel
