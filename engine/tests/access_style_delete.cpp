#include "engine/tests/access_style_delete.h"

#include <fstream>
#include <map>
#include <set>

#include "engine/error.h"
#include "engine/format/data_page.h"
#include "engine/index/index_page_builder.h"
#include "engine/index/index_page_reader.h"
#include "engine/index/index_tree_reader.h"
#include "engine/read/database.h"

namespace jet::write_testing {

namespace {

class PageFile {
 public:
  PageFile(const std::filesystem::path& p, std::uint32_t page_size) : path_(p), page_size_(page_size) {}
  Bytes read(PageNumber n) {
    auto it = dirty_.find(n);
    if (it != dirty_.end()) return it->second;
    std::ifstream in(path_, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(std::uint64_t{n} * page_size_));
    Bytes b(page_size_);
    in.read(reinterpret_cast<char*>(b.data()), static_cast<std::streamsize>(b.size()));
    return b;
  }
  void write(PageNumber n, Bytes b) { dirty_[n] = std::move(b); }
  void flush() {
    std::fstream out(path_, std::ios::binary | std::ios::in | std::ios::out);
    for (const auto& [n, b] : dirty_) {
      out.seekp(static_cast<std::streamoff>(std::uint64_t{n} * page_size_));
      out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
    }
  }

 private:
  std::filesystem::path path_;
  std::uint32_t page_size_;
  std::map<PageNumber, Bytes> dirty_;
};

void mark_deleted(PageFile& file, const JetFormat& f, RowPointer at) {
  Bytes page = file.read(at.page);
  const std::size_t entry = f.data_row_table_offset + 2u * at.row;
  const std::uint16_t offset = static_cast<std::uint16_t>(page[entry] | (page[entry + 1] << 8));
  if (offset & kRowOverflowFlag) {
    // The slot only points at where the row now lives; that goes too.
    const std::size_t start = offset & kRowOffsetMask;
    const RowPointer target{static_cast<PageNumber>(page[start + 1] | (page[start + 2] << 8) | (page[start + 3] << 16)),
                            page[start]};
    mark_deleted(file, f, target);
    page = file.read(at.page);
  }
  // Access sets both flag bits on a deleted row.
  const std::uint16_t flagged = static_cast<std::uint16_t>(offset | kRowDeletedFlag | kRowOverflowFlag);
  page[entry] = static_cast<std::uint8_t>(flagged);
  page[entry + 1] = static_cast<std::uint8_t>(flagged >> 8);
  file.write(at.page, std::move(page));
}

// Drops the entries of deleted rows from an index's leaves, then makes each
// intermediate entry repeat its child's new last entry again.
void remove_index_entries(PageFile& file, Database& db, const TableDef& t, const IndexData& index,
                          const std::set<RowPointer>& gone) {
  const index::Format format = db.version() == JetVersion::Jet4 ? index::Format::Jet4 : index::Format::Jet3;
  const index::IndexTree tree =
      index::read_index_tree([&](PageNumber p) { return file.read(p); }, index.first_page, format, t.definition_page);
  std::map<PageNumber, index::IndexEntry> last_of;
  // Children come before their parents when walking the pages in reverse visiting order.
  for (auto it = tree.pages.rbegin(); it != tree.pages.rend(); ++it) {
    const Bytes bytes = file.read(*it);
    index::IndexPage page = index::parse_index_page(bytes, format, *it);
    index::IndexPagePlan plan;
    plan.leaf = page.leaf;
    plan.owner = page.owner;
    plan.prev = page.prev;
    plan.next = page.next;
    plan.tail = page.tail;
    for (index::IndexEntry& e : page.entries) {
      if (page.leaf) {
        if (gone.count(e.row) == 0) plan.entries.push_back(e);
      } else {
        auto child = last_of.find(e.child);
        if (child == last_of.end()) continue;  // the child emptied out
        index::IndexEntry repeated = child->second;
        repeated.child = e.child;
        plan.entries.push_back(repeated);
      }
    }
    if (!plan.entries.empty()) last_of[*it] = plan.entries.back();
    if (!page.leaf && page.tail != 0 && last_of.count(page.tail)) last_of[*it] = last_of[page.tail];
    file.write(*it, index::build_index_page(plan, format));
  }
}

}  // namespace

std::size_t delete_rows_like_access(const std::filesystem::path& path, const std::string& table,
                                    const std::function<bool(const Row&, std::size_t)>& doomed,
                                    const std::optional<std::string>& password) {
  OpenOptions options;
  options.password = password;
  auto db = Database::open(path.string(), options);
  if (db->header().encrypted()) throw Error(errc::kNotBuiltYet, "test helper: encrypted files are not supported");
  const JetFormat& f = db->format();
  const TableDef t = db->table(table);
  std::set<RowPointer> gone;
  std::size_t ordinal = 0;
  db->scan_rows(t, [&](RowPointer at, const Row& row) {
    if (doomed(row, ordinal++)) gone.insert(at);
  });
  PageFile file(path, f.page_size);
  for (RowPointer at : gone) mark_deleted(file, f, at);
  for (const IndexData& index : t.index_data) remove_index_entries(file, *db, t, index, gone);
  Bytes definition = file.read(t.definition_page);
  const std::uint32_t count = t.row_count - static_cast<std::uint32_t>(gone.size());
  for (int i = 0; i < 4; ++i) {
    definition[f.tdef_row_count_offset + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(count >> (8 * i));
  }
  file.write(t.definition_page, std::move(definition));
  db.reset();
  file.flush();
  return gone.size();
}

}  // namespace jet::write_testing
