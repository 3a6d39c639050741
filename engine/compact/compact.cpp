#include "engine/compact/compact.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <filesystem>
#include <future>
#include <map>
#include <optional>
#include <thread>

#include "engine/check/check.h"
#include "engine/crypt/office_cipher.h"
#include "engine/compact/source_hold.h"
#include "engine/error.h"
#include "engine/format/damaged.h"
#include "engine/file/env.h"
#include "engine/format/text_codec.h"
#include "engine/index/learned_orders.h"
#include "engine/model/system_catalog.h"
#include "engine/read/database.h"
#include "engine/salvage/salvage_source.h"
#include "engine/write/code_page_conversion.h"
#include "engine/write/database_rewriter.h"
#include "engine/write/unkeyed_rows.h"

namespace jet {

namespace {

constexpr std::uint16_t kGeneralOrder = 0x0409;
constexpr std::uint16_t kGeneralCodePage = 1252;  // the General order's code page (Jet 3 text)

std::string folder_of(const std::string& path) {
  const std::filesystem::path parent = std::filesystem::path(path).parent_path();
  return parent.empty() ? std::string(".") : parent.string();
}

void check_text_fits_general(Database& db);

// What the new file's collating order is, as the rewriter wants it. A
// source keeps its own order unless the General order is asked for; text
// keys then keep what the source stores wherever it can. Converting is
// only to the General order, the one our key encoder knows.
void choose_collating_order(Database& db, const std::optional<std::uint16_t>& wanted,
                            write::RewriteOptions& rewrite) {
  const auto source_order = static_cast<std::uint16_t>(db.header().sort_order & 0xFFFF);
  rewrite.keep_stored_text_keys = true;
  if (!wanted || *wanted == source_order) return;
  if (*wanted != kGeneralOrder) {
    throw Error(errc::kNotBuiltYet, "Converting the collating order to language " + std::to_string(*wanted) +
                                        " is not supported; only the General order (0x0409) is.");
  }
  rewrite.convert_to_general = true;
  check_text_fits_general(db);
}

// A Jet 3 database keeps its text in the code page of its collating order;
// the General order's is 1252. Converting is refused, before anything is
// written, when some name or text has a character 1252 cannot hold: a copy
// with '?' in place of letters would lose them for good.
void check_text_fits_general(Database& db) {
  if (db.version() != JetVersion::Jet3) return;
  const std::uint16_t database_page = db.header().code_page;
  std::map<std::uint16_t, write::CodePageConversion> conversions;
  const auto conversion = [&](std::uint16_t from) -> const write::CodePageConversion& {
    auto it = conversions.find(from);
    if (it == conversions.end()) it = conversions.emplace(from, write::CodePageConversion(from, kGeneralCodePage)).first;
    return it->second;
  };
  const auto refuse = [](const std::string& where, const std::u16string& text) {
    throw Error(errc::kNotBuiltYet, "Cannot convert this database to the General order: " + where + " holds \"" +
                                        utf16_to_utf8(text) +
                                        "\", which code page 1252 cannot hold. Keep its own order instead.");
  };
  const auto& names = conversion(database_page);
  for (const TableDef& t : db.tables()) {
    // Names stay as stored, so they must mean the same in both pages.
    const auto same_bytes = [&](const std::string& name) {
      const std::u16string text = utf8_to_utf16(name);
      return names.holds(text) && encode_code_page(text, database_page) == encode_code_page(text, kGeneralCodePage);
    };
    if (!same_bytes(t.name)) refuse("the name of table " + t.name, utf8_to_utf16(t.name));
    for (const Column& c : t.columns) {
      if (!same_bytes(c.name)) refuse("the name of column " + c.name + " of table " + t.name, utf8_to_utf16(c.name));
    }
    for (const Index& i : t.indexes) {
      if (!same_bytes(i.name)) refuse("the name of index " + i.name + " of table " + t.name, utf8_to_utf16(i.name));
    }
    std::vector<std::size_t> text_columns;
    for (std::size_t k = 0; k < t.columns.size(); ++k) {
      if (t.columns[k].type == ColumnType::Text || t.columns[k].type == ColumnType::Memo) text_columns.push_back(k);
    }
    if (text_columns.empty()) continue;
    db.scan_rows(t, [&](RowPointer, const Row& row) {
      for (const std::size_t k : text_columns) {
        const Column& c = t.columns[k];
        if (k >= row.size() || row[k].is_null) continue;
        if (!conversion(c.code_page != 0 ? c.code_page : database_page).holds(row[k].text)) {
          refuse("column " + c.name + " of table " + t.name, row[k].text);
        }
      }
    });
  }
}

// Reads a whole file; throws the file layer's error if any part cannot be read.
void raise_read_errors(Env& env, const std::string& path) {
  auto file = env.open_readable(path);
  const std::uint64_t size = file->size();
  Bytes buffer(std::size_t{1} << 20);
  for (std::uint64_t at = 0; at < size; at += buffer.size()) {
    file->read(at, static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), size - at)), buffer.data());
  }
}

