#include "tools/query/console_window.h"

namespace sellmeter {

void ConsoleWindow::SetValueLabel(ValueLabel label, const Text& text) {
  const auto index = static_cast<std::size_t>(label);
  if (index < labels_.size()) labels_[index] = text;
}

int ConsoleWindow::AppendRow() {
  rows_.emplace_back();
  return static_cast<int>(rows_.size()) - 1;
}

void ConsoleWindow::SetCellText(int row, int column, const Text& text) {
  if (row < 0 || row >= static_cast<int>(rows_.size()) || column < 0 || column >= 8) return;
  rows_[static_cast<std::size_t>(row)].cells[static_cast<std::size_t>(column)] = text;
}

void ConsoleWindow::SetCellPicture(int row, int column, std::optional<int> picturePosition) {
  if (row < 0 || row >= static_cast<int>(rows_.size()) || column != 1) return;
  rows_[static_cast<std::size_t>(row)].picture = picturePosition;
}

}  // namespace sellmeter
