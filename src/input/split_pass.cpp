#include "input/split_pass.h"

#include <algorithm>
#include <utility>

#include "input/split_places.h"
#include "platform/waiting.h"

namespace tarvel {
namespace {

// The chunk size of the readings of the pieces after the first: smaller than
// the first's, as there may be many, and the memory of each is new.
constexpr std::size_t kPieceBufferSize = std::size_t{64} * 1024;

}  // namespace

SplitPass::~SplitPass() {
  give_up_from(1);
  for (int piece = 1; piece < pieces(); ++piece) {
    pieces_[piece].thread.join();
    if (is_open(pieces_[piece].file)) close_file(pieces_[piece].file);
  }
}

void SplitPass::plan(std::string_view name, platform::FileHandle main, const SplitOptions& options,
                     Places places, const KnownSplit* known, std::int64_t last_sample) {
  places_.assign(1, SplitPoint{0, 1});
  const std::optional<FileVersion> main_version = platform::regular_file_version(main);
  if (!main_version) return;
  const auto file_size = static_cast<std::uint64_t>(main_version->size);
  const int wanted = piece_count(file_size, options);
  if (wanted < 2) return;
  pieces_ = std::make_unique<Piece[]>(static_cast<std::size_t>(wanted));
  int opened = 1;
  for (; opened < wanted; ++opened) {
    FileVersion version;
    pieces_[opened].handle = open_for_helper(name, main, 0, version);
    if (pieces_[opened].handle == platform::kNoFile) break;
    if (opened == 1) version_ = version;
  }
  if (known != nullptr && known->version == version_) {
    for (const SplitPoint& place : known->places) {
      if (pieces() == opened || place.raw_offset <= places_.back().raw_offset ||
          place.first_sample <= places_.back().first_sample) {
        break;
      }
      places_.push_back(place);
    }
  } else if (opened > 1) {
    places_.resize(static_cast<std::size_t>(opened));
    locate(file_size, places);
  }
  const auto beyond = std::find_if(places_.begin(), places_.end(), [&](const SplitPoint& place) {
    return place.first_sample > last_sample;
  });
  places_.erase(beyond, places_.end());
  open_pieces();
  for (int piece = pieces(); piece < wanted; ++piece) {
    if (pieces_[piece].handle != platform::kNoFile) platform::close_file(pieces_[piece].handle);
  }
}

void SplitPass::locate(std::uint64_t file_size, Places places) {
  const int count = pieces();
  std::vector<std::optional<std::uint64_t>> found(static_cast<std::size_t>(count));
  run_in_parts(count - 1, [&](int part) {
    const int piece = part + 1;
    found[piece] =
        find_line_start_after(pieces_[piece].handle, file_size / static_cast<std::uint64_t>(count) *
                                                         static_cast<std::uint64_t>(piece));
  });
  // Places that fall together (a line longer than a piece) leave a piece
  // out; its handle moves to the next piece kept.
  places_.resize(1);
  for (int piece = 1; piece < count && found[piece]; ++piece) {
    if (*found[piece] <= places_.back().raw_offset) continue;
    std::swap(pieces_[pieces()].handle, pieces_[piece].handle);
    places_.push_back(SplitPoint{*found[piece], 0});
  }
  if (places == Places::kWithSampleNumbers) number_places();
}

void SplitPass::number_places() {
  const int count = pieces();
  if (count < 2) return;
  std::vector<std::optional<std::uint64_t>> line_feeds(static_cast<std::size_t>(count));
  run_in_parts(count - 1, [&](int part) {
    const int piece = part + 1;
    line_feeds[piece] = count_line_feeds_between(
        pieces_[piece].handle, places_[piece - 1].raw_offset, places_[piece].raw_offset);
  });
  // A Ctrl-Z ends the data before every place after it.
  for (int piece = 1; piece < count; ++piece) {
    if (!line_feeds[piece]) {
      places_.resize(static_cast<std::size_t>(piece));
      return;
    }
    places_[piece].first_sample =
        places_[piece - 1].first_sample + static_cast<std::int64_t>(*line_feeds[piece]);
  }
}

void SplitPass::open_pieces() {
  for (int piece = 1; piece < pieces(); ++piece) {
    Piece& p = pieces_[piece];
    if (!platform::seek_to(p.handle, places_[piece].raw_offset) ||
        open_detached_input(p.file, std::exchange(p.handle, platform::kNoFile), kPieceBufferSize) !=
            kNoError) {
      places_.resize(static_cast<std::size_t>(piece));
      break;
    }
  }
  for (int piece = 1; piece < pieces(); ++piece) mark_next_start(piece, pieces_[piece].file);
}

std::optional<SplitPoint> SplitPass::next_start(int piece) const {
  if (piece + 1 >= pieces()) return std::nullopt;
  return places_[piece + 1];
}

void SplitPass::mark_next_start(int piece, InputFile& file) const {
  if (const std::optional<SplitPoint> next = next_start(piece)) {
    file.raw_mark = next->raw_offset - places_[piece].raw_offset;
  }
}

void SplitPass::start(PieceReading reading, const std::stop_token& stop) {
  reading_ = std::move(reading);
  stop_ = stop;
  for (int piece = 1; piece < pieces(); ++piece) {
    pieces_[piece].file.stop = stop;
    pieces_[piece].started = pieces_[piece].thread.start([this, piece] {
      while (!go_.load(std::memory_order_acquire)) platform::wait_while_equal(go_, false);
      read_piece(piece);
    });
  }
  go_.store(true, std::memory_order_release);
  platform::wake_all(go_);
}

void SplitPass::read_piece(int piece) {
  Piece& p = pieces_[piece];
  if (p.give_up.load(std::memory_order_acquire) != 0) p.end = reading_(piece, p.file);
  close_file(p.file);
  p.done.store(true, std::memory_order_release);
  platform::wake_all(p.done);
}

void SplitPass::give_up_from(int piece) {
  for (int later = piece; later < pieces(); ++later) {
    pieces_[later].give_up.store(0, std::memory_order_release);
  }
  for (int later = piece; later < pieces(); ++later) {
    Piece& p = pieces_[later];
    if (!p.started) continue;
    while (!p.done.load(std::memory_order_acquire)) platform::wait_while_equal(p.done, false);
  }
}

PieceEnd SplitPass::end_of(int piece) {
  Piece& p = pieces_[piece];
  if (!p.started) {
    read_piece(piece);
  } else {
    while (!p.done.load(std::memory_order_acquire)) platform::wait_while_equal(p.done, false);
  }
  return p.end;
}

std::int64_t SplitPass::highest_value() const {
  std::int64_t highest = 0;
  for (int piece = 1; piece < pieces(); ++piece) {
    highest = std::max(highest, pieces_[piece].end.value);
  }
  return highest;
}

}  // namespace tarvel