// Reads the new file back as a user would and checks it holds what was written.
void verify_copy(Env& env, const std::string& path, const std::optional<std::string>& password,
                 const crypt::Sealed* sealed, const write::RewriteResult& written) {
  OpenOptions options;
  options.password = password;
  options.env = &env;
  options.written_under = sealed;
  auto db = Database::open(path, options);
  if (db->page_count() != written.page_count ||
      db->file_size() != std::uint64_t{written.page_count} * db->page_size()) {
    throw Error(errc::kCannotOpenDatabase, "The compacted database has an unexpected size.");
  }
  // The check's pass over the file counts every table's live rows as well.
  const CheckReport report = check_database(*db);
  std::map<std::string, std::uint64_t> expected(written.rows.begin(), written.rows.end());
  std::map<std::string, std::uint32_t> stored;
  for (const TableDef& t : db->tables()) stored[t.name] = t.row_count;
  std::optional<std::string> failure;
  for (const auto& [name, rows] : report.live_rows) {
    const auto it = expected.find(name);
    if (!failure && (it == expected.end() || it->second != rows || stored[name] != rows)) {
      failure = "The compacted database does not hold the rows of table " + name + ".";
    }
  }
  if (!failure && report.live_rows.size() != expected.size()) failure = "The compacted database lost a table.";
  for (const Finding& f : report.findings) {
    if (failure || f.severity != Severity::Error) continue;
    failure = "The compacted database failed its integrity check" +
              (f.table.empty() ? std::string() : " in table " + f.table) + ": " + f.message;
  }
  if (!failure) return;
  // The check reports pages it could not read as damage; a disk that fails
  // is told apart by reading the whole file once more, and its error goes
  // up instead.
  raise_read_errors(env, path);
  throw Error(errc::kCannotOpenDatabase, *failure);
}

// A name beside the destination that no file has yet, nor with the suffix
// of the second scratch file.
std::string scratch_path_for(Env& env, const std::string& destination) {
  const auto taken = [&](const std::string& path) {
    return env.file_exists(path) || env.file_exists(path + write::kOrderScratchSuffix);
  };
  std::string path = destination + ".keys";
  for (int i = 1; taken(path); ++i) path = destination + ".keys" + std::to_string(i);
  return path;
}

// Days since 1899-12-30, the way Jet stores dates (UTC).
double now_as_jet_date() {
  const auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
  const double days = std::chrono::duration<double>(since_epoch).count() / 86400.0;
  return days + 25569.0;  // 1970-01-01 is day 25569
}

// Whether the catalog's name column can key `name` in its order.
bool catalog_keys(const TableDef& catalog, const index::LearnedOrders& learned, const std::string& name) {
  const Column* column = catalog.find_column("Name");
  if (column == nullptr) return false;
  if (column->collation == kGeneralOrder || column->collation == 0) return true;
  return learned.keys_like_general(column->collation, utf8_to_utf16(name));
}

// An encrypted ACE source gives an encrypted copy: the same kind and
// parameters of encryption, fresh salts, the source's password unless the
// request names another.
const std::optional<std::string>& copy_password(const CompactRequest& request) {
  return request.destination_password ? request.destination_password : request.source_password;
}

