// The files of the operating system: opening, reading, writing, closing and
// telling one version of a file from another. Everything above this layer
// sees only these calls; the POSIX and the Windows versions live beside it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace tarvel::platform {

// An open file of the system: a descriptor on POSIX, a handle's value on
// Windows. kNoFile stands for none.
using FileHandle = std::intptr_t;
inline constexpr FileHandle kNoFile = -1;

// What the first open of an input name found.
enum class InputOpening {
  kRegularFile,  // opened; the only case that leaves a file open
  kRefused,      // the system refused it, or the name holds a NUL byte
  kFolder,
  kNotRegular,  // a pipe, FIFO, device or socket: its size cannot be known
};

struct OpenedInput {
  InputOpening outcome = InputOpening::kRefused;
  FileHandle file = kNoFile;  // open only for kRegularFile
  // Why, as an error number of <cerrno>: the system's for kRefused, EISDIR
  // for kFolder, 0 otherwise.
  int error_number = 0;
};

// Opens `name` for reading as the tool's input: only a regular file is kept
// open, positioned at its start. Never blocks, not even on a FIFO without a
// writer. A "/" in the name is a folder separator on every system. Allocates
// a terminated copy of the name.
OpenedInput open_input(std::string_view name);

// Opens `name` once more for reading, for a second reader of a file already
// open; kNoFile when the system refuses. Allocates like open_input.
FileHandle open_for_reading(std::string_view name);

// Creates `name` for writing, or truncates it to length 0 when it exists;
// kNoFile when the system refuses. Allocates like open_input.
FileHandle create_for_writing(std::string_view name);

// The error number, as <cerrno> names it, of this thread's latest failed
// open, create or write above; read at once, before any other system call.
int last_error_number();

// One read of up to `size` bytes at the file's position, retried when a
// signal interrupts it. Returns how many bytes it stored; 0 at the end of the
// file and on a read error, which count alike.
std::size_t read_some(FileHandle file, unsigned char* into, std::size_t size);

// Reads `size` bytes from byte `offset` of the file; fewer only at the end
// of the file or on a read error. The file's position for read_some is not
// to be relied on afterwards (Windows moves it); seek_to sets it again.
std::size_t read_at(FileHandle file, unsigned char* into, std::size_t size, std::uint64_t offset);

// Moves the file's position to byte `offset`. False when the system refuses.
bool seek_to(FileHandle file, std::uint64_t offset);

// Writes all of `bytes`, retrying partial writes. False as soon as a write
// stores nothing (the rest is then lost). Safe in a signal handler.
bool write_fully(FileHandle file, const void* bytes, std::size_t size);

// Closes the file; the outcome is not examined. Safe in a signal handler.
void close_file(FileHandle file);

// What tells one state of a file from another: the file's identity on its
// volume, its size and its modification time, which any write changes.
struct FileVersion {
  std::uint64_t volume = 0;
  std::uint64_t file_id = 0;
  std::int64_t size = 0;
  std::int64_t modified_seconds = 0;
  std::int64_t modified_nanoseconds = 0;

  bool operator==(const FileVersion&) const = default;
};

// True when the two versions belong to the same file (whatever its state).
inline bool same_file(const FileVersion& a, const FileVersion& b) {
  return a.volume == b.volume && a.file_id == b.file_id;
}

// The version of the regular file open as `file`; none when it is no regular
// file or the system cannot tell.
std::optional<FileVersion> regular_file_version(FileHandle file);

}  // namespace tarvel::platform
