#include "engine/index/index_page_reader.h"

#include <algorithm>
#include <string>

#include "engine/error.h"

namespace jet::index {
namespace {

[[noreturn]] void damaged(PageNumber number, const std::string& what) {
  throw Error(errc::kCannotOpenDatabase,
              "Index page " + std::to_string(number) + " is damaged: " + what + ".");
}

std::uint32_t le32(std::span<const std::uint8_t> p, std::size_t at) {
  return static_cast<std::uint32_t>(p[at]) | static_cast<std::uint32_t>(p[at + 1]) << 8 |
         static_cast<std::uint32_t>(p[at + 2]) << 16 | static_cast<std::uint32_t>(p[at + 3]) << 24;
}

std::uint16_t le16(std::span<const std::uint8_t> p, std::size_t at) {
  return static_cast<std::uint16_t>(p[at] | p[at + 1] << 8);
}

// Splits the tail of a full entry into key, row pointer and (intermediate) child.
EntryView split_entry(std::span<const std::uint8_t> full, bool leaf) {
  const std::size_t trailer = kRowPointerSize + (leaf ? 0 : kChildPointerSize);
  const std::size_t key_len = full.size() - trailer;
  EntryView e;
  e.key = full.first(key_len);
  const std::uint8_t* r = full.data() + key_len;
  e.row.page = static_cast<PageNumber>(r[0]) << 16 | static_cast<PageNumber>(r[1]) << 8 | r[2];
  e.row.row = r[3];
  if (!leaf) {
    const std::uint8_t* c = r + kRowPointerSize;
    e.child = static_cast<PageNumber>(c[0]) << 24 | static_cast<PageNumber>(c[1]) << 16 |
              static_cast<PageNumber>(c[2]) << 8 | c[3];
  }
  return e;
}

}  // namespace

std::strong_ordering compare_entry_views(const EntryView& a, const EntryView& b) {
  auto c = std::lexicographical_compare_three_way(a.key.begin(), a.key.end(), b.key.begin(), b.key.end());
  if (c != 0) return c;
  return a.row <=> b.row;
}

IndexPage read_index_page(std::span<const std::uint8_t> page, Format format, PageNumber number,
                          const std::function<void(const EntryView&)>& visit) {
  const PageLayout& L = layout_for(format);
  if (page.size() < L.page_size) damaged(number, "the page is shorter than a database page");
  page = page.first(L.page_size);

  IndexPage out;
  if (page[0] == kLeafPageType) {
    out.leaf = true;
  } else if (page[0] == kIntermediatePageType) {
    out.leaf = false;
  } else {
    damaged(number, "page type " + std::to_string(page[0]) + " is not an index page");
  }
  out.free_space = le16(page, L.free_space);
  out.owner = le32(page, L.owner);
  out.prev = le32(page, L.prev);
  out.next = le32(page, L.next);
  out.tail = le32(page, L.tail);
  out.prefix_len = L.prefix_len_size == 1 ? page[L.prefix_len] : le16(page, L.prefix_len);

  const std::size_t room = L.max_entry_bytes();
  if (out.free_space > room) damaged(number, "free space exceeds the entry area");
  const std::size_t used = room - out.free_space;

  const std::size_t min_entry = kRowPointerSize + (out.leaf ? 0 : kChildPointerSize);
  const std::uint8_t* data = page.data() + L.entries_start();
  // The whole first entry starts every later one (its shared prefix); two
  // buffers take turns holding the current and the previous entry.
  std::span<const std::uint8_t> prefix;
  Bytes buffers[2];
  EntryView previous;
  bool first = true;
  std::size_t start = 0;
  for (std::size_t bit = 0; bit < L.mask_size * 8; ++bit) {
    if (((page[L.mask + bit / 8] >> (bit % 8)) & 1) == 0) continue;
    if (bit > used) damaged(number, "an entry ends past the used area");
    if (bit <= start) damaged(number, "an entry is empty");
    std::span<const std::uint8_t> full;
    if (first) {
      full = std::span<const std::uint8_t>(data, bit);
      if (out.prefix_len > full.size()) damaged(number, "the shared prefix is longer than the first entry");
      prefix = full.first(out.prefix_len);
    } else if (prefix.empty()) {
      full = std::span<const std::uint8_t>(data + start, bit - start);
    } else {
      Bytes& buffer = buffers[0];
      buffer.assign(prefix.begin(), prefix.end());
      buffer.insert(buffer.end(), data + start, data + bit);
      full = buffer;
      std::swap(buffers[0], buffers[1]);  // keep this entry while the next is built
    }
    if (full.size() < min_entry) damaged(number, "an entry is too short to hold its pointers");
    EntryView e = split_entry(full, out.leaf);
    if (!first && compare_entry_views(previous, e) >= 0) damaged(number, "entries are out of order");
    visit(e);
    previous = e;
    first = false;
    start = bit;
  }
  if (start != used) damaged(number, "the entry bitmap does not cover the used area");
  return out;
}

IndexPage parse_index_page(std::span<const std::uint8_t> page, Format format, PageNumber number) {
  std::vector<IndexEntry> entries;
  IndexPage out = read_index_page(page, format, number, [&](const EntryView& e) {
    entries.push_back(IndexEntry{Bytes(e.key.begin(), e.key.end()), e.row, e.child});
  });
  out.entries = std::move(entries);
  return out;
}

}  // namespace jet::index
