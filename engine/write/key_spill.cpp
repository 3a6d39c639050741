#include "engine/write/key_spill.h"

#include <algorithm>
#include <cstring>
#include <queue>

#include "engine/error.h"
#include "engine/file/env.h"

namespace jet::write {

namespace {

// An entry on file: key length (4 bytes), tag (8 bytes), key bytes.
constexpr std::size_t kEntryHeader = 12;
constexpr std::size_t kReadChunk = 256 * 1024;

void put_le(std::uint8_t* at, std::uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) at[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
std::uint64_t get_le(const std::uint8_t* at, int bytes) {
  std::uint64_t v = 0;
  for (int i = 0; i < bytes; ++i) v |= std::uint64_t{at[i]} << (8 * i);
  return v;
}

// Reads one run back entry by entry through a buffer.
class RunCursor {
 public:
  RunCursor(RandomAccessFile& in, KeySpill::Run run) : in_(in), next_(run.offset), end_(run.offset + run.bytes) {}

  // Moves to the next entry; false at the end of the run.
  bool advance() {
    if (next_ == end_ && at_ == buffer_.size()) return false;  // nothing left on file or in the buffer
    std::uint8_t header[kEntryHeader];
    read(header, kEntryHeader);
    const auto length = static_cast<std::uint32_t>(get_le(header, 4));
    tag_ = get_le(header + 4, 8);
    key_.resize(length);
    read(key_.data(), length);
    return true;
  }
  std::span<const std::uint8_t> key() const { return key_; }
  std::uint64_t tag() const { return tag_; }

 private:
  void read(std::uint8_t* dst, std::size_t n) {
    while (n > 0) {
      if (at_ == buffer_.size()) refill();
      const std::size_t take = std::min(n, buffer_.size() - at_);
      std::memcpy(dst, buffer_.data() + at_, take);
      at_ += take;
      dst += take;
      n -= take;
    }
  }
  void refill() {
    const std::uint64_t left = end_ - next_;
    if (left == 0) throw Error(errc::kCannotOpenDatabase, "Internal error: a sorted run of index keys ends early.");
    buffer_.resize(static_cast<std::size_t>(std::min<std::uint64_t>(left, kReadChunk)));
    in_.read(next_, buffer_.size(), buffer_.data());
    next_ += buffer_.size();
    at_ = 0;
  }

  RandomAccessFile& in_;
  std::uint64_t next_;
  std::uint64_t end_;
  Bytes buffer_;
  std::size_t at_ = 0;
  Bytes key_;
  std::uint64_t tag_ = 0;
};

}  // namespace

KeySpill::KeySpill(Env& env, std::string path) : env_(env), path_(std::move(path)) {}

KeySpill::~KeySpill() {
  const bool created = out_ != nullptr;
  in_.reset();
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
  in_.reset();  // reopened for reading when merging
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
  if (!in_) in_ = env_.open_readable(path_);
  std::vector<RunCursor> cursors;
  cursors.reserve(runs.size());
  for (const Run& r : runs) cursors.emplace_back(*in_, r);
  // Sources are the cursors plus the in-memory list (index runs.size()).
  const std::size_t memory = runs.size();
  std::size_t memory_at = 0;
  const auto key_of = [&](std::size_t source) {
    return source == memory ? sorted.key(memory_at) : cursors[source].key();
  };
  const auto tag_of = [&](std::size_t source) {
    return source == memory ? sorted.tag(memory_at) : cursors[source].tag();
  };
  const auto after = [&](std::size_t a, std::size_t b) {  // true when a comes after b
    return KeyList::less(key_of(b), tag_of(b), key_of(a), tag_of(a));
  };
  std::priority_queue<std::size_t, std::vector<std::size_t>, decltype(after)> heap(after);
  for (std::size_t i = 0; i < cursors.size(); ++i) {
    if (cursors[i].advance()) heap.push(i);
  }
  if (!sorted.empty()) heap.push(memory);
  while (!heap.empty()) {
    const std::size_t source = heap.top();
    heap.pop();
    visit(key_of(source), tag_of(source));
    if (source == memory) {
      if (++memory_at < sorted.size()) heap.push(memory);
    } else if (cursors[source].advance()) {
      heap.push(source);
    }
  }
}

}  // namespace jet::write
