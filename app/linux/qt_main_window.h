#pragma once
// The main window on Qt Widgets, built from the stored layout, and the query command's view
// of it.
#include <QIcon>
#include <QWidget>

#include <functional>
#include <string_view>
#include <vector>

#include "app/program.h"
#include "query/query_window.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace sellmeter {

class QtMainWindow final : public QWidget, public QueryWindow {
 public:
  explicit QtMainWindow(MainWindowEvents events);

  // The control of the stored layout with that name (its object name), or nullptr.
  QWidget* Control(std::string_view name) const;
  QTreeWidget* ReportList() const { return list_; }
  const PictureList& Pictures() const { return pictures_; }

  // Fixes the client area to the outer size less the frame the window manager reports, and
  // centres the outer frame on the screen.
  void FitFrame();

  Text Nickname() override;
  void SetValueLabel(ValueLabel label, const Text& text) override;
  void DeleteAllRows() override;
  void SetPictureList(PictureList pictures) override;
  int AppendRow() override;
  void SetCellText(int row, int column, const Text& text) override;
  void SetCellPicture(int row, int column, std::optional<int> picturePosition) override;
  bool Closed() override { return closed_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  QTreeWidgetItem* Row(int row) const;
  void QueryClicked();

  MainWindowEvents events_;
  std::vector<std::pair<std::string_view, QWidget*>> controls_;
  QLineEdit* nickname_ = nullptr;
  QLabel* valueLabels_[4] = {};
  QTreeWidget* list_ = nullptr;
  PictureList pictures_{60, 60};
  std::vector<QIcon> icons_;
  QSize frame_{-1, -1};
  bool closed_ = false;
};

// Qt text of a GBK text and back.
QString QtText(const Text& gbk);
Text GbkText(const QString& text);

}  // namespace sellmeter
