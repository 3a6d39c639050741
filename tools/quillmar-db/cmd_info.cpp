// quillmar-db info: what kind of database a file is and what tables it holds.
// What the header tells (format, order, encryption) needs no password; the
// tables do.
#include <algorithm>
#include <set>

#include "engine/error.h"
#include "engine/read/database.h"
#include "tools/quillmar-db/commands.h"

namespace quillmar_db {
namespace {

std::string version_name(const jet::HeaderInfo& header) {
  switch (header.version_byte) {
    case 0: return "Jet 3 (Access 97)";
    case 1: return "Jet 4 (Access 2000-2003)";
    case 2: return "ACE 12 (Access 2007)";
    case 3: return "ACE 14 (Access 2010)";
    case 4: return "ACE 15 (Access 2013)";
    case 5: return "ACE 16 (Access 2016)";
    default: return "ACE 17 (Access 2019 and later)";
  }
}

std::string sort_order_name(std::uint32_t order) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%04X", order);
  // The language id is in the low 16 bits; 0x0409 is Access's "General" order.
  if ((order & 0xFFFF) == 0x0409) return std::string(hex) + " (General)";
  return hex;
}

std::string encryption_name(const jet::HeaderSummary& summary) {
  if (summary.office_encryption) return "yes, Office " + summary.office_encryption->describe();
  return summary.header.encrypted() ? "yes (RC4)" : "no";
}

void print_tables(std::FILE* out, jet::Database& db) {
  auto tables = db.tables();
  // The catalog's flags say which tables are the engine's own; the
  // definition's type byte says so only for the oldest of them.
  std::set<jet::PageNumber> system_pages;
  for (const auto& entry : db.catalog()) {
    if (entry.is_table() && entry.is_system()) system_pages.insert(entry.table_page());
  }
  std::size_t width = 5;
  for (const auto& t : tables) width = std::max(width, t.name.size());
  std::fprintf(out, "Tables:          %zu\n", tables.size());
  std::fprintf(out, "  %-*s  %10s  %s\n", static_cast<int>(width), "Table", "Rows", "Kind");
  for (const auto& t : tables) {
    bool system = t.is_system() || system_pages.count(t.definition_page) != 0;
    const char* kind = system ? "system" : "user";
    std::fprintf(out, "  %-*s  %10u  %s\n", static_cast<int>(width), t.name.c_str(), t.row_count, kind);
  }
}

}  // namespace

int run_info(const CommandContext& ctx, const std::string& path) {
  const jet::HeaderSummary summary = jet::Database::read_header(path);
  const jet::HeaderInfo& header = summary.header;
  std::FILE* out = ctx.out;
  std::fprintf(out, "File:            %s\n", path.c_str());
  std::fprintf(out, "Format:          %s\n", version_name(header).c_str());
  std::fprintf(out, "Page size:       %u bytes\n", header.format->page_size);
  std::fprintf(out, "Pages:           %llu\n", static_cast<unsigned long long>(summary.file_size / header.format->page_size));
  std::fprintf(out, "Code page:       %u\n", header.code_page);
  std::fprintf(out, "Collating order: %s\n", sort_order_name(header.sort_order).c_str());
  std::fprintf(out, "Encrypted:       %s\n", encryption_name(summary).c_str());
  // An encrypted ACE file's pages are its password; the header's password
  // field is not.
  const bool password = summary.office_encryption || header.has_password();
  std::fprintf(out, "Password:        %s\n", password ? "set" : "not set");
  if (summary.office_encryption && !ctx.password) {
    std::fprintf(out, "Tables:          (the password is needed: --password-file or --password-stdin)\n");
    return kExitOk;
  }

  jet::OpenOptions options;
  options.password = ctx.password;
  auto db = jet::Database::open(path, options);
  print_tables(out, *db);
  return kExitOk;
}

}  // namespace quillmar_db
