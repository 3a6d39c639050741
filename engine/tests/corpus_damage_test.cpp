// Damaged copies of the sample databases: cut short, pages zeroed, pages
// filled with noise. Opening, reading every table and checking must end in
// success or a jet::Error with a number, a description and a source;
// never a crash, a sanitizer report, another exception type or a hang.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "engine/check/check.h"
#include "engine/error.h"
#include "engine/read/database.h"
#include "engine/tests/corpus_samples.h"

namespace {

using quillmar_test::CorpusFile;
using quillmar_test::ScratchDir;

struct Outcome {
  bool opened = false;
  int error_number = 0;  // 0: every step succeeded
};

// Everything a user can ask of a file: open, list, read all rows, check.
Outcome read_everything(const std::string& path, const std::optional<std::string>& password) {
  Outcome out;
  jet::OpenOptions options;
  options.password = password;
  try {
    auto db = jet::Database::open(path, options);
    out.opened = true;
    for (const jet::TableDef& t : db->tables()) {
      try {
        db->scan_rows(t, [](jet::RowPointer, const jet::Row&) {});
      } catch (const jet::Error& e) {
        EXPECT_NE(e.number(), 0);
        out.error_number = e.number();
      }
    }
    jet::check_database(*db);
  } catch (const jet::Error& e) {
    EXPECT_NE(e.number(), 0) << path;
    EXPECT_FALSE(e.description().empty()) << path;
    EXPECT_FALSE(e.source().empty()) << path;
    out.error_number = e.number();
  }
  return out;
}

std::uint32_t page_size_of(const std::vector<std::uint8_t>& bytes) {
  // Byte 0x14 of the header: 0 is Jet 3 (2 KB pages), anything else 4 KB.
  return bytes.size() > 0x14 && bytes[0x14] == 0 ? 2048 : 4096;
}

// Files to damage: every sample below 400 KB keeps the run short under the
// sanitizers while covering both versions, passwords and encryption.
std::vector<CorpusFile> small_samples() {
  std::vector<CorpusFile> out;
  for (auto& f : quillmar_test::corpus_files()) {
    if (quillmar_test::fs::file_size(f.path) < 400 * 1024) out.push_back(f);
  }
  return out;
}

TEST(CorpusDamage, TruncatedFilesFailCleanly) {
  QUILLMAR_REQUIRE_CORPUS();
  ScratchDir dir;
  for (const auto& f : small_samples()) {
    auto bytes = quillmar_test::read_bytes(f.path);
    std::uint32_t ps = page_size_of(bytes);
    for (std::size_t keep : {std::size_t{0}, std::size_t{100}, std::size_t{ps + 7}, std::size_t{3 * ps},
                             bytes.size() / 2, bytes.size() - ps, bytes.size() - 1}) {
      if (keep >= bytes.size()) continue;
      auto path = dir.path() / "cut.mdb";
      quillmar_test::write_bytes(path, std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(keep)));
      SCOPED_TRACE(f.path.filename().string() + " cut to " + std::to_string(keep) + " bytes");
      Outcome o = read_everything(path.string(), f.password);
      if (keep < 3 * ps) {
        EXPECT_FALSE(o.opened);  // no catalog, no database
      }
    }
  }
}

TEST(CorpusDamage, ZeroedPagesFailCleanly) {
  QUILLMAR_REQUIRE_CORPUS();
  ScratchDir dir;
  for (const auto& f : small_samples()) {
    auto original = quillmar_test::read_bytes(f.path);
    std::uint32_t ps = page_size_of(original);
    std::size_t pages = original.size() / ps;
    for (std::size_t p = 0; p < pages && p < 12; ++p) {
      auto bytes = original;
      std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(p * ps),
                bytes.begin() + static_cast<std::ptrdiff_t>((p + 1) * ps), 0);
      auto path = dir.path() / "zeroed.mdb";
      quillmar_test::write_bytes(path, bytes);
      SCOPED_TRACE(f.path.filename().string() + " page " + std::to_string(p) + " zeroed");
      Outcome o = read_everything(path.string(), f.password);
      if (p == 0) {
        EXPECT_EQ(o.error_number, jet::errc::kUnrecognizedFormat);
      }
      if (p == 2) {
        EXPECT_NE(o.error_number, 0);  // the catalog is gone
      }
    }
  }
}

TEST(CorpusDamage, ScrambledPagesFailCleanly) {
  QUILLMAR_REQUIRE_CORPUS();
  ScratchDir dir;
  std::mt19937 rng(20261208);
  for (const auto& f : small_samples()) {
    auto original = quillmar_test::read_bytes(f.path);
    std::uint32_t ps = page_size_of(original);
    std::size_t pages = original.size() / ps;
    for (int round = 0; round < 12; ++round) {
      auto bytes = original;
      // Noise over a whole page, or a few bytes here and there.
      std::size_t p = 1 + rng() % (pages - 1);
      std::uniform_int_distribution<int> byte(0, 255);
      if (round % 2 == 0) {
        for (std::size_t i = 0; i < ps; ++i) bytes[p * ps + i] = static_cast<std::uint8_t>(byte(rng));
      } else {
        for (int k = 0; k < 16; ++k) bytes[p * ps + rng() % ps] = static_cast<std::uint8_t>(byte(rng));
      }
      auto path = dir.path() / "scrambled.mdb";
      quillmar_test::write_bytes(path, bytes);
      SCOPED_TRACE(f.path.filename().string() + " page " + std::to_string(p) + " scrambled, round " +
                   std::to_string(round));
      read_everything(path.string(), f.password);
    }
  }
}

TEST(CorpusDamage, TheOriginalsAreNeverChanged) {
  QUILLMAR_REQUIRE_CORPUS();
  const auto f = quillmar_test::corpus_files().front();
  auto before = quillmar_test::read_bytes(f.path);
  auto mtime = quillmar_test::fs::last_write_time(f.path);
  read_everything(f.path.string(), f.password);
  EXPECT_EQ(quillmar_test::read_bytes(f.path), before);
  EXPECT_EQ(quillmar_test::fs::last_write_time(f.path), mtime);
}

}  // namespace
