#pragma once
// The header page of a new Jet 4 database (unmasked, as the reader's
// HeaderInfo::unmasked holds it): magic, version, code page 1252, no
// encryption, no password, the General sort order and the creation date.
// The writer's build_header_page masks it for storing.
#include "engine/format/header_page.h"

namespace jet::build {

HeaderInfo new_jet4_header(double creation_date);

}  // namespace jet::build
