// quillmar-db compact: a compacted copy of a database in a new file.
#include <unistd.h>

#include "engine/compact/compact.h"
#include "engine/error.h"
#include "tools/quillmar-db/commands.h"
#include "tools/quillmar-db/progress_bar.h"

namespace quillmar_db {

namespace {
constexpr std::uint16_t kGeneralOrder = 0x0409;
constexpr int kNotSupported = 3251;
}  // namespace

int run_compact(const CommandContext& ctx, const std::string& source, const std::string& destination) {
  jet::CompactRequest request;
  request.source_path = source;
  request.destination_path = destination;
  request.source_password = ctx.password;  // the copy keeps the source's password
  if (ctx.to_general_order) request.destination_language = kGeneralOrder;
  ProgressBar bar(ctx.err, ctx.progress, "Compacting");
  request.progress = [&bar](std::uint64_t done, std::uint64_t total) { bar.update(done, total); };

  jet::CompactResult result;
  try {
    result = jet::compact_database(request);
  } catch (const jet::Error& e) {
    // Keys that cannot be kept can still be formed anew in the General order.
    if (e.number() != kNotSupported || ctx.to_general_order) throw;
    throw jet::Error(e.number(), e.description() + " To convert it, compact with --sort-order general.", e.source());
  }
  bar.finish();

  // What a repair could not carry over, as the copy's MSysCompactError
  // lists it.
  for (const jet::CompactLoss& loss : result.losses) {
    std::fprintf(ctx.err, "Repair: %s (error %d, table %s)\n", loss.description.c_str(), static_cast<int>(loss.code),
                 loss.table.c_str());
  }
  if (!result.losses.empty()) {
    std::fprintf(ctx.err, "Repaired: %zu %s recorded in table MSysCompactError of the new file.\n",
                 result.losses.size(), result.losses.size() == 1 ? "loss" : "losses");
  }

  std::int64_t saved = static_cast<std::int64_t>(result.bytes_before) -
                       static_cast<std::int64_t>(result.bytes_after);
  std::fprintf(ctx.out, "Pages: %u before, %u after; %s %lld bytes.\n", result.pages_before,
               result.pages_after, saved >= 0 ? "saved" : "grew by",
               static_cast<long long>(saved >= 0 ? saved : -saved));
  return kExitOk;
}

}  // namespace quillmar_db
