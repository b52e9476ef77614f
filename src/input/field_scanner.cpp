#include "input/field_scanner.h"

#include <array>

#include "input/number_conversion.h"

namespace tarvel {
namespace {

// Bytes that a field stores unchanged without any other effect: all but
// blank, tab, LF, CR, comma, double quote, "&", "D", "d", ".", "E" and "e".
constexpr auto kOrdinaryByte = [] {
  std::array<bool, 256> ordinary{};
  ordinary.fill(true);
  for (unsigned char special : {' ', '\t', '\n', '\r', ',', '"', '&', 'D', 'd', '.', 'E', 'e'}) {
    ordinary[special] = false;
  }
  return ordinary;
}();

// The scanner's view of the file's window, held in locals so that the byte
// stores into the field text (which may alias anything) do not force the
// window pointers through memory on every byte; the helpers that take it are
// inlined so that it never needs an address. Written back on destruction.
class Cursor {
 public:
  explicit Cursor(InputFile& file) : file_(file), next_(file.next), end_(file.end) {}
  ~Cursor() { file_.next = next_; }
  Cursor(const Cursor&) = delete;
  Cursor& operator=(const Cursor&) = delete;

  // As take_byte.
  int take() {
    if (next_ == end_) {
      file_.next = next_;
      if (!refill(file_)) return kNoByte;
      next_ = file_.next;
      end_ = file_.end;
    }
    return *next_++;
  }

  // Stores the bytes that follow in the window into `text` for as long as
  // they are ordinary field bytes and the field has room: the same as taking
  // and storing them one by one, without the per-byte dispatch.
  void store_ordinary_run(char* text, std::size_t& length) {
    std::size_t stored = length;
    while (stored < kFieldLimit && next_ != end_ && kOrdinaryByte[*next_]) {
      text[stored++] = static_cast<char>(*next_++);
    }
    length = stored;
  }

  // As put_back: the byte just taken is still in the window just before
  // `next_`, since a refill happens only when the window is empty.
  void put_back() { --next_; }

 private:
  InputFile& file_;
  const unsigned char* next_;
  const unsigned char* end_;
};

bool is_blank(int byte) {
  return byte == ' ' || byte == '\t';
}

// After a CR that ends a field: an LF right after it belongs to the same line
// end; any other byte begins the next field.
[[gnu::always_inline]] inline void finish_carriage_return(Cursor& cursor) {
  const int byte = cursor.take();
  if (byte != kLineFeed && byte != kNoByte) cursor.put_back();
}

// The field ended on a blank, a tab, the field limit or the end of the data,
// with `pending` the byte taken after it: a run of blanks and tabs with one
// comma or line end after it is a single delimiter.
[[gnu::always_inline]] inline void finish_field(Cursor& cursor, int pending) {
  while (is_blank(pending)) pending = cursor.take();
  if (pending == kLineFeed || pending == ',' || pending == kNoByte) return;
  if (pending == kCarriageReturn) {
    finish_carriage_return(cursor);
    return;
  }
  cursor.put_back();
}

// The scanner proper; returns the text length and sets `float_mark`.
std::size_t scan_into(Cursor& cursor, char* text, bool& float_mark) {
  std::size_t length = 0;
  bool ampersand = false;
  bool quoted = false;

  int byte = cursor.take();
  while (is_blank(byte)) byte = cursor.take();
  if (byte == kNoByte) return 0;

  for (;;) {
    switch (byte) {
      case ' ':
      case '\t':
        if (!quoted) {
          finish_field(cursor, byte);
          return length;
        }
        text[length++] = static_cast<char>(byte);
        break;
      case kLineFeed:
        return length;
      case kCarriageReturn:
        finish_carriage_return(cursor);
        return length;
      case ',':
        if (!quoted) return length;
        text[length++] = static_cast<char>(byte);
        break;
      case '"':
        if (quoted) {
          quoted = false;
        } else if (length == 0) {
          quoted = true;
        } else {
          text[length++] = static_cast<char>(byte);
        }
        break;
      case '&':
        text[length++] = static_cast<char>(byte);
        ampersand = true;
        break;
      case 'D':
      case 'd':
        if (ampersand) {
          text[length++] = static_cast<char>(byte);
        } else {
          // 'D' + 1 == 'E' and 'd' + 1 == 'e'.
          text[length++] = static_cast<char>(byte + 1);
          float_mark = true;
        }
        break;
      case '.':
      case 'E':
      case 'e':
        text[length++] = static_cast<char>(byte);
        if (!ampersand) float_mark = true;
        break;
      default:
        text[length++] = static_cast<char>(byte);
        cursor.store_ordinary_run(text, length);
        break;
    }
    byte = cursor.take();
    if (byte == kNoByte || length == kFieldLimit) break;
  }
  finish_field(cursor, byte);
  return length;
}

}  // namespace

void scan_field(InputFile& file, FieldText& field) {
  Cursor cursor(file);
  bool float_mark = false;
  field.length = scan_into(cursor, field.bytes, float_mark);
  field.float_mark = float_mark;
}

RuntimeErrorCode begin_numeric_read(NumericReader& reader, InputFile& file) {
  if (!is_open(file)) {
    reader.source = nullptr;
    return kIllegalFunctionCall;
  }
  reader.source = &file;
  return kNoError;
}

double read_general_double_field(NumericReader& reader) {
  if (reader.source == nullptr) return 0.0;
  FieldText field;
  scan_field(*reader.source, field);
  return convert_to_double(field.text(), field.float_mark);
}

float read_general_single_field(NumericReader& reader) {
  if (reader.source == nullptr) return 0.0f;
  FieldText field;
  scan_field(*reader.source, field);
  return convert_to_single(field.text(), field.float_mark);
}

}  // namespace tarvel
