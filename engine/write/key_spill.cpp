#include "engine/write/key_spill.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "engine/error.h"
#include "engine/file/env.h"

namespace jet::write {

namespace {

// An entry on file: key length (4 bytes), tag (8 bytes), key bytes.
constexpr std::size_t kEntryHeader = 12;
constexpr std::size_t kReadChunk = 256 * 1024;
// What the cursors of one merge read through, all together: a large table
// spills many runs, and a buffer of kReadChunk each would make memory grow
// with the file. Each gets its share, kMinReadChunk at least.
constexpr std::size_t kMergeBuffers = 4 * 1024 * 1024;
constexpr std::size_t kMinReadChunk = 16 * 1024;

void put_le(std::uint8_t* at, std::uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) at[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
std::uint64_t get_le(const std::uint8_t* at, int bytes) {
  std::uint64_t v = 0;
  for (int i = 0; i < bytes; ++i) v |= std::uint64_t{at[i]} << (8 * i);
  return v;
}

[[noreturn]] void run_ends_early() {
  throw Error(errc::kCannotOpenDatabase, "Internal error: a sorted run of index keys ends early.");
}

// Reads one run back entry by entry through a buffer. A key is handed out
// where it lies in the buffer; an entry cut by the buffer's end is moved to
// its start before the rest is read.
class RunCursor {
 public:
  RunCursor(RandomAccessFile& in, KeySpill::Run run, std::size_t chunk)
      : in_(&in),
        next_(run.offset),
        end_(run.offset + run.bytes),
        buffer_(static_cast<std::size_t>(std::min<std::uint64_t>(run.bytes, chunk))) {}

  // Moves to the next entry; false at the end of the run.
  bool advance() {
    at_ += consumed_;
    consumed_ = 0;
    if (!have(kEntryHeader)) {
      if (at_ != filled_) run_ends_early();
      return false;
    }
    const std::uint8_t* header = buffer_.data() + at_;
    const auto length = static_cast<std::size_t>(get_le(header, 4));
    tag_ = get_le(header + 4, 8);
    if (length > buffer_.size() - kEntryHeader || !have(kEntryHeader + length)) run_ends_early();
    key_ = {buffer_.data() + at_ + kEntryHeader, length};
    consumed_ = kEntryHeader + length;
    return true;
  }
  std::span<const std::uint8_t> key() const { return key_; }
  std::uint64_t tag() const { return tag_; }

 private:
  // True when the buffer holds `n` bytes from at_, reading on when the run
  // has more; `n` is never more than the buffer holds.
  bool have(std::size_t n) {
    if (filled_ - at_ >= n) return true;
    if (next_ == end_) return false;
    std::memmove(buffer_.data(), buffer_.data() + at_, filled_ - at_);
    filled_ -= at_;
    at_ = 0;
    const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(buffer_.size() - filled_, end_ - next_));
    in_->read(next_, want, buffer_.data() + filled_);
    next_ += want;
    filled_ += want;
    return filled_ >= n;
  }

  RandomAccessFile* in_;
  std::uint64_t next_;  // on file
  std::uint64_t end_;
  Bytes buffer_;
  std::size_t at_ = 0;      // the current entry's place in the buffer
  std::size_t filled_ = 0;  // bytes of the buffer read
  std::size_t consumed_ = 0;  // the current entry's size
  std::span<const std::uint8_t> key_;
  std::uint64_t tag_ = 0;
};

}  // namespace

KeySpill::KeySpill(Env& env, std::string path) : env_(env), path_(std::move(path)) {}

KeySpill::~KeySpill() {
  const bool created = out_ != nullptr;
  out_.reset();
  if (!created) return;
  try {
    env_.remove(path_);
  } catch (...) {
    // A scratch file left behind holds no user data; the failure that
    // matters has been reported already or the copy has succeeded.
  }
}

KeySpill::Run KeySpill::write_run(const KeyList& sorted) {
  if (!out_) out_ = env_.create_exclusive(path_);
  Run run{size_, 0};
  Bytes chunk;
  chunk.reserve(kReadChunk + kEntryHeader);
  const auto flush = [&] {
    out_->write(size_, chunk.data(), chunk.size());
    size_ += chunk.size();
    chunk.clear();
  };
  for (std::size_t i = 0; i < sorted.size(); ++i) {
    const auto key = sorted.key(i);
    std::uint8_t header[kEntryHeader];
    put_le(header, key.size(), 4);
    put_le(header + 4, sorted.tag(i), 8);
    chunk.insert(chunk.end(), header, header + kEntryHeader);
    chunk.insert(chunk.end(), key.begin(), key.end());
    if (chunk.size() >= kReadChunk) flush();
  }
  if (!chunk.empty()) flush();
  run.bytes = size_ - run.offset;
  return run;
}

void visit_sorted(const KeyList& sorted, const KeySpill::Visit& visit) {
  for (std::size_t i = 0; i < sorted.size(); ++i) visit(sorted.key(i), sorted.tag(i));
}

void KeySpill::merge(const std::vector<Run>& runs, const KeyList& sorted, const Visit& visit) {
  if (runs.empty()) return visit_sorted(sorted, visit);
  KeyMerge merge = merged(runs, sorted);
  while (merge.next()) visit(merge.key(), merge.tag());
}

KeyMerge KeySpill::merged(const std::vector<Run>& runs, const KeyList& sorted) {
  return KeyMerge(runs.empty() ? nullptr : env_.open_readable(path_), runs, sorted);
}

// The runs' cursors and the list, kept in a binary heap by their current
// entries; the source on top holds the entry given last.
class KeyMerge::Sources {
 public:
  Sources(std::unique_ptr<RandomAccessFile> in, const std::vector<KeySpill::Run>& runs, const KeyList& sorted)
      : in_(std::move(in)), sorted_(sorted), list_(runs.size()) {
    if (!runs.empty() && !in_) throw std::logic_error("a merge of runs needs the file holding them");
    cursors_.reserve(runs.size());
    const std::size_t chunk =
        std::clamp(kMergeBuffers / std::max<std::size_t>(runs.size(), 1), kMinReadChunk, kReadChunk);
    for (const KeySpill::Run& r : runs) cursors_.emplace_back(*in_, r, chunk);
  }

