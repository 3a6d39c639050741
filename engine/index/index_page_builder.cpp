#include "engine/index/index_page_builder.h"

#include <algorithm>
#include <string>

#include "engine/error.h"

namespace jet::index {
namespace {

void put_le16(Bytes& b, std::size_t at, std::size_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

void put_le32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

// The entry as stored: key, 3-byte row page and row number big-endian, then
// the child page big-endian on intermediate pages.
// The entry as stored before prefix compression, into `out` (its buffer is
// reused from entry to entry).
void full_entry_into(const IndexEntry& e, bool leaf, Bytes& out) {
  out.assign(e.key.begin(), e.key.end());
  out.push_back(static_cast<std::uint8_t>(e.row.page >> 16));
  out.push_back(static_cast<std::uint8_t>(e.row.page >> 8));
  out.push_back(static_cast<std::uint8_t>(e.row.page));
  out.push_back(static_cast<std::uint8_t>(e.row.row));
  if (!leaf) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(e.child >> shift));
  }
}

// Byte i of the part of an entry that may be shared (key then 3 page bytes).
std::uint8_t shareable_byte(const IndexEntry& e, std::size_t i) {
  if (i < e.key.size()) return e.key[i];
  const std::size_t k = i - e.key.size();
  return static_cast<std::uint8_t>(e.row.page >> (8 * (2 - k)));
}

}  // namespace

std::size_t full_entry_size(const IndexEntry& e, bool leaf) {
  return e.key.size() + kRowPointerSize + (leaf ? 0 : kChildPointerSize);
}

std::size_t common_prefix_length(const IndexEntry& a, const IndexEntry& b) {
  const std::size_t len = std::min(a.key.size(), b.key.size()) + 3;
  std::size_t i = 0;
  while (i < len && shareable_byte(a, i) == shareable_byte(b, i)) ++i;
  return i;
}

std::size_t shared_prefix_length(const std::vector<IndexEntry>& entries, Format format) {
  if (entries.size() < 2) return 0;
  std::size_t len = entries.front().key.size() + 3;
  for (std::size_t n = 1; n < entries.size() && len > 0; ++n) {
    len = std::min(len, common_prefix_length(entries.front(), entries[n]));
  }
  // Jet 3 keeps the prefix length in one byte.
  if (format == Format::Jet3) len = std::min<std::size_t>(len, 255);
  return len;
}

std::size_t packed_size(const std::vector<IndexEntry>& entries, bool leaf, std::size_t prefix) {
  if (entries.empty()) return 0;
  std::size_t total = 0;
  for (const auto& e : entries) total += full_entry_size(e, leaf);
  return total - prefix * (entries.size() - 1);
}

Bytes build_index_page(const IndexPagePlan& plan, Format format) {
  const PageLayout& L = layout_for(format);
  const std::size_t longest = shared_prefix_length(plan.entries, format);
  const std::size_t prefix = plan.prefix_len.value_or(longest);
  if (prefix > longest) {
    throw Error(errc::kCannotOpenDatabase, "Index page prefix of " + std::to_string(prefix) +
                                               " bytes is not shared by all entries.");
  }
  const std::size_t used = packed_size(plan.entries, plan.leaf, prefix);
  if (used > L.max_entry_bytes()) {
    throw Error(errc::kCannotOpenDatabase, "Index entries take " + std::to_string(used) +
                                               " bytes, more than one index page holds.");
  }

  Bytes page(L.page_size, 0);
  page[0] = plan.leaf ? kLeafPageType : kIntermediatePageType;
  page[1] = 0x01;
  put_le16(page, L.free_space, L.max_entry_bytes() - used);
  put_le32(page, L.owner, plan.owner);
  put_le32(page, L.prev, plan.prev);
  put_le32(page, L.next, plan.next);
  put_le32(page, L.tail, plan.tail);
  if (L.prefix_len_size == 1) {
    page[L.prefix_len] = static_cast<std::uint8_t>(prefix);
  } else {
    put_le16(page, L.prefix_len, prefix);
  }
  page[L.node_flag] = plan.leaf ? 0 : 1;

  std::size_t pos = 0;
  Bytes full;
  for (std::size_t n = 0; n < plan.entries.size(); ++n) {
    full_entry_into(plan.entries[n], plan.leaf, full);
    const std::size_t skip = n == 0 ? 0 : prefix;
    std::copy(full.begin() + static_cast<std::ptrdiff_t>(skip), full.end(),
              page.begin() + static_cast<std::ptrdiff_t>(L.entries_start() + pos));
    pos += full.size() - skip;
    page[L.mask + pos / 8] = static_cast<std::uint8_t>(page[L.mask + pos / 8] | (1u << (pos % 8)));
  }
  return page;
}

}  // namespace jet::index
