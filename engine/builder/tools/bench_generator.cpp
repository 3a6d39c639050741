// Writes the large database the compaction benchmark compacts: three user
// tables (customers, orders, a log with binary attachments) with AutoNumber
// primary keys, text and number indexes, memo values of every storage size,
// and a share of rows deleted the way Access deletes them. Rows are
// appended until the file reaches the requested size.
//
//   quillmar-bench-gen OUT.mdb [--megabytes N] [--deleted-percent P] [--seed S]
//
// Prints one summary line: rows written, rows deleted, pages, bytes. Exit
// status: 0 done (or --help), 1 the file could not be made (an existing
// OUT.mdb is refused with error 3204 and left as it is), 2 bad usage.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <cstdlib>
#include <exception>
#include <random>
#include <string>

#include "engine/builder/database_builder.h"
#include "engine/builder/tools/bench_options.h"
#include "engine/error.h"

using jet::Bytes;
using jet::ColumnType;
using jet::Row;
using jet::Value;
using jet::build::ColumnDesign;
using jet::build::IndexDesign;
using jet::build::TableDesign;

namespace {

Value null_of(ColumnType t) { return Value{t, true, 0, 0, {}, {}, {}}; }
Value integer(ColumnType t, std::int64_t v) { return Value{t, false, v, 0, {}, {}, {}}; }
Value real(ColumnType t, double v) { return Value{t, false, 0, v, {}, {}, {}}; }
Value text(ColumnType t, std::u16string s) { return Value{t, false, 0, 0, std::move(s), {}, {}}; }

const char16_t* const kWords[] = {u"alpha", u"Bravo", u"charlie", u"Delta", u"echo",  u"Foxtrot", u"golf",
                                  u"Hotel", u"india", u"Juliett", u"kilo",  u"Lima",  u"mike",    u"November",
                                  u"oscar", u"Papa",  u"quebec",  u"Romeo", u"sierra", u"Tango",  u"Ürsel",
                                  u"Åsa",   u"Ölund", u"zulu"};

std::u16string words(std::mt19937_64& rng, std::size_t count) {
  std::u16string s;
  for (std::size_t i = 0; i < count; ++i) {
    if (i) s += u' ';
    s += kWords[rng() % std::size(kWords)];
  }
  return s;
}

std::u16string number_text(std::uint64_t n) {
  std::u16string s;
  for (char c : std::to_string(n)) s += static_cast<char16_t>(c);
  return s;
}

// Memo sizes: a third null, then inline, one long-value row, or a chain.
Value memo(std::mt19937_64& rng) {
  const std::uint64_t pick = rng() % 12;
  if (pick < 4) return null_of(ColumnType::Memo);
  if (pick < 7) return text(ColumnType::Memo, words(rng, 3));
  if (pick < 11) return text(ColumnType::Memo, words(rng, 60 + rng() % 200));
  return text(ColumnType::Memo, words(rng, 1000 + rng() % 1500));
}

}  // namespace

