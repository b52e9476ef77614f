// A pass over a large input shared among threads, a piece each. The file is
// cut at line starts, one after each of evenly spaced offsets; the calling
// thread reads the first piece on its own file, and a worker each of the
// others on a handle of its own, from the piece's start to the next one's.
// From the same place and sample the reading goes the same whoever does it,
// so a piece's result counts only when the reading before it arrived exactly
// at its start; a reading that did not gives the pieces after it up and goes
// on by itself, so the result is the one-thread reading's either way. The
// protocol lives here once; the rule of what a piece's reading does (count
// lines, read samples) is the caller's.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <stop_token>
#include <string_view>
#include <vector>

#include "input/input_file.h"
#include "input/split_options.h"
#include "input/split_point.h"
#include "runtime/helper_thread.h"

namespace tarvel {

// What one piece's reading came to.
struct PieceEnd {
  std::int64_t value = 0;     // what it counted, or the last sample it read
  bool reached_next = false;  // it stopped exactly where the next piece starts
};

class SplitPass {
 public:
  // Whether the pieces' starts need their sample numbers.
  enum class Places { kLineStarts, kWithSampleNumbers };

  // A piece's reading, given the piece's number and its input file, open at
  // the piece's start and marked (`raw_mark`) at the next one's.
  using PieceReading = std::function<PieceEnd(int piece, InputFile& file)>;

  SplitPass() = default;
  ~SplitPass();
  SplitPass(const SplitPass&) = delete;
  SplitPass& operator=(const SplitPass&) = delete;

  // Cuts the file that `main` reads as `name` into pieces, when it is large
  // enough for `options` and the name still leads to that same file: at the
  // places of `known` while the file is at its version, else at places
  // looked for on every piece's handle at once. Pieces whose start cannot be
  // had are left out, and with them the ones after it; so are the pieces
  // whose first sample would come after `last_sample`.
  void plan(std::string_view name, platform::FileHandle main, const SplitOptions& options,
            Places places, const KnownSplit* known = nullptr,
            std::int64_t last_sample = std::numeric_limits<std::int64_t>::max());

  int pieces() const { return static_cast<int>(places_.size()); }
  // Piece `piece`'s start; piece 0 starts the file.
  const SplitPoint& start_of(int piece) const { return places_[piece]; }
  // The start of the piece after `piece`, none after the last.
  std::optional<SplitPoint> next_start(int piece) const;
  const FileVersion& version() const { return version_; }

  // Starts the readings of pieces 1 on, each on a worker, stopped by `stop`
  // as the calling thread's reading is. A piece whose worker cannot be
  // started is read on the thread that asks for its end.
  void start(PieceReading reading, const std::stop_token& stop);

  // Marks `file`, piece `piece`'s input, at the next piece's start.
  void mark_next_start(int piece, InputFile& file) const;

  // For a reading that does not stop where the next piece starts: gives the
  // pieces from `piece` on up and waits until their readings have stopped.
  void give_up_from(int piece);
  // Lowered to 0 once piece `piece` is given up; its reading looks at it at
  // least once per buffer of input (as count_remaining_lines does). None for
  // piece 0, which nothing gives up.
  const std::atomic<std::uint64_t>* give_up_signal(int piece) const {
    return piece > 0 ? &pieces_[piece].give_up : nullptr;
  }
  bool given_up(int piece) const {
    return piece > 0 && pieces_[piece].give_up.load(std::memory_order_acquire) == 0;
  }

  // Once the reading before it reached its start: piece `piece`'s end,
  // waited for, or read now when no worker could take it.
  PieceEnd end_of(int piece);

  // Once every piece has ended: the highest value any piece's reading ended
  // with, given up or not.
  std::int64_t highest_value() const;

  // Whether `file`, a piece's input, stopped exactly at the next piece's
  // start.
  static bool at_next_start(const InputFile& file) {
    return file.marked_offset != kNoMark && delivered_offset(file) == file.marked_offset;
  }

 private:
  struct Piece {
    HelperThread thread;
    platform::FileHandle handle = platform::kNoFile;  // until `file` owns it
    InputFile file;
    std::atomic<std::uint64_t> give_up{~std::uint64_t{0}};
    std::atomic<bool> done{false};
    bool started = false;
    PieceEnd end;
  };

  void locate(std::uint64_t file_size, Places places);
  void number_places();
  void open_pieces();
  void read_piece(int piece);

  std::unique_ptr<Piece[]> pieces_;
  // Set once every worker is started (or could not be): the readings wait
  // for it, so that none gives up a piece whose start is still undecided.
  std::atomic<bool> go_{false};
  std::vector<SplitPoint> places_{SplitPoint{0, 1}};
  FileVersion version_;
  PieceReading reading_;
  std::stop_token stop_;
};

}  // namespace tarvel
