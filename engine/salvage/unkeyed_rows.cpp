#include "engine/salvage/unkeyed_rows.h"

#include <algorithm>
#include <set>
#include <string>

namespace jet::salvage {

void take_out_unkeyed_rows(const TableDef& t, bool system, const std::vector<UnkeyedRowsOfTable>& unkeyed,
                           SalvagedTable& out, LossLog& log) {
  for (const UnkeyedRowsOfTable& u : unkeyed) {
    if (u.table != t.definition_page) continue;
    const std::set<RowPointer> named(u.rows.begin(), u.rows.end());
    std::vector<RowPointer> taken;
    std::erase_if(out.rows, [&](RowPointer r) {
      if (named.count(r) == 0) return false;
      taken.push_back(r);
      return true;
    });
    const bool kept_aside = !(system || t.is_system());
    const std::string fate = kept_aside ? "it was put into table " + t.name + "_Recovered" : "it was left out";
    for (RowPointer r : taken) {
      log.add(kLossUnkeyed, t.name,
              "The row at page " + std::to_string(r.page) + ", slot " + std::to_string(r.row) + " of table " +
                  t.name + " has no key in index " + u.index +
                  " in the database's collating order, and its stored entry cannot stand in (" + u.why + "); " +
                  fate + ".",
              r);
      if (kept_aside) out.set_aside.push_back(r);
    }
    std::sort(out.set_aside.begin(), out.set_aside.end());
  }
}

}  // namespace jet::salvage
