#include <windows.h>

#include <algorithm>
#include <atomic>

#include "platform/console.h"
#include "platform/files.h"

namespace tarvel::platform {
namespace {

// Older consoles refuse one write of more than about 64 KiB, so a console
// takes the bytes in pieces.
constexpr std::size_t kConsolePiece = 16 * 1024;

// -1 until the first write to standard output asks.
std::atomic<int> g_output_is_console{-1};

void write_in_pieces(HANDLE stream, const char* bytes, std::size_t size) {
  const FileHandle file = reinterpret_cast<FileHandle>(stream);
  while (size > 0) {
    const std::size_t piece = std::min(size, kConsolePiece);
    if (!write_fully(file, bytes, piece)) return;
    bytes += piece;
    size -= piece;
  }
}

// True when standard output is an interactive console (not a file or pipe).
bool standard_output_is_console() {
  DWORD mode = 0;
  return ::GetConsoleMode(::GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

}  // namespace

void write_standard_output(const char* bytes, std::size_t size) {
  const HANDLE stream = ::GetStdHandle(STD_OUTPUT_HANDLE);
  if (stream == nullptr || stream == INVALID_HANDLE_VALUE) return;
  int console = g_output_is_console.load(std::memory_order_relaxed);
  if (console < 0) {
    console = standard_output_is_console() ? 1 : 0;
    g_output_is_console.store(console, std::memory_order_relaxed);
  }
  // WriteFile on the handle itself: no C runtime text mode can turn the
  // tool's CR LF into CR CR LF.
  if (console == 1) {
    write_in_pieces(stream, bytes, size);
  } else {
    write_fully(reinterpret_cast<FileHandle>(stream), bytes, size);
  }
}

void write_standard_error(const char* bytes, std::size_t size) {
  const HANDLE stream = ::GetStdHandle(STD_ERROR_HANDLE);
  if (stream == nullptr || stream == INVALID_HANDLE_VALUE) return;
  write_in_pieces(stream, bytes, size);
}

}  // namespace tarvel::platform