int main(int argc, char** argv) {
  const std::string program = argc > 0 ? std::filesystem::path(argv[0]).filename().string() : "quillmar-bench-gen";
  const jet::build::BenchParse parsed = jet::build::parse_bench_options(argc, argv);
  switch (parsed.outcome) {
    case jet::build::BenchParse::Outcome::kHelp:
      std::fputs(jet::build::bench_usage(program).c_str(), stdout);
      return 0;
    case jet::build::BenchParse::Outcome::kUsageError:
      std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", program.c_str(), parsed.error.c_str(), program.c_str());
      return 2;
    case jet::build::BenchParse::Outcome::kRun:
      break;
  }
  const std::uint64_t megabytes = parsed.options.megabytes;
  const unsigned deleted_percent = parsed.options.deleted_percent;
  const std::uint64_t seed = parsed.options.seed;
  try {
    jet::build::DatabaseBuilder b(parsed.options.output);
    TableDesign customers{"Customers",
                        {ColumnDesign{"CustomerID", ColumnType::Long, 0, true}, ColumnDesign{"Name", ColumnType::Text, 60, false},
                         ColumnDesign{"City", ColumnType::Text, 30, false}, ColumnDesign{"Age", ColumnType::Integer, 0, false},
                         ColumnDesign{"Balance", ColumnType::Currency, 0, false},
                         ColumnDesign{"Joined", ColumnType::DateTime, 0, false},
                         ColumnDesign{"Active", ColumnType::Boolean, 0, false}, ColumnDesign{"Notes", ColumnType::Memo, 0, false}},
                        {IndexDesign{"PrimaryKey", {"CustomerID"}, true, false}, IndexDesign{"Name", {"Name"}, false, false},
                         IndexDesign{"CityAge", {"City", "Age"}, false, false}}};
    TableDesign orders{"Orders",
                     {ColumnDesign{"OrderID", ColumnType::Long, 0, true}, ColumnDesign{"CustomerID", ColumnType::Long, 0, false},
                      ColumnDesign{"Amount", ColumnType::Double, 0, false}, ColumnDesign{"OrderDate", ColumnType::DateTime, 0, false},
                      ColumnDesign{"Product", ColumnType::Text, 40, false}, ColumnDesign{"Shipped", ColumnType::Boolean, 0, false},
                      ColumnDesign{"Comment", ColumnType::Memo, 0, false}},
                     {IndexDesign{"PrimaryKey", {"OrderID"}, true, false}, IndexDesign{"CustomerID", {"CustomerID"}, false, false},
                      IndexDesign{"Amount", {"Amount"}, false, false}}};
    TableDesign log{"EventLog",
                  {ColumnDesign{"EventID", ColumnType::Long, 0, true}, ColumnDesign{"Code", ColumnType::Long, 0, false},
                   ColumnDesign{"Message", ColumnType::Text, 200, false}, ColumnDesign{"Attachment", ColumnType::Ole, 0, false}},
                  {IndexDesign{"PrimaryKey", {"EventID"}, true, false}, IndexDesign{"Code", {"Code"}, false, false}}};
    const std::size_t c = b.add_table(customers);
    const std::size_t o = b.add_table(orders);
    const std::size_t l = b.add_table(log);

    std::mt19937_64 rng(seed);
    const std::uint64_t target_pages = megabytes * 1024 * 1024 / 4096;
    std::uint64_t rows = 0;
    std::uint64_t deleted = 0;
    std::uint64_t customers_written = 0;
    const auto fate = [&] {
      ++rows;
      if (rng() % 100 < deleted_percent) {
        ++deleted;
        return jet::build::RowFate::kDeleted;
      }
      return jet::build::RowFate::kLive;
    };
    while (b.pages_written() < target_pages) {
      ++customers_written;
      b.append_row(c,
                   Row{null_of(ColumnType::Long), text(ColumnType::Text, words(rng, 2) + u" " + number_text(rng() % 100000)),
                       text(ColumnType::Text, kWords[rng() % std::size(kWords)]),
                       rng() % 10 == 0 ? null_of(ColumnType::Integer) : integer(ColumnType::Integer, 18 + rng() % 70),
                       integer(ColumnType::Currency, static_cast<std::int64_t>(rng() % 100000000) - 20000000),
                       real(ColumnType::DateTime, 36000.0 + static_cast<double>(rng() % 9000) + 0.5),
                       integer(ColumnType::Boolean, rng() % 2), memo(rng)},
                   fate());
      for (int k = 0; k < 3; ++k) {
        b.append_row(o,
                     Row{null_of(ColumnType::Long), integer(ColumnType::Long, static_cast<std::int64_t>(1 + rng() % customers_written)),
                         real(ColumnType::Double, static_cast<double>(rng() % 1000000) / 100.0),
                         real(ColumnType::DateTime, 40000.0 + static_cast<double>(rng() % 5000)),
                         text(ColumnType::Text, words(rng, 2)), integer(ColumnType::Boolean, rng() % 2),
                         rng() % 3 == 0 ? text(ColumnType::Memo, words(rng, 5)) : null_of(ColumnType::Memo)},
                     fate());
      }
      if (customers_written % 4 == 0) {
        Bytes blob(static_cast<std::size_t>(500 + rng() % 6000));
        for (std::uint8_t& byte : blob) byte = static_cast<std::uint8_t>(rng());
        b.append_row(l,
                     Row{null_of(ColumnType::Long), integer(ColumnType::Long, static_cast<std::int64_t>(rng() % 500)),
                         text(ColumnType::Text, words(rng, 6)), Value{ColumnType::Ole, false, 0, 0, {}, std::move(blob), {}}},
                     fate());
      }
    }
    b.finish();
    std::printf("rows %llu deleted %llu live %llu pages %u bytes %llu\n", static_cast<unsigned long long>(rows),
                static_cast<unsigned long long>(deleted), static_cast<unsigned long long>(rows - deleted),
                b.pages_written(), static_cast<unsigned long long>(b.pages_written()) * 4096ull);
    return 0;
  } catch (const jet::Error& e) {
    std::fprintf(stderr, "error %d: %s (%s)\n", e.number(), e.description().c_str(), e.source().c_str());
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "error: %s\n", e.what());
    return 1;
  }
}
