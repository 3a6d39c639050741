#pragma once
// The salvaged view of a database as the rewriter reads it: only the rows
// the salvage reader kept, rows with unreadable long values rebuilt with
// those values NULL, and the tables a repair adds: `<table>_Recovered` for
// rows set aside, and MSysCompactError listing every loss, each with its
// catalog row. Added tables and rebuilt rows live in memory under places
// past the end of the source file, where no real row can be.
#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "engine/salvage/salvage_reader.h"
#include "engine/write/rewrite_source.h"

namespace jet {
class Database;
}

namespace jet::salvage {

inline constexpr const char* kLogTableName = "MSysCompactError";

class SalvageSource : public write::RewriteSource {
 public:
  // `now` is the creation date of the added tables (days since 1899-12-30).
  SalvageSource(Database& db, SalvagedDatabase salvaged, double now);
  ~SalvageSource() override;

  const std::vector<Loss>& losses() const { return view_->log.entries(); }

  const HeaderInfo& header() override;
  std::uint32_t page_count() override;
  Bytes page_one() override;
  std::vector<TableDef> tables() override;
  void scan_raw_rows(const TableDef& table,
                     const std::function<void(RowPointer, std::span<const std::uint8_t>)>& visit) override;
  std::optional<Bytes> read_row(RowPointer where) override;
  Bytes read_long_value(std::span<const std::uint8_t> field) override;
  // Rows rebuilt with a long value made NULL, and the rows the repair
  // added (at places past the file's end), live in memory.
  RowOrigin row_origin(RowPointer where) override;
  Bytes read_page(PageNumber page) override;
  // A handle on its own copy of the file that serves the same view, for a
  // second thread.
  std::unique_ptr<write::RewriteSource> open_another() override;
  void release_rows(const TableDef& table) override;

 private:
  // What the rewriter is served besides the source's own rows; made once,
  // then only read, and shared with the handles of open_another(). A
  // table's list of rows is emptied once its first pass has read it (the
  // lists are most of the memory a large file's repair view takes); the
  // map itself never changes, so a handle scanning another table at the
  // same time is not disturbed.
  struct View {
    LossLog log;
    std::vector<TableDef> tables;
    mutable std::map<PageNumber, std::vector<RowPointer>> rows;  // by definition page
    std::map<RowPointer, Bytes> built;                   // rows held in memory
    std::map<std::uint32_t, Bytes> long_values;          // by the pointer their field holds
  };
  SalvageSource(std::unique_ptr<Database> sibling, std::shared_ptr<const View> view);

  // Stores a long value in memory and returns the field a row holds for it.
  Bytes keep_long_value(const Bytes& stored);
  RowPointer next_place();
  void build_view(SalvagedDatabase& salvaged, double now);
  struct NewCatalogRow {
    std::int32_t id;
    std::int32_t parent_id;
    std::string name;
    std::int16_t type;
    std::uint32_t flags;
    bool owned_by_engine;
  };
  void add_table(TableDef def, std::vector<RowPointer> rows, double now);
  void learn_catalog_owners(const SalvagedTable& catalog);
  void add_lost_standard_objects(const std::vector<CatalogObject>& kept, double now);
  // `access_flags`: the table is one of Access's own, its row gets these flags.
  void add_table_catalog_row(const TableDef& def, std::optional<std::uint32_t> access_flags, double now);
  void add_catalog_row(const NewCatalogRow& object, double now);
  void give_added_tables_permissions();
  Bytes build(const TableDef& table, const Row& values);

  std::unique_ptr<Database> owned_;  // a sibling's own handle
  Database& db_;
  std::shared_ptr<View> making_;     // while the constructor builds the view
  std::shared_ptr<const View> view_;
  PageNumber next_table_ = 0;                           // fake definition pages of added tables
  std::uint32_t next_row_ = 0;                          // places of rows held in memory
  PageNumber first_memory_page_ = 0;
  std::uint32_t next_long_value_ = 0;
  std::vector<Row> catalog_model_;  // a user table's catalog row: added tables get its permissions
  Bytes creator_owner_;             // Owner of the objects the database's creator made
  Bytes engine_owner_;              // Owner of the engine's own objects
  std::vector<std::int32_t> added_ids_;  // ids of the tables given a catalog row here
};

}  // namespace jet::salvage
