// The input rules restated the slow and literal way, one byte at a time, as
// the fuzz targets' reference: the text-mode delivery, the 511-byte-piece line
// rule, the field count, the field scanner and the conversions. Nothing here
// shares code with src/input; a divergence between the two is a fault in one
// of them.
#pragma once

#include <locale.h>

#include <clocale>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "support/text_reference.h"

namespace tarvel::fuzz {

using reference::reference_delivery;
using reference::reference_lines;
using reference::reference_next_line;

// The channel count of a first line, one search and one removal per round:
// the position is found in the text less its leading spaces and counts from
// the text with them.
inline std::int64_t reference_count_fields(std::string_view first_line) {
  std::string w(first_line);
  while (!w.empty() && (w.back() == ' ' || w.back() == '\0')) w.pop_back();
  std::int64_t n = 0;
  for (std::size_t p = 1; p > 0; ++n) {
    std::size_t leading = 0;
    while (leading < w.size() && w[leading] == ' ') ++leading;
    const std::string trimmed = w.substr(leading);
    p = 0;
    for (std::size_t i = 0; i < trimmed.size(); ++i) {
      if (trimmed[i] == ' ') {
        p = i + 1;
        break;
      }
    }
    w.erase(0, p < w.size() ? p : w.size());
  }
  return (n - 1) / 2;
}

// A field as the scanner cuts it.
struct ReferenceField {
  std::string text;
  bool float_mark = false;
};

// The scanner over the delivered bytes, with a put-back store of up to 4
// bytes that is taken from before the stream, the latest byte first.
class ReferenceScanner {
 public:
  static constexpr int kEnd = -1;
  static constexpr std::size_t kFieldLimit = 67;

  explicit ReferenceScanner(const std::string& delivered) : delivered_(delivered) {}

  bool at_end() const { return store_.empty() && position_ >= delivered_.size(); }

  ReferenceField scan() {
    ReferenceField field;
    bool ampersand = false;
    bool quoted = false;
    int b = take();
    while (b == ' ' || b == '\t') b = take();
    if (b == kEnd) return field;
    for (;;) {
      if (b == ' ' || b == '\t') {
        if (!quoted) {
          finish(b);
          return field;
        }
        field.text += static_cast<char>(b);
      } else if (b == '\n') {
        return field;
      } else if (b == '\r') {
        const int after = take();
        if (after != '\n' && after != kEnd) put_back(after);
        return field;
      } else if (b == ',') {
        if (!quoted) return field;
        field.text += ',';
      } else if (b == '"') {
        if (quoted) {
          quoted = false;
        } else if (field.text.empty()) {
          quoted = true;
        } else {
          field.text += '"';
        }
      } else if (b == '&') {
        field.text += '&';
        ampersand = true;
      } else if (b == 'D' || b == 'd') {
        if (ampersand) {
          field.text += static_cast<char>(b);
        } else {
          field.text += b == 'D' ? 'E' : 'e';
          field.float_mark = true;
        }
      } else if (b == '.' || b == 'E' || b == 'e') {
        field.text += static_cast<char>(b);
        if (!ampersand) field.float_mark = true;
      } else {
        field.text += static_cast<char>(b);
      }
      b = take();
      if (b == kEnd || field.text.size() == kFieldLimit) {
        finish(b);
        return field;
      }
    }
  }

 private:
  int take() {
    if (!store_.empty()) {
      const int b = store_.back();
      store_.pop_back();
      return b;
    }
    if (position_ < delivered_.size()) return static_cast<unsigned char>(delivered_[position_++]);
    return kEnd;
  }

  void put_back(int b) {
    if (store_.size() < 4) store_.push_back(b);
  }

  // The field ended on a blank, a tab, the field limit or the end of the data.
  void finish(int x) {
    while (x == ' ' || x == '\t') x = take();
    if (x == '\n' || x == ',' || x == kEnd) return;
    if (x == '\r') {
      const int after = take();
      if (after != '\n' && after != kEnd) put_back(after);
      return;
    }
    put_back(x);
  }

