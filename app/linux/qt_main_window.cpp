#include "app/linux/qt_main_window.h"

#include <QCloseEvent>
#include <QEvent>
#include <QFont>
#include <QFontDatabase>
#include <QFrame>
#include <QGroupBox>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTreeWidget>

#include <string>

#include "app/main_layout.h"
#include "text/codepage.h"

namespace sellmeter {
namespace {

QString FromUtf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QColor ToColour(Rgb rgb) { return QColor(rgb.red, rgb.green, rgb.blue); }

Qt::Alignment ToAlignment(HorizontalAlign horizontal, VerticalAlign vertical) {
  Qt::Alignment align = horizontal == HorizontalAlign::Left ? Qt::AlignLeft : Qt::AlignHCenter;
  return align | (vertical == VerticalAlign::Top ? Qt::AlignTop : Qt::AlignVCenter);
}

// The stored font: its face where installed, else the closest face of the same family kind
// (FF_ROMAN in the pitch-and-family byte asks for a serif).
QFont ToFont(const FontLayout& layout) {
  QFont font(FromUtf8(layout.face));
  const int family = layout.pitchAndFamily & 0xF0;
  font.setStyleHint(family == 0x10   ? QFont::Serif
                    : family == 0x20 ? QFont::SansSerif
                    : family == 0x30 ? QFont::Monospace
                                     : QFont::AnyStyle);
  if (!QFontDatabase::hasFamily(font.family())) {
    // Let fontconfig's choice for the kind stand in, as the font mapper would.
    font.setFamilies({font.family(), font.defaultFamily()});
  }
  font.setPixelSize(layout.height < 0 ? -layout.height : layout.height);
  font.setWeight(QFont::Weight(layout.weight));
  font.setItalic(layout.italic);
  font.setUnderline(layout.underline);
  font.setStrikeOut(layout.strikeOut);
  return font;
}

QWidget* MakeControl(const ControlLayout& control, QWidget* parent) {
  QWidget* widget = nullptr;
  const QString text = FromUtf8(control.text);
  switch (control.kind) {
    case ControlKind::GroupBox: {
      auto* box = new QGroupBox(text, parent);
      widget = box;
      break;
    }
    case ControlKind::TransparentLabel: {
      auto* label = new QLabel(parent);
      // Plain text: "&" and markup show as typed; no background of its own.
      label->setTextFormat(Qt::PlainText);
      label->setText(text);
      label->setAutoFillBackground(false);
      label->setAttribute(Qt::WA_TranslucentBackground);
      if (const LabelStyle* style = FindLabelStyle(control.name)) {
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, ToColour(style->textColour));
        label->setPalette(palette);
        label->setAlignment(ToAlignment(style->horizontal, style->vertical));
        label->setWordWrap(!style->singleLine);
        if (style->font) label->setFont(ToFont(*style->font));
      }
      widget = label;
      break;
    }
    case ControlKind::EditBox: {
      widget = new QLineEdit(text, parent);
      break;
    }
    case ControlKind::PushButton: {
      widget = new QPushButton(text, parent);
      break;
    }
    case ControlKind::PictureBox: {
      auto* box = new QFrame(parent);
      box->setFrameShape(QFrame::NoFrame);
      box->setAutoFillBackground(true);
      QPalette palette = box->palette();
      palette.setColor(QPalette::Window, ToColour(MainWindowLayout().pictureBoxColour));
      box->setPalette(palette);
      widget = box;
      break;
    }
    case ControlKind::ListView: {
      auto* list = new QTreeWidget(parent);
      const auto columns = ReportListColumns();
      list->setColumnCount(static_cast<int>(columns.size()));
      QTreeWidgetItem* header = list->headerItem();
      for (int i = 0; i < static_cast<int>(columns.size()); ++i) {
        const ColumnLayout& column = columns[static_cast<std::size_t>(i)];
        header->setText(i, FromUtf8(column.title));
        header->setTextAlignment(i, ToAlignment(column.align, VerticalAlign::Centre));
        list->setColumnWidth(i, column.width);
      }
      // Switching sorting off also makes the header unclickable: clickable comes after.
      list->setSortingEnabled(false);
      list->header()->setSectionsClickable(true);
      list->header()->setSectionsMovable(false);
      list->header()->setStretchLastSection(false);
      list->header()->setSectionResizeMode(QHeaderView::Interactive);
      list->setRootIsDecorated(false);
      list->setItemsExpandable(false);
      list->setIndentation(0);
      list->setUniformRowHeights(true);
      list->setSelectionMode(QAbstractItemView::SingleSelection);
      list->setSelectionBehavior(QAbstractItemView::SelectItems);
      list->setEditTriggers(QAbstractItemView::NoEditTriggers);
      list->setIconSize(QSize(60, 60));
      widget = list;
      break;
    }
  }
  widget->setObjectName(FromUtf8(control.name));
  widget->setGeometry(control.left, control.top, control.width, control.height);
  return widget;
}

}  // namespace

QString QtText(const Text& gbk) {
  const std::u16string wide = TextToU16(gbk, kCpGbk);
  return QString(reinterpret_cast<const QChar*>(wide.data()), static_cast<qsizetype>(wide.size()));
}

Text GbkText(const QString& text) {
  return U16ToText(std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()),
                                       static_cast<std::size_t>(text.size())),
                   kCpGbk);
}

