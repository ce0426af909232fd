#include "platform/ui_models.h"

namespace tess::platform {

void LogModel::Add(LogLine line) {
  Lines.push_back(std::move(line));
  if (OnAdd) OnAdd(Lines.back());
}

size_t LogModel::SelectedCount() const {
  size_t n = 0;
  for (const auto& l : Lines) n += l.Selected ? 1 : 0;
  return n;
}

void LogModel::AdjustColumnWidth() {
  ColumnWidth = (VisibleRows >= static_cast<int32_t>(Lines.size())) ? Width - 5 : Width - 23;
}

std::string GridModel::Cell(int32_t col, int32_t row) const {
  if (row < 0 || row >= static_cast<int32_t>(Cells.size())) return {};
  const auto& r = Cells[row];
  if (col < 0 || col >= static_cast<int32_t>(r.size())) return {};
  return r[col];
}

void GridModel::SetCell(int32_t col, int32_t row, std::string text) {
  if (row < 0 || col < 0) return;
  if (static_cast<int32_t>(Cells.size()) <= row) Cells.resize(row + 1);
  auto& r = Cells[row];
  if (static_cast<int32_t>(r.size()) <= col) r.resize(col + 1);
  r[col] = std::move(text);
}

std::vector<int32_t> TreeModel::Children(int32_t parent) const {
  std::vector<int32_t> out;
  for (size_t i = 0; i < Nodes.size(); ++i)
    if (Nodes[i].Parent == parent) out.push_back(static_cast<int32_t>(i));
  return out;
}

}  // namespace tess::platform
