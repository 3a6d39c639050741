// The real test of the key encoder: for every index of every sample file,
// keying each live row must give exactly the entries Access stored in the
// index B-tree. This is what lets compaction rebuild indexes Access accepts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>

#include "engine/index/index_key.h"
#include "engine/index/index_tree_reader.h"
#include "engine/index/tests/corpus_files.h"
#include "engine/read/database.h"

namespace jet::index {
namespace {

std::string hex(const Bytes& b) {
  std::string s;
  char buf[4];
  for (auto x : b) {
    std::snprintf(buf, sizeof buf, "%02x", x);
    s += buf;
  }
  return s;
}

struct Tally {
  std::size_t indexes = 0, matched = 0, entries = 0, unsupported = 0;
  std::map<std::string, std::size_t> reasons;
};

// Compares one index; returns an empty string when every entry matches.
std::string compare_index(Database& db, const TableDef& t, const IndexData& idx, Format format, Tally& tally) {
  const IndexTree tree = read_index_tree([&](PageNumber n) { return db.read_page(n); }, idx.first_page, format);
  IndexKeyEncoder enc(t, idx, format);
  if (!enc.unsupported_reason().empty()) {
    ++tally.unsupported;
    ++tally.reasons[enc.unsupported_reason()];
    return {};
  }
  std::vector<IndexEntry> expected;
  std::string failure;
  db.scan_rows(t, [&](RowPointer where, const Row& row) {
    if (!failure.empty()) return;
    try {
      if (auto key = enc.key_for(row)) expected.push_back({*key, where, 0});
    } catch (const Error& e) {
      failure = "unsupported: " + e.description();
    }
  });
  if (failure.rfind("unsupported", 0) == 0) {
    ++tally.unsupported;
    ++tally.reasons[failure];
    return {};
  }
  std::sort(expected.begin(), expected.end(), [](const auto& a, const auto& b) { return compare_entries(a, b) < 0; });
  tally.entries += expected.size();
  if (expected == tree.entries) return {};
  std::string msg = "table '" + t.name + "' index " + std::to_string(idx.number) + ": " +
                    std::to_string(expected.size()) + " keyed rows vs " + std::to_string(tree.entries.size()) +
                    " stored entries";
  // Show the first few stored entries whose key we did not produce, next to
  // our key for the same row.
  std::map<RowPointer, Bytes> ours;
  for (const auto& e : expected) ours[e.row] = e.key;
  int shown = 0;
  for (const auto& e : tree.entries) {
    auto it = ours.find(e.row);
    if (it != ours.end() && it->second == e.key) continue;
    msg += "\n    row " + std::to_string(e.row.page) + ":" + std::to_string(e.row.row) + " stored " + hex(e.key) +
           " ours " + (it == ours.end() ? std::string("(none)") : hex(it->second));
    if (++shown == 4) break;
  }
  return msg;
}

TEST(IndexKeyCorpus, EveryRowKeysToTheStoredEntry) {
  const auto files = testing::corpus_files();
  if (files.empty()) GTEST_SKIP() << "sample databases not found under " << testing::shared_dir();
  Tally tally;
  for (const auto& path : files) {
    SCOPED_TRACE(path.string());
    OpenOptions opts;
    if (path.parent_path().filename() == "password") opts.password = "password";
    auto db = Database::open(path.string(), opts);
    const Format format = db->version() == JetVersion::Jet3 ? Format::Jet3 : Format::Jet4;
    for (const TableDef& t : db->tables()) {
      for (const IndexData& idx : t.index_data) {
        ++tally.indexes;
        const std::string problem = compare_index(*db, t, idx, format, tally);
        if (problem.empty()) {
          ++tally.matched;
        } else {
          ADD_FAILURE() << problem;
        }
      }
    }
  }
  std::printf("[ keys     ] %zu indexes, %zu reproduced exactly (%zu entries), %zu we cannot key\n",
              tally.indexes, tally.matched - tally.unsupported, tally.entries, tally.unsupported);
  for (const auto& [reason, n] : tally.reasons) std::printf("[ keys     ]   %zux %s\n", n, reason.c_str());
  EXPECT_GT(tally.matched, 100u);
}

}  // namespace
}  // namespace jet::index
