#include "engine/index/index_builder.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <string>

#include "engine/error.h"
#include "engine/index/index_page_builder.h"

namespace jet::index {

namespace detail {

// Splits items into page-sized runs. On intermediate pages the last item of a
// run costs nothing: its child becomes the page's tail pointer, so only the
// items before it are stored.
class RunPacker {
 public:
  RunPacker(bool leaf, Format format)
      : leaf_(leaf), room_(layout_for(format).max_entry_bytes()), prefix_cap_(format == Format::Jet3 ? 255 : room_) {}

  // Adds the item; when it does not fit the run being filled, that run is
  // closed and returned, and the item starts the next one.
  std::optional<std::vector<IndexEntry>> add(IndexEntry item) {
    if (run_.empty()) {
      start_run(std::move(item));
      return std::nullopt;
    }
    // The entry that joins the stored ones: the item itself on a leaf, the
    // current last item (no longer the tail) on an intermediate page.
    const IndexEntry& joining = leaf_ ? item : run_.back();
    const std::size_t new_sum = sum_ + full_entry_size(joining, leaf_);
    const std::size_t new_count = count_ + 1;
    const std::size_t new_lcp =
        count_ == 0 ? kUnbounded : std::min(lcp_, common_prefix_length(run_.front(), joining));
    const std::size_t stored = new_sum - (new_count - 1) * std::min(new_lcp, prefix_cap_);
    if (stored > room_) {
      std::vector<IndexEntry> closed = std::move(run_);
      run_ = {};
      run_.reserve(closed.size());  // the next run is likely about as long
      start_run(std::move(item));
      return closed;
    }
    run_.push_back(std::move(item));
    sum_ = new_sum;
    count_ = new_count;
    lcp_ = new_lcp;
    return std::nullopt;
  }

  // The last run, if any item was added since the previous one closed.
  std::optional<std::vector<IndexEntry>> finish() {
    if (run_.empty()) return std::nullopt;
    return std::exchange(run_, {});
  }

 private:
  static constexpr std::size_t kUnbounded = static_cast<std::size_t>(-1);

  void start_run(IndexEntry item) {
    const std::size_t size = full_entry_size(item, leaf_);
    if (leaf_ && size > room_) {
      throw Error(errc::kCannotOpenDatabase,
                  "An index key of " + std::to_string(item.key.size()) + " bytes does not fit an index page.");
    }
    run_.clear();
    run_.push_back(std::move(item));
    sum_ = leaf_ ? size : 0;
    count_ = leaf_ ? 1 : 0;
    lcp_ = kUnbounded;
  }

