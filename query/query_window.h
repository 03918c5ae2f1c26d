#pragma once
// What the query command needs from the window: read the nickname, set the four value labels,
// empty the report list, hand it a picture list, append rows and fill their cells. The main
// window implements it over its controls; the command line implements it over the console;
// tests implement it over plain data.
#include <cstddef>
#include <optional>
#include <vector>

#include "query/picture.h"
#include "text/text_types.h"

namespace sellmeter {

// The four value labels, in the order the query fills them.
enum class ValueLabel {
  SalesAmount,        // 透明标签6, in the box captioned "销售金额"
  AverageOrderValue,  // 透明标签7, "平均客单价"
  MonthlySalesCount,  // 透明标签8, "月销售数量"
  ItemsOnSale,        // 透明标签9, "在线商品数"
};

// An image list of fixed-size cells that grows by one picture at a time; positions are 0-based.
class PictureList {
 public:
  PictureList(int cellWidth, int cellHeight) : cellWidth_(cellWidth), cellHeight_(cellHeight) {}

  int CellWidth() const { return cellWidth_; }
  int CellHeight() const { return cellHeight_; }
  int Count() const { return static_cast<int>(pictures_.size()); }

  // Adds one picture and returns its position; a picture whose cell size differs from the
  // list's is refused with -1.
  int Add(CellPicture picture) {
    if (picture.cellWidth != cellWidth_ || picture.cellHeight != cellHeight_ ||
        picture.pixels.size() !=
            static_cast<std::size_t>(cellWidth_) * static_cast<std::size_t>(cellHeight_)) {
      return -1;
    }
    pictures_.push_back(std::move(picture));
    return Count() - 1;
  }

  // nullptr for a position outside the list.
  const CellPicture* At(int position) const {
    if (position < 0 || position >= Count()) return nullptr;
    return &pictures_[static_cast<std::size_t>(position)];
  }

 private:
  int cellWidth_;
  int cellHeight_;
  std::vector<CellPicture> pictures_;
};

class QueryWindow {
 public:
  virtual ~QueryWindow() = default;

  // The current text of the nickname edit box (编辑框1), as GBK.
  virtual Text Nickname() = 0;
  virtual void SetValueLabel(ValueLabel label, const Text& text) = 0;
  // Deletes every row of the report list; its columns and its current picture list stay.
  virtual void DeleteAllRows() = 0;
  // Makes the list the report list's picture list; the previous one is released.
  virtual void SetPictureList(PictureList pictures) = 0;
  // Appends a row with empty texts and no picture; returns its 0-based position.
  virtual int AppendRow() = 0;
  virtual void SetCellText(int row, int column, const Text& text) = 0;
  // Shows the picture at picturePosition of the current picture list in the cell; nullopt
  // shows none.
  virtual void SetCellPicture(int row, int column, std::optional<int> picturePosition) = 0;
  // True once the user has closed the window; a query then skips what would only fill it.
  virtual bool Closed() { return false; }
};

}  // namespace sellmeter
