#pragma once
// Lays out a fresh, dense index B-tree from entries already in key order:
// leaves packed as full as a page allows (with prefix compression), linked
// left to right, and intermediate levels above them until one root page
// remains. Compaction calls this to rebuild every index of a table.
#include <functional>
#include <memory>
#include <span>
#include <optional>
#include <vector>

#include "engine/index/index_entry.h"
#include "engine/index/index_page_layout.h"

namespace jet::index {

namespace detail {
class RunPacker;
}

// Hands out the page number for the next page the builder lays out. Pages are
// requested leaves first, left to right, then level by level up to the root.
using PageAllocator = std::function<PageNumber()>;

struct BuiltPage {
  PageNumber number = 0;
  Bytes bytes;
};

struct BuiltIndex {
  PageNumber root = 0;           // goes into the index definition
  std::vector<BuiltPage> pages;  // in allocation order; the root is last
  int depth = 0;                 // 1 = the root is the only leaf
  std::size_t entries = 0;
  // Different keys among the entries: what a freshly built index carries as
  // its count in the table definition (Access only ever raises that count
  // while the index lives, and compaction resets it).
  std::size_t distinct_keys = 0;
};

// Receives each finished page as soon as nothing about it can change.
using PageSink = std::function<void(BuiltPage)>;

// Builds the same tree as build_index_tree from entries given one at a time,
// handing leaves to `sink` as they fill: only one leaf and the entries of the
// levels above (one per page below) stay in memory, so an index of millions
// of rows costs about one page while it is written.
class IndexTreeWriter {
 public:
  IndexTreeWriter(Format format, PageNumber owner, PageAllocator allocate, PageSink sink);
  ~IndexTreeWriter();
  IndexTreeWriter(const IndexTreeWriter&) = delete;
  IndexTreeWriter& operator=(const IndexTreeWriter&) = delete;

  // Entries must come strictly in order (jet::Error 3049 otherwise).
  void add(IndexEntry entry);
  void add(std::span<const std::uint8_t> key, RowPointer row);
  // Writes the last leaf and the levels above it. The result's `pages` is
  // empty: every page went to the sink.
  BuiltIndex finish();

 private:
  void write_leaf(std::vector<IndexEntry> run, PageNumber next);

  Format format_;
  PageNumber owner_;
  PageAllocator allocate_;
  PageSink sink_;
  std::unique_ptr<detail::RunPacker> leaves_;
  bool has_last_ = false;
  Bytes last_key_;  // of the entry added last
  RowPointer last_row_;
  std::vector<Bytes> spare_keys_;      // buffers of the entries of written leaves
  std::vector<IndexEntry> parents_;  // one per leaf written
  PageNumber current_ = 0;           // number of the leaf being filled
  PageNumber previous_ = 0;          // number of the leaf before it
  BuiltIndex result_;
};

// `owner` is the table-definition page written into every page header.
// Throws jet::Error 3049 when the entries are not strictly ordered or one
// entry is too large for a page.
BuiltIndex build_index_tree(const std::vector<IndexEntry>& entries, Format format, PageNumber owner,
                            const PageAllocator& allocate);

}  // namespace jet::index