// The copy's encryption is made while the source is unlocked: each takes
// its password through the key derivation's rounds (100 000 hashes for
// Access 2010's default), and each has a core to itself before the source
// is read. No future when the source is not an encrypted ACE file, or
// there is no password to seal the copy with (seal_copy refuses that
// once the source is open).
std::future<crypt::Sealed> start_sealing(Env& env, const CompactRequest& request) {
  const std::optional<std::string>& password = copy_password(request);
  if (!password || password->empty()) return {};
  try {
    HeaderSummary summary = Database::read_header(request.source_path, &env);
    if (!summary.office_encryption) return {};
    return std::async(std::launch::async, [info = std::move(*summary.office_encryption),
                                           key = summary.header.database_key, pw = utf8_to_utf16(*password)] {
      return crypt::reseal(info, pw, key);
    });
  } catch (...) {
    return {};  // opening the source tells what is wrong with it
  }
}

// Nothing of an encrypted copy reaches the disk decrypted, so index keys
// stay in memory instead of spilling to scratch files.
crypt::Sealed seal_copy(const Database& db, const CompactRequest& request, std::future<crypt::Sealed>& sealing,
                        write::RewriteOptions& rewrite) {
  const std::optional<std::string>& password = copy_password(request);
  if (!password || password->empty()) {
    throw Error(errc::kNotBuiltYet,
                "An encrypted ACE database is compacted keeping a password: a copy without one would hold "
                "its pages decrypted.");
  }
  crypt::Sealed sealed = sealing.valid()
                             ? sealing.get()
                             : crypt::reseal(*db.office_encryption(), utf8_to_utf16(*password), db.header().database_key);
  rewrite.office_encryption = sealed.info;
  rewrite.page_cipher = sealed.cipher;
  rewrite.scratch_env = nullptr;
  return sealed;
}

CompactResult run(const CompactRequest& request, Env& env, const salvage::SalvageOptions& salvage) {
  if (request.source_path == request.destination_path || env.file_exists(request.destination_path)) {
    throw Error(errc::kDatabaseAlreadyExists, "Database already exists.");
  }
  // A second hold of ours on the same file would find the first one's lock.
  std::optional<SourceHold> own_hold;
  SourceHold* held = request.source_hold;
  if (held != nullptr) {
    held->test_again();
  } else {
    held = &own_hold.emplace(env, request.source_path);
  }
  SourceHold& hold = *held;

  std::future<crypt::Sealed> sealing = start_sealing(env, request);
  OpenOptions options;
  options.password = request.source_password;
  options.env = &env;
  auto db = Database::open(request.source_path, options);

  write::RewriteOptions rewrite;
  choose_collating_order(*db, request.destination_language, rewrite);
  // The repairing pass keys every row it can itself: a stored key is only
  // known to be its row's while the rows are sound, and a damaged row, or a
  // catalog row put back, could otherwise share one key with another row.
  // Text it cannot key (names in the order's own script) keeps the stored
  // key of a row the repair left as it was, once proven that row's.
  if (salvage.check_values) {
    rewrite.keep_stored_text_keys = false;
    rewrite.stored_keys_where_unformed = true;
  }
  rewrite.progress = request.progress;
  // Keys of large tables are sorted in runs on scratch files beside the new
  // file (removed when the copy is written).
  rewrite.scratch_env = &env;
  rewrite.scratch_path = scratch_path_for(env, request.destination_path);
  std::optional<crypt::Sealed> sealed;
  if (db->office_encryption()) {
    sealed = seal_copy(*db, request, sealing, rewrite);
  } else if (request.destination_password) {
    rewrite.new_password = utf8_to_utf16(*request.destination_password);
  }
  if (request.key_memory) rewrite.key_memory = *request.key_memory;
  if (request.read_ahead_from_rows) rewrite.read_ahead_from_rows = *request.read_ahead_from_rows;

  CompactResult result;
  result.pages_before = db->page_count();
  result.bytes_before = db->file_size();

  // The copy is made from what the salvage reader could read; on a sound
  // file that is every row, and the log stays empty.
  salvage::SalvagedDatabase salvaged = salvage::salvage_database(*db, salvage);
  // Keys in the source's own order other than General, for rows the copy
  // must key itself (a repair's new catalog rows, an index rebuilt): as far
  // as the source's stored entries show them, read over the tables the
  // salvage reader found (a damaged catalog may hide them from the strict
  // reader).
  index::LearnedOrders learned;
  if (!rewrite.convert_to_general) {
    std::vector<TableDef> found;
    for (const salvage::SalvagedTable& t : salvaged.tables) found.push_back(t.def);
    learned = index::LearnedOrders::learn(*db, found);
    salvage::rename_unkeyable_recovered_tables(salvaged, [&](const std::string& name) {
      return catalog_keys(salvaged.tables.front().def, learned, name);
    });
  }
  rewrite.learned_orders = &learned;
  salvage::SalvageSource source(*db, std::move(salvaged), now_as_jet_date());
  for (const salvage::Loss& loss : source.losses()) {
    result.losses.push_back(CompactLoss{loss.code, loss.table, loss.description});
  }

  auto out = env.create_exclusive(request.destination_path);
  try {
    const write::RewriteResult written = write::rewrite_database(source, *out, rewrite);
    // The new file goes to disk (file, then folder) while it is read back
    // and checked: the check reads what was written, whether or not it has
    // reached the disk yet, and the call succeeds only when both have.
    std::exception_ptr flush_failure;
    std::thread flush([&] {
      try {
        out->sync();
        out->close();
        env.sync_directory(folder_of(request.destination_path));
      } catch (...) {
        flush_failure = std::current_exception();
      }
    });
    std::exception_ptr check_failure;
    try {
      verify_copy(env, request.destination_path, copy_password(request), sealed ? &*sealed : nullptr, written);
    } catch (...) {
      check_failure = std::current_exception();
    }
    flush.join();
    out.reset();
    if (flush_failure) std::rethrow_exception(flush_failure);
    if (check_failure) std::rethrow_exception(check_failure);
    // Whoever opened the source while it was read makes the copy stale.
    hold.test_again();
    result.pages_after = written.page_count;
    result.bytes_after = std::uint64_t{written.page_count} * db->page_size();
  } catch (...) {
    out.reset();
    try {
      env.remove(request.destination_path);
      env.sync_directory(folder_of(request.destination_path));
    } catch (...) {
      // The original failure is the one to report.
    }
    throw;
  }
  return result;
}

