// Compacts every sample database and checks the result from several sides:
// the outside readers see the same data, the file is no larger, a second
// compaction changes nothing, every page is accounted for by exactly one
// owner, and every rebuilt index lists exactly the rows it should.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "engine/compact/compact.h"
#include "engine/error.h"
#include "engine/format/table_definition.h"
#include "engine/index/index_key.h"
#include "engine/index/index_tree_reader.h"
#include "engine/read/database.h"
#include "engine/tests/compact_test_support.h"

namespace jet {
namespace {

using write_testing::CorpusFile;
using write_testing::ScratchDir;

std::unique_ptr<Database> open_db(const std::filesystem::path& p, const std::optional<std::string>& password) {
  OpenOptions o;
  o.password = password;
  return Database::open(p.string(), o);
}

CompactRequest request_for(const CorpusFile& f, const std::filesystem::path& dst) {
  CompactRequest r;
  r.source_path = f.path.string();
  r.destination_path = dst.string();
  r.source_password = f.password;
  return r;
}

// What each page of a compacted file is for; fails the test on a page
// claimed twice, a data page missing from its table's map, or a page no
// structure claims.
void audit_pages(Database& db) {
  const JetFormat& f = db.format();
  const index::Format index_format = db.version() == JetVersion::Jet4 ? index::Format::Jet4 : index::Format::Jet3;
  std::map<PageNumber, std::string> owner;
  auto claim = [&](PageNumber p, const std::string& who) {
    auto [it, fresh] = owner.emplace(p, who);
    EXPECT_TRUE(fresh) << "page " << p << " claimed by " << it->second << " and " << who;
  };
  auto map_pages = [&](std::uint32_t stored_reference) {
    const auto row = db.read_row_bytes(decode_row_pointer(stored_reference));
    EXPECT_TRUE(row.has_value());
    return row ? db.usage_map_pages(*row) : std::vector<PageNumber>{};
  };
  claim(0, "header");
  claim(1, "free-page map");
  for (const TableDef& t : db.tables()) {
    for (PageNumber p : t.definition_pages) claim(p, t.name + " definition");
    const std::vector<PageNumber> data = db.table_pages(t);
    for (PageNumber p : data) {
      const Bytes page = db.read_page(p);
      EXPECT_EQ(page[0], page_type::kData) << t.name << " page " << p;
      EXPECT_EQ(page[f.page_owner_offset] | (page[f.page_owner_offset + 1] << 8), static_cast<int>(t.definition_page & 0xFFFF));
      claim(p, t.name + " data");
    }
    const std::vector<PageNumber> free = db.usage_map_pages(t.usage_map_free);
    EXPECT_LE(free.size(), 1u) << t.name << ": freshly packed pages are full but the last";
    if (!data.empty()) {
      EXPECT_EQ(free, std::vector<PageNumber>{data.back()}) << t.name;
    }

    // Rows as the index encoder keys them, by their new places.
    std::vector<std::pair<RowPointer, Row>> rows;
    db.scan_rows(t, [&](RowPointer at, const Row& row) { rows.emplace_back(at, row); });
    EXPECT_EQ(rows.size(), t.row_count) << t.name;
    for (const IndexData& data_index : t.index_data) {
      const index::IndexKeyEncoder encoder(t, data_index, index_format);
      std::vector<index::IndexEntry> expected;
      for (const auto& [at, row] : rows) {
        if (auto key = encoder.key_for(row)) expected.push_back(index::IndexEntry{*key, at, 0});
      }
      std::sort(expected.begin(), expected.end(),
                [](const index::IndexEntry& a, const index::IndexEntry& b) { return index::compare_entries(a, b) < 0; });
      const index::IndexTree tree = index::read_index_tree([&](PageNumber p) { return db.read_page(p); },
                                                           data_index.first_page, index_format, t.definition_page);
      EXPECT_TRUE(tree.notes.empty()) << t.name << ": " << (tree.notes.empty() ? "" : tree.notes.front());
      ASSERT_EQ(tree.entries.size(), expected.size()) << t.name << " index " << data_index.number;
      for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(tree.entries[i].key, expected[i].key) << t.name << " index " << data_index.number << " entry " << i;
        EXPECT_EQ(tree.entries[i].row, expected[i].row) << t.name << " index " << data_index.number << " entry " << i;
      }
      const std::vector<PageNumber> mapped = map_pages(data_index.usage_map);
      EXPECT_EQ(std::set<PageNumber>(mapped.begin(), mapped.end()),
                std::set<PageNumber>(tree.pages.begin(), tree.pages.end()))
          << t.name << " index " << data_index.number << ": its usage map must list exactly its pages";
      for (PageNumber p : tree.pages) claim(p, t.name + " index");
    }
  }
  // What is left: usage-map pages and long-value pages; nothing blank.
  for (PageNumber p = 1; p < db.page_count(); ++p) {
    if (owner.count(p)) continue;
    const Bytes page = db.read_page(p);
    const bool map_rows = page[0] == page_type::kData && page[4] == 0 && page[5] == 0 && page[6] == 0 && page[7] == 0;
    const bool long_values = page[0] == page_type::kData && page[4] == 'L' && page[5] == 'V';
    EXPECT_TRUE(map_rows || long_values || page[0] == page_type::kUsageMap) << "page " << p << " has no owner";
  }
}

class CompactCorpus : public ::testing::TestWithParam<CorpusFile> {};

TEST_P(CompactCorpus, CopyHoldsTheSameDataInFreshPages) {
  const CorpusFile& file = GetParam();
  if (file.path.empty()) GTEST_SKIP() << "sample databases not found under " << write_testing::shared_dir();
  ScratchDir dir;
  const Bytes source_before = write_testing::read_whole_file(file.path);
  const auto dst = dir / "compacted.mdb";
  CompactResult result;
  try {
    result = compact_database(request_for(file, dst));
  } catch (const Error& e) {
    // Refusing is allowed only with a clear reason and no file left behind.
    EXPECT_EQ(e.number(), errc::kNotBuiltYet) << e.description();
    EXPECT_FALSE(std::filesystem::exists(dst));
    EXPECT_EQ(write_testing::read_whole_file(file.path), source_before);
    GTEST_SKIP() << "compaction refused: " << e.description();
  }
  EXPECT_EQ(write_testing::read_whole_file(file.path), source_before) << "the source must never change";
  const auto size = std::filesystem::file_size(dst);
  EXPECT_LE(size, source_before.size());
  EXPECT_EQ(size, result.bytes_after);

  auto db = open_db(dst, file.password);
  EXPECT_EQ(db->header().sort_order, open_db(file.path, file.password)->header().sort_order);
  audit_pages(*db);

  // A compacted file is its own compaction.
  const auto again = dir / "again.mdb";
  CompactRequest second = request_for(file, again);
  second.source_path = dst.string();
  compact_database(second);
  EXPECT_EQ(write_testing::read_whole_file(again), write_testing::read_whole_file(dst));

  if (!std::filesystem::exists(write_testing::jetdiff_tool())) GTEST_SKIP() << "jetdiff not found; data not compared";
  const int diff = write_testing::run_jetdiff(file.path, dst, file.password, dir / "jetdiff.log");
  if (diff == -1) GTEST_SKIP() << "jetdiff could not run";
  EXPECT_EQ(diff, 0) << std::string(write_testing::read_whole_file(dir / "jetdiff.log").begin(),
                                     write_testing::read_whole_file(dir / "jetdiff.log").end());
}

std::vector<CorpusFile> corpus_or_placeholder() {
  auto files = write_testing::corpus_files();
  if (files.empty()) files.push_back(CorpusFile{});  // so the skip below is visible
  return files;
}

INSTANTIATE_TEST_SUITE_P(Samples, CompactCorpus, ::testing::ValuesIn(corpus_or_placeholder()),
                         [](const ::testing::TestParamInfo<CorpusFile>& param) {
                           if (param.param.path.empty()) return std::string("NoCorpus");
                           std::string n = param.param.name();
                           for (char& c : n) {
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           }
                           return n;
                         });

}  // namespace
}  // namespace jet
