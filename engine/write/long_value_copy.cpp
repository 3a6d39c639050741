#include "engine/write/long_value_copy.h"

#include <algorithm>
#include <vector>

#include "engine/write/page_sink.h"

namespace jet::write {

bool LongValueCopy::needed() const {
  return std::any_of(plan_.def.columns.begin(), plan_.def.columns.end(),
                     [](const Column& c) { return is_long_value(c.type); });
}

void LongValueCopy::write(std::span<std::uint8_t> raw, const RowBatch::LongValue& v) {
  const LongValueReference ref = writer_for(v.group).write(v.value);
  std::copy(ref.begin(), ref.end(), raw.begin() + static_cast<std::ptrdiff_t>(v.at));
}

void LongValueCopy::finish() {
  const auto& mapped = plan_.layout.column_map_columns;
  for (auto& [group, writer] : writers_) {
    for (FinishedPage& p : writer.finish()) ctx_.sink.write(p.number, std::move(p.bytes));
    if (group < 0) continue;
    const std::vector<std::uint32_t>& pages = writer.pages();
    for (std::size_t k = 0; k < mapped.size(); ++k) {
      if (mapped[k] != group) continue;
      ctx_.plan.slot(plan_, RewritePlan::column_slot(plan_, k, true)).pages.insert(pages.begin(), pages.end());
      if (!pages.empty()) ctx_.plan.slot(plan_, RewritePlan::column_slot(plan_, k, false)).pages.insert(pages.back());
    }
  }
}

LongValueWriter& LongValueCopy::writer_for(int group) {
  auto it = writers_.find(group);
  if (it == writers_.end()) {
    it = writers_
             .emplace(group, LongValueWriter(
                                 ctx_.format, [this] { return ctx_.plan.allocate(); },
                                 [this](FinishedPage p) { ctx_.sink.write(p.number, std::move(p.bytes)); }))
             .first;
  }
  return it->second;
}

}  // namespace jet::write
