#include "tools/quillmar-db/maintain_report.h"

#include <algorithm>

#include "tools/quillmar-db/commands.h"

namespace quillmar_db {
namespace {

const char* status_word(MaintainStatus status) {
  switch (status) {
    case MaintainStatus::Compacted: return "compacted";
    case MaintainStatus::Repaired: return "repaired";
    case MaintainStatus::NotRepaired: return "not-repaired";
    case MaintainStatus::SkippedInUse: return "skipped-in-use";
    case MaintainStatus::SkippedPassword: return "skipped-password";
    case MaintainStatus::Failed: return "failed";
    case MaintainStatus::WouldCompact: return "would-compact";
  }
  return "failed";
}

std::string size_change(const MaintainOutcome& o) {
  const long long saved = static_cast<long long>(o.bytes_before) - static_cast<long long>(o.bytes_after);
  return std::to_string(o.bytes_before) + " -> " + std::to_string(o.bytes_after) + " bytes (" +
         (saved >= 0 ? "saved " + std::to_string(saved) : "grew by " + std::to_string(-saved)) + ")";
}

std::string losses_word(std::size_t n) { return std::to_string(n) + (n == 1 ? " loss" : " losses"); }

}  // namespace

void print_outcome_text(std::FILE* out, const MaintainOutcome& o) {
  const char* path = o.path.c_str();
  switch (o.status) {
    case MaintainStatus::Compacted:
      std::fprintf(out, "compacted: %s: %s\n", path, size_change(o).c_str());
      break;
    case MaintainStatus::Repaired:
      // Loud: rows are gone from the working copy; the backup still has them.
      std::fprintf(out, "REPAIRED WITH %s: %s: %s; listed in its table MSysCompactError; the file as it was is in %s\n",
                   losses_word(o.losses.size()).c_str(), path, size_change(o).c_str(), o.backup.c_str());
      break;
    case MaintainStatus::NotRepaired:
      std::fprintf(out, "NEEDS REPAIR, left as it was (--no-repair): %s: compacting it would cost %s\n", path,
                   losses_word(o.losses.size()).c_str());
      break;
    case MaintainStatus::SkippedInUse:
    case MaintainStatus::SkippedPassword:
      std::fprintf(out, "skipped: %s: %s\n", path, o.error ? o.error->description().c_str() : "");
      break;
    case MaintainStatus::Failed:
      std::fprintf(out, "FAILED, left as it was: %s: error %d: %s (%s)\n", path, o.error ? o.error->number() : 0,
                   o.error ? o.error->description().c_str() : "", o.error ? o.error->source().c_str() : "");
      break;
    case MaintainStatus::WouldCompact:
      std::fprintf(out, "would compact: %s (%llu bytes), backup in %s\n", path,
                   static_cast<unsigned long long>(o.bytes_before), o.backup.c_str());
      break;
  }
  for (const jet::CompactLoss& loss : o.losses) {
    std::fprintf(out, "  loss: %s (error %d, table %s)\n", loss.description.c_str(), static_cast<int>(loss.code),
                 loss.table.c_str());
  }
  for (const std::string& note : o.notes) std::fprintf(out, "  note: %s\n", note.c_str());
}

std::string json_string(const std::string& text) {
  std::string s = "\"";
  for (const char c : text) {
    switch (c) {
      case '"': s += "\\\""; break;
      case '\\': s += "\\\\"; break;
      case '\n': s += "\\n"; break;
      case '\r': s += "\\r"; break;
      case '\t': s += "\\t"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(static_cast<unsigned char>(c)));
          s += escaped;
        } else {
          s += c;
        }
    }
  }
  return s + "\"";
}

void print_outcome_json(std::FILE* out, const MaintainOutcome& o) {
  std::string line = "{\"path\":" + json_string(o.path) + ",\"status\":\"" + status_word(o.status) + "\"" +
                     ",\"bytes_before\":" + std::to_string(o.bytes_before) +
                     ",\"bytes_after\":" + std::to_string(o.bytes_after);
  if (!o.backup.empty()) line += ",\"backup\":" + json_string(o.backup);
  line += ",\"losses\":[";
  for (std::size_t i = 0; i < o.losses.size(); ++i) {
    const jet::CompactLoss& loss = o.losses[i];
    line += (i > 0 ? "," : "") + std::string("{\"code\":") + std::to_string(loss.code) +
            ",\"table\":" + json_string(loss.table) + ",\"description\":" + json_string(loss.description) + "}";
  }
  line += "]";
  if (o.error) {
    line += ",\"error\":{\"number\":" + std::to_string(o.error->number()) +
            ",\"description\":" + json_string(o.error->description()) +
            ",\"source\":" + json_string(o.error->source()) + "}";
  }
  line += ",\"notes\":[";
  for (std::size_t i = 0; i < o.notes.size(); ++i) line += (i > 0 ? "," : "") + json_string(o.notes[i]);
  line += "]}\n";
  std::fputs(line.c_str(), out);
}

void print_summary(std::FILE* out, const std::vector<MaintainOutcome>& outcomes) {
  const auto count = [&](auto... statuses) {
    return std::count_if(outcomes.begin(), outcomes.end(),
                         [&](const MaintainOutcome& o) { return ((o.status == statuses) || ...); });
  };
  unsigned long long before = 0;
  unsigned long long after = 0;
  for (const MaintainOutcome& o : outcomes) {
    if (o.status == MaintainStatus::Compacted || o.status == MaintainStatus::Repaired) {
      before += o.bytes_before;
      after += o.bytes_after;
    }
  }
  std::fprintf(out,
               "Summary: %zu database%s: %ld compacted (%ld of them repaired), %ld skipped, %ld not repaired, "
               "%ld failed, %ld to do (dry run); %llu -> %llu bytes.\n",
               outcomes.size(), outcomes.size() == 1 ? "" : "s",
               static_cast<long>(count(MaintainStatus::Compacted, MaintainStatus::Repaired)),
               static_cast<long>(count(MaintainStatus::Repaired)),
               static_cast<long>(count(MaintainStatus::SkippedInUse, MaintainStatus::SkippedPassword)),
               static_cast<long>(count(MaintainStatus::NotRepaired)), static_cast<long>(count(MaintainStatus::Failed)),
               static_cast<long>(count(MaintainStatus::WouldCompact)), before, after);
}

int maintain_exit_status(const std::vector<MaintainOutcome>& outcomes) {
  int status = kExitOk;
  for (const MaintainOutcome& o : outcomes) {
    if (o.status == MaintainStatus::Failed) return kExitTrouble;
    if (o.status != MaintainStatus::Compacted && o.status != MaintainStatus::WouldCompact) status = kExitFindings;
  }
  return status;
}

}  // namespace quillmar_db