  const std::string& delivered_;
  std::size_t position_ = 0;
  std::vector<int> store_;
};

// The value of a digit of `radix` (2, 8, 10 or 16), or -1.
inline int reference_digit(char c, int radix) {
  static const char kDigits[] = "0123456789abcdef";
  char lower = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  for (int d = 0; d < radix; ++d) {
    if (kDigits[d] == lower) return d;
  }
  return -1;
}

// Integer conversion of `text` at `width_bits` (32 or 64): the value taken
// modulo 2^width and read as signed of that width.
inline std::int64_t reference_integer(std::string_view text, int width_bits) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  std::uint64_t value = 0;
  if (text.size() - i >= 2 && text[i] == '&') {
    const char letter = text[i + 1];
    int radix = 8;
    std::size_t start = i + 2;
    if (letter == 'H' || letter == 'h') {
      radix = 16;
    } else if (letter == 'B' || letter == 'b') {
      radix = 2;
    } else if (letter != 'O' && letter != 'o') {
      start = i + 1;
    }
    for (std::size_t j = start; j < text.size(); ++j) {
      const int d = reference_digit(text[j], radix);
      if (d < 0) break;
      value = value * static_cast<unsigned>(radix) + static_cast<unsigned>(d);
    }
  } else {
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
      negative = text[i] == '-';
      ++i;
    }
    for (; i < text.size() && reference_digit(text[i], 10) >= 0; ++i) {
      value = value * 10 + static_cast<unsigned>(reference_digit(text[i], 10));
    }
    if (negative) value = ~value + 1;
  }
  if (width_bits == 32) {
    value &= 0xffffffffu;
    // Two's complement by hand: 2^31 and above are negative.
    if (value >= 0x80000000u) return static_cast<std::int64_t>(value) - 0x100000000;
    return static_cast<std::int64_t>(value);
  }
  return static_cast<std::int64_t>(value);
}

// strtod in the "C" locale, whatever the process locale is.
inline double reference_strtod(std::string_view text) {
  static const locale_t c_locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  const std::string terminated(text);
  return strtod_l(terminated.c_str(), nullptr, c_locale);
}

enum class ReferencePath { kInteger32, kInteger64, kFloating };

inline ReferencePath reference_path(std::string_view text, bool float_mark) {
  if (float_mark) return ReferencePath::kFloating;
  if (text.size() <= 9) return ReferencePath::kInteger32;
  if (text.size() <= 18 || text[0] == '&') return ReferencePath::kInteger64;
  return ReferencePath::kFloating;
}

// A field's value as a double item. An integer goes through long double, which
// holds every 64-bit integer exactly, so it is rounded once.
inline double reference_double(std::string_view text, bool float_mark) {
  switch (reference_path(text, float_mark)) {
    case ReferencePath::kInteger32:
      return static_cast<double>(static_cast<long double>(reference_integer(text, 32)));
    case ReferencePath::kInteger64:
      return static_cast<double>(static_cast<long double>(reference_integer(text, 64)));
    case ReferencePath::kFloating:
      break;
  }
  return reference_strtod(text);
}

// A field's value as a single item: an integer rounded once, straight to
// single; a floating text to double first and then to single.
inline float reference_single(std::string_view text, bool float_mark) {
  switch (reference_path(text, float_mark)) {
    case ReferencePath::kInteger32:
      return static_cast<float>(static_cast<long double>(reference_integer(text, 32)));
    case ReferencePath::kInteger64:
      return static_cast<float>(static_cast<long double>(reference_integer(text, 64)));
    case ReferencePath::kFloating:
      break;
  }
  return static_cast<float>(reference_strtod(text));
}

// What the second pass reads from the delivered bytes: samples of one double
// and K pairs of singles, the end tested only before each sample.
struct ReferenceSamples {
  std::int64_t read = 0;
  std::vector<double> t;  // S values
  std::vector<float> xr;  // S x K, row by row
  std::vector<float> xi;
};

inline ReferenceSamples reference_read_samples(const std::string& delivered,
                                               std::int64_t sample_count,
                                               std::int64_t channel_count) {
  ReferenceSamples samples;
  const std::size_t s = static_cast<std::size_t>(sample_count);
  const std::size_t k = static_cast<std::size_t>(channel_count);
  samples.t.assign(s, 0.0);
  samples.xr.assign(s * k, 0.0f);
  samples.xi.assign(s * k, 0.0f);
  ReferenceScanner scanner(delivered);
  while (samples.read < sample_count && !scanner.at_end()) {
    const std::size_t n = static_cast<std::size_t>(samples.read++);
    ReferenceField field = scanner.scan();
    samples.t[n] = reference_double(field.text, field.float_mark);
    for (std::size_t c = 0; c < k; ++c) {
      field = scanner.scan();
      samples.xr[n * k + c] = reference_single(field.text, field.float_mark);
      field = scanner.scan();
      samples.xi[n * k + c] = reference_single(field.text, field.float_mark);
    }
  }
  return samples;
}

}  // namespace tarvel::fuzz
