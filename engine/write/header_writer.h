#pragma once
// The two pages every database starts with: the header page (format,
// code page, collating order, password, encryption key; carried over from
// the source) and page 1, whose first row is the database-wide map of free
// pages.
#include <optional>
#include <string>

#include "engine/format/header_page.h"
#include "engine/write/write_format.h"

namespace jet::write {

// The header page as stored (masked), from the source's unmasked header.
// A new password replaces the old one; none keeps it.
Bytes build_header_page(const HeaderInfo& source, const std::optional<std::u16string>& new_password);

// Page 1 with its free-page map: no page inside the file is free; pages the
// map covers beyond the file's end are (that is where the file grows).
// Rows after the first are copied from the source's page 1.
Bytes build_free_page_map_page(const WriteFormat& format, const Bytes& source_page1, std::uint32_t page_count);

// A page 1 as a new database has it before its map is filled in: owned by
// page 1 itself, two empty map rows. The source page for a new file, and for
// a copy whose source's page 1 is damaged.
Bytes blank_free_page_map_page(const WriteFormat& format);

// Whether `page` can serve as the source page 1 of build_free_page_map_page.
bool is_free_page_map_page(const WriteFormat& format, const Bytes& page);

}  // namespace jet::write