  bool leaf_;
  std::size_t room_;
  std::size_t prefix_cap_;
  std::vector<IndexEntry> run_;
  std::size_t sum_ = 0, count_ = 0, lcp_ = kUnbounded;  // over the stored entries of run_
};

}  // namespace detail

namespace {

std::vector<std::vector<IndexEntry>> pack(const std::vector<IndexEntry>& items, bool leaf, Format format) {
  detail::RunPacker packer(leaf, format);
  std::vector<std::vector<IndexEntry>> runs;
  for (const IndexEntry& item : items) {
    if (auto closed = packer.add(item)) runs.push_back(std::move(*closed));
  }
  if (auto last = packer.finish()) runs.push_back(std::move(*last));
  return runs;
}

}  // namespace

IndexTreeWriter::IndexTreeWriter(Format format, PageNumber owner, PageAllocator allocate, PageSink sink)
    : format_(format),
      owner_(owner),
      allocate_(std::move(allocate)),
      sink_(std::move(sink)),
      leaves_(std::make_unique<detail::RunPacker>(true, format)) {}

IndexTreeWriter::~IndexTreeWriter() = default;

void IndexTreeWriter::add(IndexEntry entry) { add(entry.key, entry.row); }

void IndexTreeWriter::add(std::span<const std::uint8_t> key, RowPointer row) {
  if (has_last_) {
    // Key bytes unsigned, a key before its extensions, then the row.
    const std::size_t common = std::min(last_key_.size(), key.size());
    int c = common == 0 ? 0 : std::memcmp(last_key_.data(), key.data(), common);
    const bool same_key = c == 0 && last_key_.size() == key.size();
    if (c == 0 && !same_key) c = last_key_.size() < key.size() ? -1 : 1;
    if (c > 0 || (same_key && !(last_row_ < row))) {
      throw Error(errc::kCannotOpenDatabase, "Index entries to build are not in strictly increasing order.");
    }
    if (!same_key) ++result_.distinct_keys;
  } else {
    ++result_.distinct_keys;
    current_ = allocate_();
    has_last_ = true;
  }
  ++result_.entries;
  last_key_.assign(key.begin(), key.end());  // keeps its buffer
  last_row_ = row;
  // The entry's key goes into a buffer of a leaf already written, so an
  // index of millions of entries allocates about one leaf's worth.
  IndexEntry entry{spare_keys_.empty() ? Bytes() : std::move(spare_keys_.back()), row, 0};
  if (!spare_keys_.empty()) spare_keys_.pop_back();
  entry.key.assign(key.begin(), key.end());
  if (auto closed = leaves_->add(std::move(entry))) {
    // Leaves are numbered left to right as they open, so the next one's
    // number is known when this one closes.
    const PageNumber next = allocate_();
    write_leaf(std::move(*closed), next);
    previous_ = current_;
    current_ = next;
  }
}

void IndexTreeWriter::write_leaf(std::vector<IndexEntry> run, PageNumber next) {
  parents_.push_back({run.back().key, run.back().row, current_});
  IndexPagePlan plan{true, owner_, previous_, next, 0, std::move(run), std::nullopt};
  sink_({current_, build_index_page(plan, format_)});
  for (IndexEntry& e : plan.entries) spare_keys_.push_back(std::move(e.key));
}

BuiltIndex IndexTreeWriter::finish() {
  BuiltIndex out = std::move(result_);
  result_ = {};
  if (!has_last_) {
    out.root = allocate_();
    sink_({out.root, build_index_page({true, owner_, 0, 0, 0, {}, std::nullopt}, format_)});
    out.depth = 1;
    return out;
  }
  if (auto closed = leaves_->finish()) write_leaf(std::move(*closed), 0);
  out.depth = 1;
  std::vector<IndexEntry> items = std::move(parents_);
  std::vector<PageNumber> numbers{current_};  // the level just written, when it is one page
  while (items.size() > 1) {
    ++out.depth;
    const auto runs = pack(items, false, format_);
    numbers.clear();
    for (std::size_t i = 0; i < runs.size(); ++i) numbers.push_back(allocate_());
    std::vector<IndexEntry> parents;
    for (std::size_t i = 0; i < runs.size(); ++i) {
      IndexPagePlan plan{false, owner_, i == 0 ? 0 : numbers[i - 1], i + 1 == runs.size() ? 0 : numbers[i + 1], 0,
                         runs[i], std::nullopt};
      plan.tail = plan.entries.back().child;
      plan.entries.pop_back();
      sink_({numbers[i], build_index_page(plan, format_)});
      // The parent entry repeats the last entry under this page.
      parents.push_back({runs[i].back().key, runs[i].back().row, numbers[i]});
    }
    items = std::move(parents);
  }
  out.root = numbers.front();
  return out;
}

BuiltIndex build_index_tree(const std::vector<IndexEntry>& entries, Format format, PageNumber owner,
                            const PageAllocator& allocate) {
  std::vector<BuiltPage> pages;
  IndexTreeWriter writer(format, owner, allocate, [&](BuiltPage p) { pages.push_back(std::move(p)); });
  for (const IndexEntry& e : entries) writer.add(e);
  BuiltIndex out = writer.finish();
  out.pages = std::move(pages);
  return out;
}

}  // namespace jet::index
