#include "engine/write/index_layout.h"

#include <memory>
#include <span>

#include "engine/index/index_builder.h"
#include "engine/write/index_feed.h"
#include "engine/write/key_pipeline.h"
#include "engine/write/page_sink.h"

namespace jet::write {

void lay_out_indexes(RewriteContext& ctx, TablePlan& plan, std::vector<IndexCopy>& indexes, bool threaded) {
  plan.update.index_row_counts.assign(plan.layout.real_index_count, 0);
  plan.update.index_roots.assign(plan.layout.real_index_count, 0);
  std::vector<IndexKeySource> sources;
  for (IndexCopy& index : indexes) sources.push_back({&index.entries, &index.runs});

  std::unique_ptr<index::IndexTreeWriter> tree;
  std::size_t building = 0;  // the index whose tree is being built; those before are done
  std::uint32_t listed = 0;
  const auto start = [&] {
    MapSlot& map = ctx.plan.slot(plan, 2 + building);
    tree = std::make_unique<index::IndexTreeWriter>(ctx.format.jet4 ? index::Format::Jet4 : index::Format::Jet3,
                                                    plan.id, [&ctx] { return ctx.plan.allocate(); },
                                                    [&map, &ctx](index::BuiltPage p) {
                                                      map.pages.insert(p.number);
                                                      ctx.sink.write(p.number, std::move(p.bytes));
                                                    });
    listed = 0;
  };
  // Finishes the trees before `index`, empty ones included.
  const auto finish_before = [&](std::size_t index) {
    for (; building < index; ++building) {
      if (!tree) start();
      plan.update.index_roots[building] = tree->finish().root;
      plan.update.index_row_counts[building] = listed;
      tree.reset();
    }
  };
  feed_index_entries(ctx.index_keys.spill(), sources, threaded && !indexes.empty(),
                     [&](std::size_t index, std::span<const std::uint8_t> key, std::uint64_t tag) {
                       finish_before(index);
                       if (!tree) start();
                       tree->add(key, place_of_tag(tag));
                       ++listed;
                     });
  finish_before(indexes.size());
}

}  // namespace jet::write
