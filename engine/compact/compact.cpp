#include "engine/compact/compact.h"

#include "engine/error.h"

namespace jet {

CompactResult compact_database(const CompactRequest&) {
  // Fails closed until the writer lands: never report success without compacting.
  throw Error(errc::kNotBuiltYet, "The database engine cannot compact databases yet.");
}

}  // namespace jet
