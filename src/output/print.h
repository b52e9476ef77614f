// The five print operations: every byte the tool writes to the console or to a
// numbered file goes through them.
#pragma once

#include <cstdint>
#include <string_view>

namespace tarvel {

// Bits of the last argument of every print operation.
enum PrintMask : int {
  PM_LINE_END = 1,      // after the item, write CR LF
  PM_PAD = 2,           // after the item, pad to the next 14-column print zone
  PM_LINE_END_ALT = 4,  // exactly as PM_LINE_END
  PM_BLANK_AFTER = 16,  // print_integer only: one blank after the number
};

// The two masks the tool uses: an item inside a line, and the item ending it.
inline constexpr int kItemInLine = PM_BLANK_AFTER;
inline constexpr int kItemEndsLine = PM_BLANK_AFTER | PM_LINE_END;

// File number 0 is the console (standard output, written at once, partial
// writes retried, failures not reported); 1..255 are the
// numbered files of the open-file table, written through their buffer. On a
// number outside 0..255 or a numbered file that is not open nothing is written
// and the current run-time error becomes 1; a failed file write makes it 3.
// None of them allocates.

// Writes `text` unchanged, then the mask action.
void print_text(int file_number, std::string_view text, int mask);

// Writes `value` with 7 significant digits and the sign blank, then the mask action.
void print_single(int file_number, float value, int mask);

// Writes `value` with 16 significant digits and the sign blank, then the mask action.
void print_double(int file_number, double value, int mask);

// Writes the "% d" form of `value`, with one blank after it under
// PM_BLANK_AFTER and CR LF under a line-end bit, in one write; then pads under
// PM_PAD. Takes 64 bits so that counts past the 32-bit range print truly.
void print_integer(int file_number, std::int64_t value, int mask);

// The mask action alone; with a line-end bit it writes CR LF.
void end_line(int file_number, int mask);

// The column of a sink: bytes written since its last CR or LF (0 for a file
// number without a sink).
std::int64_t print_column(int file_number);

// Forgets the column of a numbered file's sink; its open starts a new one.
void reset_print_column(int file_number);

}  // namespace tarvel
