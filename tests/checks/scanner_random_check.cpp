// Checks the input fast paths against the straightforward code they replace,
// on random text: the plain-number path of read_double_field and
// read_single_field against scan_field followed by the general conversion
// (values and positions), and the floating conversion against strtod, bit
// for bit. CTest runs it on a million fields; by hand, the default is 10^8.
//
//   scanner_random_check [FIELD_COUNT]
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "input/field_scanner.h"
#include "input/input_file.h"
#include "input/number_conversion.h"

namespace {

std::mt19937_64 g_random(20261207);

// A random field: mostly plain decimal numbers of every length and exponent,
// some with the bytes that switch the scanner's special rules on.
void append_field(std::string& text) {
  static const char* const kOdd[] = {"&H1F", "&O17", "&B101", "&17",   "1D-3",  "1d5",   "\"1 2\"",
                                     "1e",   "2e+",  ".",     "-",     "+.5",   "0x1p3", "inf",
                                     "nan",  "1,5",  "--1",   "1.2.3", "12abc", "&"};
  const unsigned kind = g_random() % 16;
  if (kind == 0) {
    text += kOdd[g_random() % (sizeof kOdd / sizeof kOdd[0])];
    return;
  }
  if (g_random() % 3 == 0) text += g_random() % 2 == 0 ? '-' : '+';
  const int digits = 1 + static_cast<int>(g_random() % (kind < 12 ? 9 : 24));
  const int point = g_random() % 3 == 0 ? -1 : static_cast<int>(g_random() % (digits + 1));
  for (int i = 0; i < digits; ++i) {
    if (i == point) text += '.';
    text += static_cast<char>('0' + g_random() % 10);
  }
  if (point == digits) text += '.';
  if (g_random() % 4 == 0) {
    text += g_random() % 2 == 0 ? 'e' : 'E';
    const int exponent = static_cast<int>(g_random() % 90) - 45;
    text += std::to_string(exponent);
  }
}

void append_delimiter(std::string& text) {
  static const char* const kDelimiters[] = {" ",  " ",    " ",  "  ",  "\t",    ",",   " , ",
                                            "\n", "\r\n", "\r", " \n", " \r\n", "\n\n"};
  text += kDelimiters[g_random() % (sizeof kDelimiters / sizeof kDelimiters[0])];
}

// An input file whose window is `text` and which has nothing more to read.
void open_in_memory(tarvel::InputFile& file, const std::string& text) {
  file.file_number = 1;
  file.next = reinterpret_cast<const unsigned char*>(text.data());
  file.end = file.next + text.size();
  file.source_exhausted = true;
  file.data_ended = false;
}

template <typename T>
bool same_bits(T a, T b) {
  return std::memcmp(&a, &b, sizeof a) == 0 || (std::isnan(a) && std::isnan(b));
}

}  // namespace

int main(int argc, char** argv) {
  const std::uint64_t field_count = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 100000000;
  std::uint64_t checked = 0;
  std::uint64_t mismatches = 0;
  std::uint64_t strtod_checked = 0;
  std::uint64_t strtod_mismatches = 0;
  std::string text;
  while (checked < field_count) {
    text.clear();
    for (int i = 0; i < 100000; ++i) {
      append_field(text);
      append_delimiter(text);
    }
    // Room behind the data, as a real window has, for the path's lookahead.
    text.append(256, '\n');
    const std::size_t data_size = text.size() - 256;

    tarvel::InputFile fast;
    tarvel::InputFile general;
    open_in_memory(fast, text);
    open_in_memory(general, text);
    fast.end = general.end = fast.next + data_size;
    tarvel::NumericReader reader{&fast};
    for (std::uint64_t item = 0; fast.next < fast.end; ++item) {
      tarvel::FieldText field;
      tarvel::scan_field(general, field);
      bool same = true;
      if (item % 3 == 0) {
        same = same_bits(tarvel::read_double_field(reader),
                         tarvel::convert_to_double(field.text(), field.float_mark));
      } else {
        same = same_bits(tarvel::read_single_field(reader),
                         tarvel::convert_to_single(field.text(), field.float_mark));
      }
      if (!same || fast.next != general.next) {
        if (++mismatches <= 10) {
          std::printf("mismatch at field \"%.*s\"\n", static_cast<int>(field.length), field.bytes);
        }
        general.next = fast.next;
      }
      if (field.float_mark) {
        const std::string copy(field.text());
        const double expected = std::strtod(copy.c_str(), nullptr);
        ++strtod_checked;
        if (!same_bits(tarvel::parse_floating(field.text()), expected)) {
          if (++strtod_mismatches <= 10) std::printf("strtod differs on \"%s\"\n", copy.c_str());
        }
      }
      ++checked;
    }
    fast.file_number = general.file_number = 0;
  }
  std::printf("fields: %llu checked, %llu mismatches between the fast and general paths\n",
              static_cast<unsigned long long>(checked),
              static_cast<unsigned long long>(mismatches));
  std::printf("floating texts: %llu checked against strtod, %llu mismatches\n",
              static_cast<unsigned long long>(strtod_checked),
              static_cast<unsigned long long>(strtod_mismatches));
  return mismatches == 0 && strtod_mismatches == 0 ? 0 : 1;
}