  bool next() {
    if (!started_) {
      started_ = true;
      for (std::size_t i = 0; i < cursors_.size(); ++i) {
        if (cursors_[i].advance()) push(i);
      }
      if (!sorted_.empty()) push(list_);
    } else if (!heap_.empty()) {
      // The top source moves on: it sinks to its new place, or leaves.
      if (!advance(heap_.front())) {
        heap_.front() = heap_.back();
        heap_.pop_back();
      }
      if (!heap_.empty()) sift_down(0);
    }
    return !heap_.empty();
  }
  std::span<const std::uint8_t> key() const { return key_of(heap_.front()); }
  std::uint64_t tag() const { return tag_of(heap_.front()); }

 private:
  std::span<const std::uint8_t> key_of(std::size_t source) const {
    return source == list_ ? sorted_.key(list_at_) : cursors_[source].key();
  }
  std::uint64_t tag_of(std::size_t source) const {
    return source == list_ ? sorted_.tag(list_at_) : cursors_[source].tag();
  }
  bool before(std::size_t a, std::size_t b) const { return KeyList::less(key_of(a), tag_of(a), key_of(b), tag_of(b)); }
  bool advance(std::size_t source) {
    if (source == list_) return ++list_at_ < sorted_.size();
    return cursors_[source].advance();
  }
  void push(std::size_t source) {
    heap_.push_back(source);
    for (std::size_t at = heap_.size() - 1; at > 0;) {
      const std::size_t parent = (at - 1) / 2;
      if (!before(heap_[at], heap_[parent])) break;
      std::swap(heap_[at], heap_[parent]);
      at = parent;
    }
  }
  void sift_down(std::size_t at) {
    for (;;) {
      std::size_t first = at;
      for (std::size_t child = 2 * at + 1; child <= 2 * at + 2 && child < heap_.size(); ++child) {
        if (before(heap_[child], heap_[first])) first = child;
      }
      if (first == at) return;
      std::swap(heap_[at], heap_[first]);
      at = first;
    }
  }

  std::unique_ptr<RandomAccessFile> in_;
  std::vector<RunCursor> cursors_;
  const KeyList& sorted_;
  const std::size_t list_;  // the source number of the sorted list
  std::size_t list_at_ = 0;
  std::vector<std::size_t> heap_;
  bool started_ = false;
};

KeyMerge::KeyMerge(std::unique_ptr<RandomAccessFile> in, const std::vector<KeySpill::Run>& runs,
                   const KeyList& sorted)
    : sources_(std::make_unique<Sources>(std::move(in), runs, sorted)) {}
KeyMerge::~KeyMerge() = default;
KeyMerge::KeyMerge(KeyMerge&&) noexcept = default;
KeyMerge& KeyMerge::operator=(KeyMerge&&) noexcept = default;

bool KeyMerge::next() { return sources_->next(); }
std::span<const std::uint8_t> KeyMerge::key() const { return sources_->key(); }
std::uint64_t KeyMerge::tag() const { return sources_->tag(); }

}  // namespace jet::write
