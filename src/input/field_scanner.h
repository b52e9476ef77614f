// The numeric field scanner: cuts fields out of an input file's byte stream
// and converts them. The scanner is position-based: a field starts exactly
// where the previous one stopped, and a line end is only a field delimiter.
#pragma once

#include <cstddef>
#include <string_view>

#include "input/input_file.h"
#include "input/plain_field.h"
#include "runtime/runtime_error.h"

namespace tarvel {

// The most bytes a field holds; the bytes after them form the next field.
inline constexpr std::size_t kFieldLimit = 67;

struct FieldText {
  char bytes[kFieldLimit];
  std::size_t length = 0;
  // The text is to be converted as a floating number (it holds ".", "E", "e"
  // or a "D"/"d" turned into "E"/"e", not after an "&").
  bool float_mark = false;

  std::string_view text() const { return {bytes, length}; }
};

// Scans the next field of `file` into `field`. Skips blanks and tabs, then
// stores bytes up to a comma, a line end (LF, or a CR with the LF that follows
// it), a run of blanks and tabs (with one comma or line end after it) or the
// field limit. Double quotes open and close a stretch that keeps blanks and
// commas; "D"/"d" becomes "E"/"e" unless an "&" came first. A byte that
// begins the next field is put back. At the end of the data the text is
// empty. Never fails; never allocates.
void scan_field(InputFile& file, FieldText& field);

// The file that numeric reads take their fields from.
struct NumericReader {
  InputFile* source = nullptr;
};

// Makes `file` the source of the following reads of `reader`; moves nothing
// in the file. Returns 0, or 1 when `file` is not open (the reads then give 0).
RuntimeErrorCode begin_numeric_read(NumericReader& reader, InputFile& file);

// The general path of the two reads below: scan_field, then the conversion.
double read_general_double_field(NumericReader& reader);
float read_general_single_field(NumericReader& reader);

static_assert(detail::kPlainFieldLimit == kFieldLimit);

// The next field of the reader's source as a double-precision item; 0 for a
// missing or unreadable field and at the end of the data. Never fails; never
// allocates.
inline double read_double_field(NumericReader& reader) {
  detail::PlainField plain;
  if (reader.source != nullptr && detail::read_plain_field(*reader.source, plain)) {
    return plain.is_integer ? static_cast<double>(plain.integer) : plain.floating;
  }
  return read_general_double_field(reader);
}

// As read_double_field, for a single-precision item: an integer goes to single
// at once, a floating text through double, like every floating item.
inline float read_single_field(NumericReader& reader) {
  detail::PlainField plain;
  if (reader.source != nullptr && detail::read_plain_field(*reader.source, plain)) {
    return plain.is_integer ? static_cast<float>(plain.integer)
                            : static_cast<float>(plain.floating);
  }
  return read_general_single_field(reader);
}

}  // namespace tarvel
