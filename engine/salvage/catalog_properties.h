#pragma once
// A catalog row's property blob (LvProp) that reads but does not parse as
// properties is garbage to every reader: the outside ones refuse the
// table or the whole file over it. The copy gets none for that object
// (Access then applies its defaults), logged. The catalog is small, so
// this runs on the quick pass too, where values are otherwise not read.
#include "engine/model/schema.h"
#include "engine/salvage/loss_log.h"
#include "engine/salvage/salvage_reader.h"

namespace jet {
class Database;
}

namespace jet::salvage {

// Drops and logs the unparsable property blobs among the kept rows of
// `catalog` (MSysObjects), as read into `out`.
void drop_unparsable_properties(Database& db, const TableDef& catalog, SalvagedTable& out, LossLog& log);

}  // namespace jet::salvage
