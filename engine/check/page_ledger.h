#pragma once
// Who owns each page of the file. Every page should have exactly one owner
// (the header, a table's definition, data, index or long values, the usage
// maps) or be free; a second, different claim on a page is damage.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/check/check.h"

namespace jet::check {

enum class Role : std::uint8_t {
  None,
  Header,       // page 0
  DatabaseMap,  // the database's own usage map page (page 1)
  MapRows,      // data pages holding the usage-map rows of tables
  MapPage,      // a page of a reference usage map
  Definition,   // a table definition page
  Data,         // a data page of a table
  Index,        // an index page of a table
  LongValue,    // a long-value (LVAL) page of a table
};

const char* role_name(Role role);

struct Owner {
  Role role = Role::None;
  int table = -1;  // index into the table list, or -1
  bool operator==(const Owner&) const = default;
};

// Claims of long-value pages made during one stretch of the walk, kept
// rather than made: stretches walked side by side must not see each
// other's claims, and a conflict must be reported where claiming in page
// order would have put it. Each claim keeps how many findings the stretch
// had made before it; a claim repeated straight away is counted, not kept
// again (a page often holds several values of consecutive rows).
class LongValueClaims {
 public:
  struct Entry {
    PageNumber page = 0;
    std::int32_t table = -1;
    std::uint32_t after_findings = 0;
    std::uint32_t times = 1;
  };

  void claim(PageNumber page, int table, const CheckReport& report);
  const std::vector<Entry>& entries() const { return entries_; }

 private:
  std::vector<Entry> entries_;
};

class PageLedger {
 public:
  PageLedger(std::uint32_t page_count, const std::vector<std::string>& table_names)
      : owners_(page_count), names_(table_names) {}

  // Records `owner` for `page`. A different earlier owner is reported as an
  // error in `report`; the same owner claiming again is fine. Claims of
  // different pages touch nothing in common, so they may be made from
  // several threads at once.
  void claim(PageNumber page, Owner owner, CheckReport& report);
  // Makes the claims of `log` and moves `findings` (the stretch's own, the
  // log's counts refer to them) to `report`, each claim after the findings
  // made before it, as if the stretch had claimed on the spot.
  void replay(const LongValueClaims& log, std::vector<Finding>&& findings, CheckReport& report);
  const Owner& owner(PageNumber page) const { return owners_[page]; }
  std::uint32_t page_count() const { return static_cast<std::uint32_t>(owners_.size()); }
  std::string describe(const Owner& owner) const;

 private:
  std::vector<Owner> owners_;
  const std::vector<std::string>& names_;
};

}  // namespace jet::check
