// The driver of the compactor: runs its parts in order and owns the
// threads that overlap them. WRITE_FORMAT.md ("The compactor's parts")
// shows the path a page takes through them.
#include "engine/write/database_rewriter.h"

#include <future>
#include <memory>

#include "engine/error.h"
#include "engine/format/damaged.h"
#include "engine/read/database.h"
#include "engine/write/header_writer.h"
#include "engine/write/key_pipeline.h"
#include "engine/write/order_conversion.h"
#include "engine/write/page_sink.h"
#include "engine/write/rewrite_context.h"
#include "engine/write/rewrite_plan.h"
#include "engine/write/rewrite_source.h"
#include "engine/write/row_copier.h"
#include "engine/write/row_scan.h"

namespace jet::write {

namespace {

// The cipher the copy's pages are written under.
std::shared_ptr<const crypt::PageCipher> copy_cipher(const HeaderInfo& source, const RewriteOptions& options) {
  if (options.page_cipher) return options.page_cipher;
  if (!source.encrypted()) return nullptr;
  if (source.format->ace) internal_error("an encrypted copy without its key");
  return crypt::jet_rc4_cipher(source.database_key);
}

class Rewriter {
 public:
  Rewriter(RewriteSource& db, WritableFile& out, const RewriteOptions& options)
      : db_(db),
        jet_format_(*db.header().format),
        format_(WriteFormat::for_version(jet_format_.version == JetVersion::Jet4)),
        options_(options),
        sink_(out, format_, copy_cipher(db.header(), options), options.progress, db.page_count()),
        index_keys_(options.scratch_env, options.scratch_path, options.key_memory),
        order_keys_(options.scratch_env, options.scratch_path + kOrderScratchSuffix, options.key_memory),
        conversion_(jet_format_, db.header().code_page),
        plan_(format_),
        ctx_{db_, jet_format_, format_, options_, sink_, plan_, index_keys_, order_keys_} {}

  RewriteResult run() {
    plan_.plan_tables(db_, jet_format_, options_.convert_to_general ? &conversion_ : nullptr);
    plan_.plan_map_slots();
    write_tables();
    plan_.write_usage_maps(sink_);
    for (TablePlan& plan : plan_.tables()) plan_.write_definition(plan, sink_);
    if (plan_.has_spare_pages()) internal_error("pages skipped for definitions were not used");
    const std::uint32_t page_count = plan_.page_count();
    Bytes header = build_header_page(
        options_.convert_to_general ? in_general_order(jet_format_, db_.header()) : db_.header(),
        options_.new_password);
    if (options_.office_encryption) crypt::write_office_encryption(*options_.office_encryption, header);
    sink_.write(0, header);
    sink_.write(1, build_free_page_map_page(format_, db_.page_one(), page_count));
    sink_.flush();
    if (sink_.pages_written() != page_count) internal_error("a page was left unwritten");
    result_.page_count = page_count;
    if (options_.progress) options_.progress(page_count, page_count);
    return result_;
  }

 private:
  // Each table is scanned (the first pass: places, sizes, write order), then
  // copied (the second pass: rows, long values, keys, index trees). Only the
  // per-row table and the keys stay in memory, never the rows.
  //
  // After a large table's first pass, the next table's first pass runs on
  // a second thread: with a second handle on the source, alongside this
  // table's second pass; without, once this table no longer reads the
  // source (while its indexes are laid out, which only writes).
  void write_tables() {
    std::vector<TablePlan>& plans = plan_.tables();
    std::future<RowTable> next;
    for (std::size_t i = 0; i < plans.size(); ++i) {
      TablePlan& plan = plans[i];
      const RowTable rows = next.valid() ? next.get() : scan_rows(ctx_, plan, db_);
      const bool scan_ahead = i + 1 < plans.size() && rows.order.size() >= options_.read_ahead_from_rows;
      RewriteSource* second = scan_ahead ? second_source() : nullptr;
      const auto scan_next = [&](RewriteSource& source) {
        next = std::async(std::launch::async, [this, &plans, i, &source] { return scan_rows(ctx_, plans[i + 1], source); });
      };
      if (second) scan_next(*second);
      try {
        copy_rows(ctx_, plan, rows, [&] {
          if (scan_ahead && !second) scan_next(db_);
        });
      } catch (const DamagedData& e) {
        throw Error(errc::kCannotOpenDatabase, "Damaged row in table " + plan.def.name + ": " + e.what() + ".");
      }
      result_.rows.emplace_back(plan.def.name, rows.order.size());
    }
  }

  // A second handle on the source for scanning ahead, opened the first time
  // a table is large enough; none if the source has none or it cannot be
  // opened.
  RewriteSource* second_source() {
    if (!second_tried_) {
      second_tried_ = true;
      try {
        second_ = db_.open_another();
      } catch (const Error&) {
        second_.reset();  // scanning ahead waits for the source instead
      }
    }
    return second_.get();
  }

  RewriteSource& db_;
  std::unique_ptr<RewriteSource> second_;
  bool second_tried_ = false;
  const JetFormat& jet_format_;
  WriteFormat format_;
  const RewriteOptions& options_;
  PageSink sink_;
  KeyPipeline index_keys_;
  KeyPipeline order_keys_;
  GeneralOrderConversion conversion_;
  RewritePlan plan_;
  RewriteContext ctx_;
  RewriteResult result_;
};

}  // namespace

RewriteResult rewrite_database(RewriteSource& source, WritableFile& out, const RewriteOptions& options) {
  return Rewriter(source, out, options).run();
}

RewriteResult rewrite_database(Database& source, WritableFile& out, const RewriteOptions& options) {
  DatabaseSource adapter(source);
  return rewrite_database(adapter, out, options);
}

}  // namespace jet::write
