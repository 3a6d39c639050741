#pragma once
// The header page of a new database (unmasked, as the reader's
// HeaderInfo::unmasked holds it): magic, version, code page 1252, no
// encryption, no password, the General sort order and (Jet 4) the creation
// date. The writer's build_header_page masks it for storing and sets a
// password if one is asked for.
#include "engine/format/header_page.h"

namespace jet::build {

HeaderInfo new_header(JetVersion version, double creation_date);

}  // namespace jet::build
