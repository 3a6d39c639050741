#pragma once
// How a copy is written (password, encryption, progress, scratch files and
// key memory, threads, collating order) and what came of it.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/crypt/encryption_info.h"
#include "engine/crypt/page_cipher.h"

namespace jet {
class Env;
}  // namespace jet

namespace jet::index {
class LearnedOrders;
}

namespace jet::write {

inline constexpr const char* kOrderScratchSuffix = ".order";

struct RewriteOptions {
  std::optional<std::u16string> new_password;  // none keeps the source's
  // An encrypted ACE copy: the encryption header its header page carries and
  // the cipher its pages go out under (crypt::reseal). Without, a Jet copy
  // is encrypted as its source is, and an encrypted ACE source is refused:
  // no page of it is ever written decrypted.
  std::optional<crypt::OfficeEncryption> office_encryption;
  std::shared_ptr<const crypt::PageCipher> page_cipher;
  std::function<void(std::uint64_t done, std::uint64_t total)> progress;
  // With scratch files, a table's index keys beyond `key_memory` bytes are
  // sorted in runs on them (created exclusively, removed at the end):
  // `scratch_path` for index keys, that path followed by
  // kOrderScratchSuffix for the primary keys that order the rows. Those
  // take half the budget; they may be gathered for the next table while
  // the index keys of one are still held. Without, all stay in memory.
  Env* scratch_env = nullptr;
  std::string scratch_path;
  std::size_t key_memory = std::size_t{16} << 20;
  // Tables with at least this many rows are copied by two threads: one
  // reads, decodes and keys rows ahead of the other, which writes them.
  std::size_t read_ahead_from_rows = 4096;
  // Where an index holds text, each row the source's stored index lists
  // once keeps the key stored for it; other rows get keys we form. Text
  // keys depend on the collating order, and the ones Access wrote are right
  // by definition. Needs a source with stored indexes (compaction).
  bool keep_stored_text_keys = false;
  // Where the encoder cannot key a row's text (an order known only as far
  // as the source's entries show it), the row takes the key the source's
  // stored index holds for it, but only a key provably the row's: the entry
  // names the place the row was read from, in the source file's own bytes
  // (or rebuilt from them without a value the index keys), the index lists
  // the row once and no other row under the same key if unique, and the key
  // begins as ours does as far as ours can be formed. Other rows get keys
  // we form; a row without such a key refuses the copy (3251) naming the
  // index. For the repairing pass, which trusts no stored key it can do
  // without.
  bool stored_keys_where_unformed = false;
  // The new file gets the General collating order (0x0409): the header,
  // every text column and every text key. Text keys are then all formed.
  bool convert_to_general = false;
  // Orders other than General whose keys the source's own entries taught:
  // text in them is keyed as General where those entries show it is.
  const index::LearnedOrders* learned_orders = nullptr;
};

// The learned orders that apply: none once the copy converts to General.
inline const index::LearnedOrders* learned_orders(const RewriteOptions& options) {
  return options.convert_to_general ? nullptr : options.learned_orders;
}

struct RewriteResult {
  std::uint32_t page_count = 0;
  // Live rows written per table, by table name.
  std::vector<std::pair<std::string, std::uint64_t>> rows;
};

}  // namespace jet::write
