#pragma once
// The check walked on one thread and split over several must give the same
// report, finding for finding in the same order. The split runs use tiny
// stretches so that long-value chains and page claims cross from one
// stretch (and thread) to another.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/check/check.h"
#include "engine/read/database.h"

namespace quillmar_test {

inline std::vector<std::string> report_lines(const jet::CheckReport& r) {
  std::vector<std::string> lines;
  for (const jet::Finding& f : r.findings) {
    lines.push_back(std::string(f.severity == jet::Severity::Error ? "error " : "note ") + std::to_string(f.page) +
                    " [" + f.table + "] " + f.kind + ": " + f.message);
  }
  for (const auto& [table, rows] : r.live_rows) lines.push_back("rows " + table + " " + std::to_string(rows));
  return lines;
}

inline jet::CheckOptions on_one_thread() {
  jet::CheckOptions o;
  o.threads = 1;
  return o;
}

inline jet::CheckOptions split_into(jet::PageNumber stretch_pages, unsigned threads = 2) {
  jet::CheckOptions o;
  o.threads = threads;
  o.parallel_from_pages = 0;
  o.stretch_pages = stretch_pages;
  return o;
}

// The one-thread report of `db`, after expecting the split walks to agree.
inline jet::CheckReport check_both_ways(jet::Database& db) {
  const jet::CheckReport one = jet::check_database(db, on_one_thread());
  const auto expected = report_lines(one);
  for (const jet::CheckOptions& split : {split_into(1), split_into(5, 3)}) {
    SCOPED_TRACE("stretches of " + std::to_string(split.stretch_pages) + " pages on " + std::to_string(split.threads) +
                 " threads");
    EXPECT_EQ(report_lines(jet::check_database(db, split)), expected);
  }
  return one;
}

}  // namespace quillmar_test