// The repairing pass. Rows that an index cannot key in the file's own
// order, and whose stored entries cannot stand in, are taken out of their
// table (into its recovery table) and the copy is made again: one index
// costs those rows their place in the table, not the database its repair.
// The catalog's rows cannot be taken out; nor is any index twice.
CompactResult repair(const CompactRequest& request, Env& env) {
  constexpr std::size_t kMostIndexes = 16;
  salvage::SalvageOptions options;
  for (;;) {
    try {
      return run(request, env, options);
    } catch (const write::UnkeyedRows& e) {
      const bool again = std::any_of(options.unkeyed.begin(), options.unkeyed.end(), [&](const auto& u) {
        return u.table == e.table() && u.index == e.index();
      });
      if (e.table() == system_catalog::kCatalogPage || again || options.unkeyed.size() >= kMostIndexes) throw;
      options.unkeyed.push_back(salvage::UnkeyedRowsOfTable{e.table(), e.index(), e.why(), e.rows()});
    }
  }
}

}  // namespace

CompactResult compact_database(const CompactRequest& request) {
  Env& env = request.env ? *request.env : default_env();
  try {
    // First trusting the values and keys to be sound, as the copy reads
    // every value and forms every key anyway and is checked; a copy that
    // fails on damage is made again by a reader that looks for it first.
    salvage::SalvageOptions quick;
    quick.check_values = false;
    try {
      return run(request, env, quick);
    } catch (const write::UnreadableStoredIndex&) {
      // a damaged index tree where its entries had to stand in
    } catch (const Error& e) {
      if (e.number() != errc::kCannotOpenDatabase) throw;
    } catch (const DamagedData&) {
    }
    return repair(request, env);
  } catch (const Error&) {
    throw;
  } catch (const std::exception& e) {
    throw Error(errc::kCannotOpenDatabase, std::string("Compacting failed: ") + e.what());
  }
}

}  // namespace jet
