#include "engine/write/index_rebuild.h"

#include "engine/error.h"
#include "engine/index/index_builder.h"
#include "engine/index/index_key.h"

namespace jet::write {

namespace {
index::Format index_format(const WriteFormat& format) { return format.jet4 ? index::Format::Jet4 : index::Format::Jet3; }
}  // namespace

struct IndexKeys::Impl {
  index::IndexKeyEncoder encoder;
};

IndexKeys::IndexKeys(const WriteFormat& format, const TableDef& table, const IndexData& index,
                     const index::LearnedOrders* learned)
    : impl_(std::make_unique<Impl>(
          Impl{index::IndexKeyEncoder(table, index, index_format(format), std::nullopt, learned)})) {
  if (!impl_->encoder.unsupported_reason().empty()) {
    throw Error(errc::kNotBuiltYet, "Cannot rebuild an index of table " + table.name + ": " +
                                        impl_->encoder.unsupported_reason());
  }
}

IndexKeys::~IndexKeys() = default;
IndexKeys::IndexKeys(IndexKeys&&) noexcept = default;
IndexKeys& IndexKeys::operator=(IndexKeys&&) noexcept = default;

std::optional<Bytes> IndexKeys::key_for(const Row& row) const { return impl_->encoder.key_for(row); }
bool IndexKeys::key_into(const Row& row, Bytes& out) const { return impl_->encoder.key_into(row, out); }
void IndexKeys::formed_prefix_into(const Row& row, Bytes& out) const { impl_->encoder.formed_prefix_into(row, out); }

BuiltIndex build_index(const WriteFormat& format, std::uint32_t owner, const std::vector<IndexKeyEntry>& sorted,
                       const std::function<std::uint32_t()>& allocate_page) {
  std::vector<index::IndexEntry> entries;
  entries.reserve(sorted.size());
  for (const IndexKeyEntry& e : sorted) entries.push_back(index::IndexEntry{e.key, e.row, 0});
  index::BuiltIndex tree =
      index::build_index_tree(entries, index_format(format), owner, [&] { return allocate_page(); });
  BuiltIndex out;
  out.root = tree.root;
  for (index::BuiltPage& p : tree.pages) out.pages.push_back(FinishedPage{p.number, std::move(p.bytes)});
  return out;
}

}  // namespace jet::write
