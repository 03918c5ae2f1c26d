#pragma once
// The query window of the command line: it keeps what the query puts into it, for printing.
#include <array>
#include <optional>
#include <vector>

#include "query/query_window.h"

namespace sellmeter {

struct ConsoleRow {
  std::array<Text, 8> cells;  // column texts; column 1 (the picture) stays empty
  std::optional<int> picture;  // position in the picture list
};

class ConsoleWindow : public QueryWindow {
 public:
  explicit ConsoleWindow(Text nickname) : nickname_(std::move(nickname)) {}

  Text Nickname() override { return nickname_; }
  void SetValueLabel(ValueLabel label, const Text& text) override;
  void DeleteAllRows() override { rows_.clear(); }
  void SetPictureList(PictureList pictures) override { pictures_ = std::move(pictures); }
  int AppendRow() override;
  void SetCellText(int row, int column, const Text& text) override;
  void SetCellPicture(int row, int column, std::optional<int> picturePosition) override;

  // The four labels in ValueLabel order; each empty until the query sets it.
  const std::array<std::optional<Text>, 4>& Labels() const { return labels_; }
  const std::vector<ConsoleRow>& Rows() const { return rows_; }
  const PictureList& Pictures() const { return pictures_; }

 private:
  Text nickname_;
  std::array<std::optional<Text>, 4> labels_;
  std::vector<ConsoleRow> rows_;
  PictureList pictures_{60, 60};
};

}  // namespace sellmeter