QtMainWindow::QtMainWindow(MainWindowEvents events) : events_(std::move(events)) {
  const WindowLayout& layout = MainWindowLayout();
  setWindowTitle(FromUtf8(layout.title));
  // A fixed frame with the system menu, minimize and close, and no maximize.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(layout.clientWidth, layout.clientHeight);

  for (const ControlLayout& control : MainWindowControls()) {
    QWidget* parent = control.parent.empty() ? this : Control(control.parent);
    QWidget* widget = MakeControl(control, parent ? parent : this);
    controls_.emplace_back(control.name, widget);
  }
  // Later controls lie above earlier ones, as in the stored order (透明标签8 and 9 over the
  // third and fourth boxes).
  for (auto& [name, widget] : controls_) widget->raise();

  nickname_ = static_cast<QLineEdit*>(Control(kNicknameEdit));
  for (int i = 0; i < 4; ++i) valueLabels_[i] = static_cast<QLabel*>(Control(kValueLabels[i]));
  list_ = static_cast<QTreeWidget*>(Control(kReportList));
  connect(static_cast<QPushButton*>(Control(kQueryButton)), &QPushButton::clicked, this,
          [this] { QueryClicked(); });
  if (events_.created) events_.created();
}

QWidget* QtMainWindow::Control(std::string_view name) const {
  for (const auto& [controlName, widget] : controls_) {
    if (controlName == name) return widget;
  }
  return nullptr;
}

void QtMainWindow::QueryClicked() {
  if (events_.queryClicked) events_.queryClicked(*this);
}

void QtMainWindow::FitFrame() {
  const WindowLayout& layout = MainWindowLayout();
  QSize frame = frameGeometry().size() - geometry().size();
  QSize client(layout.clientWidth, layout.clientHeight);
  if (frame.width() > 0 || frame.height() > 0) {
    client = QSize(layout.outerWidth, layout.outerHeight) - frame;
  } else {
    frame = QSize(layout.outerWidth - layout.clientWidth, layout.outerHeight - layout.clientHeight);
  }
  if (frame == frame_) return;
  frame_ = frame;
  setFixedSize(client);
  if (QScreen* screen = this->screen()) {
    const QRect area = screen->availableGeometry();
    const QPoint target(area.x() + (area.width() - layout.outerWidth) / 2,
                        area.y() + (area.height() - layout.outerHeight) / 2);
    move(target);
    // Platforms differ in whether a move places the frame or the client area: correct by
    // what the frame ended up at.
    const QPoint miss = target - frameGeometry().topLeft();
    if (!miss.isNull()) move(pos() + miss);
  }
}

void QtMainWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  FitFrame();
}

void QtMainWindow::moveEvent(QMoveEvent* event) {
  QWidget::moveEvent(event);
  // A window manager reports its frame only after mapping the window.
  if (isVisible()) FitFrame();
}

void QtMainWindow::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  // A fixed frame has no maximized or full-screen state, whatever the platform offers.
  if (event->type() == QEvent::WindowStateChange &&
      (windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen))) {
    setWindowState(windowState() & ~(Qt::WindowMaximized | Qt::WindowFullScreen));
    frame_ = QSize(-1, -1);
    FitFrame();
  }
}

void QtMainWindow::closeEvent(QCloseEvent* event) {
  // The window only hides: a query that is still running keeps a live window to finish on,
  // and the message loop ends once that query has returned.
  closed_ = true;
  QWidget::closeEvent(event);
}

Text QtMainWindow::Nickname() { return GbkText(nickname_->text()); }

void QtMainWindow::SetValueLabel(ValueLabel label, const Text& text) {
  valueLabels_[static_cast<int>(label)]->setText(QtText(text));
}

void QtMainWindow::DeleteAllRows() { list_->clear(); }

void QtMainWindow::SetPictureList(PictureList pictures) {
  std::vector<QIcon> icons;
  icons.reserve(static_cast<std::size_t>(pictures.Count()));
  for (int i = 0; i < pictures.Count(); ++i) {
    const CellPicture& picture = *pictures.At(i);
    // 0xAARRGGBB words, straight alpha: QImage's ARGB32 layout.
    const QImage image(reinterpret_cast<const uchar*>(picture.pixels.data()), picture.cellWidth,
                       picture.cellHeight, picture.cellWidth * 4, QImage::Format_ARGB32);
    icons.emplace_back(QPixmap::fromImage(image.copy()));
  }
  icons_ = std::move(icons);
  pictures_ = std::move(pictures);
}

int QtMainWindow::AppendRow() {
  auto* item = new QTreeWidgetItem(list_);
  const auto columns = ReportListColumns();
  for (int i = 0; i < static_cast<int>(columns.size()); ++i) {
    item->setTextAlignment(
        i, ToAlignment(columns[static_cast<std::size_t>(i)].align, VerticalAlign::Centre));
  }
  return list_->indexOfTopLevelItem(item);
}

QTreeWidgetItem* QtMainWindow::Row(int row) const {
  if (row < 0 || row >= list_->topLevelItemCount()) return nullptr;
  return list_->topLevelItem(row);
}

void QtMainWindow::SetCellText(int row, int column, const Text& text) {
  QTreeWidgetItem* item = Row(row);
  if (item == nullptr || column < 0 || column >= list_->columnCount()) return;
  const QString shown = QtText(text);
  item->setText(column, shown);
  // Info tip: the whole text, for cells too narrow to show it.
  item->setToolTip(column, shown);
}

void QtMainWindow::SetCellPicture(int row, int column, std::optional<int> picturePosition) {
  QTreeWidgetItem* item = Row(row);
  if (item == nullptr || column < 0 || column >= list_->columnCount()) return;
  if (picturePosition && *picturePosition >= 0 &&
      *picturePosition < static_cast<int>(icons_.size())) {
    item->setIcon(column, icons_[static_cast<std::size_t>(*picturePosition)]);
  } else {
    item->setIcon(column, QIcon());
  }
}

}  // namespace sellmeter
