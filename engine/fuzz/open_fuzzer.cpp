// libFuzzer target: arbitrary bytes opened as a database, every table read
// and the whole file checked. The only acceptable failure is a jet::Error;
// anything else (crash, sanitizer report, other exception, hang) is a bug.
#include <cstddef>
#include <cstdint>

#include "engine/check/check.h"
#include "engine/error.h"
#include "engine/file/memory_env.h"
#include "engine/fuzz/fuzz_input.h"
#include "engine/read/database.h"

namespace {

constexpr const char* kPath = "/fuzz/input.mdb";
// Bounds the work per input so a huge claimed row count cannot stall a run.
constexpr int kMaxRowsPerTable = 2000;

struct EnoughRows {};

void read_everything(jet::Database& db) {
  for (const jet::TableDef& table : db.tables()) {
    int rows = 0;
    try {
      db.scan_rows(table, [&](jet::RowPointer, const jet::Row&) {
        if (++rows > kMaxRowsPerTable) throw EnoughRows{};
      });
    } catch (const EnoughRows&) {
    } catch (const jet::Error&) {
      // A damaged table must not stop the others from being read.
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  const jet::fuzz::FuzzInput input = jet::fuzz::split_fuzz_input(bytes, size);
  jet::MemoryEnv env;
  env.put(kPath, jet::Bytes(input.data, input.data + input.size));
  env.set_read_only(true);  // nothing the fuzzer drives may write
  jet::OpenOptions options;
  options.env = &env;
  options.cache_pages = 16;
  options.password = input.password;
  try {
    auto db = jet::Database::open(kPath, options);
    read_everything(*db);
    jet::check_database(*db);
  } catch (const jet::Error&) {
    // Clean refusal of bad input: exactly what we want.
  }
  return 0;
}
