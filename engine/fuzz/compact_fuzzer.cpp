// libFuzzer target: arbitrary bytes compacted as a database, in memory.
// Bad input may be refused with a jet::Error, or repaired; it must never
// crash, hang, change the source, leave a half-written destination behind,
// or yield a copy that fails its own closing check (a repair that produces
// a broken file is worse than the input).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <string>

#include "engine/compact/compact.h"
#include "engine/error.h"
#include "engine/file/memory_env.h"
#include "engine/fuzz/fuzz_input.h"

namespace {

constexpr const char* kSource = "/fuzz/input.mdb";
constexpr const char* kDestination = "/fuzz/output.mdb";

[[noreturn]] void fault(const char* what, const std::string& detail = {}) {
  std::fprintf(stderr, "compact_fuzzer: %s %s\n", what, detail.c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t whole_size) {
  const jet::fuzz::FuzzInput given = jet::fuzz::split_fuzz_input(bytes, whole_size);
  const std::uint8_t* data = given.data;
  const std::size_t size = given.size;
  jet::MemoryEnv env;
  const jet::Bytes input(data, data + size);
  env.put(kSource, input);
  jet::CompactRequest request;
  request.source_path = kSource;
  request.destination_path = kDestination;
  request.env = &env;
  request.source_password = given.password;
  // Both ways the window and the command line compact: keeping the source's
  // order, and converting to the General order. One byte of the input picks,
  // so each input always takes the same path.
  if (size > 0 && (data[size / 2] & 1) != 0) request.destination_language = 0x0409;
  request.key_memory = 16 * 1024;       // spill keys to the scratch file early
  request.read_ahead_from_rows = 1000;  // and read ahead on a second thread
  try {
    jet::compact_database(request);
  } catch (const jet::Error& e) {
    // The closing check of the copy fails with this description: the engine
    // accepted the input and wrote a broken file.
    if (e.description().rfind("The compacted database", 0) == 0) fault("wrote a broken copy:", e.description());
    if (env.file_exists(kDestination)) fault("left a destination behind after", e.description());
  }
  if (env.contents(kSource) != input) fault("changed its source");
  return 0;
}
