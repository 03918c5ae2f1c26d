// The main window as built: places, sizes, texts, colours, fonts and columns read back from
// the widgets themselves, and the window operations the query command uses.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTreeWidget>

#include <cstdio>
#include <memory>
#include <string>

#include "app/linux/qt_main_window.h"
#include "app/main_layout.h"

namespace sellmeter {
namespace {

QString Q(const char* utf8) { return QString::fromUtf8(utf8); }

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window = std::make_unique<QtMainWindow>(MainWindowEvents{});
    window->show();
    QApplication::processEvents();
  }
  QWidget* Control(const char* name) {
    QWidget* widget = window->Control(name);
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }
  QLabel* Label(const char* name) { return static_cast<QLabel*>(Control(name)); }
  QImage Shot() { return window->grab().toImage(); }

  std::unique_ptr<QtMainWindow> window;
};

TEST_F(WindowTest, ControlsStandWhereTheLayoutPutsThem) {
  struct Case {
    const char* name;
    const char* parent;  // object name of the parent; "" for the window
    QRect geometry;
    const char* text;
  };
  const Case cases[] = {
      {"分组框1", "", {0, 0, 912, 200}, ""},
      {"透明标签1", "分组框1", {256, 16, 64, 24}, "旺旺名："},
      {"编辑框1", "分组框1", {318, 17, 224, 24}, "shopnick01"},
      {"按钮1", "分组框1", {552, 16, 72, 24}, "查询"},
      {"图片框1", "分组框1", {16, 88, 200, 80}, ""},
      {"透明标签6", "图片框1", {42, 16, 120, 24}, ""},
      {"透明标签2", "图片框1", {78, 48, 56, 24}, "销售金额"},
      {"透明标签7", "图片框2", {42, 16, 120, 24}, ""},
      {"透明标签3", "图片框2", {72, 48, 72, 24}, "平均客单价"},
      {"图片框3", "分组框1", {464, 88, 200, 80}, ""},
      {"透明标签4", "图片框3", {72, 48, 72, 24}, "月销售数量"},
      {"图片框4", "分组框1", {688, 88, 200, 80}, ""},
      {"透明标签5", "图片框4", {72, 48, 72, 24}, "在线商品数"},
      {"透明标签8", "", {502, 104, 120, 24}, ""},
      {"透明标签9", "", {730, 104, 120, 24}, ""},
      {"超级列表框1", "", {0, 200, 912, 520}, ""},
  };
  for (const Case& c : cases) {
    QWidget* widget = Control(c.name);
    if (widget == nullptr) continue;
    EXPECT_EQ(widget->geometry(), c.geometry) << c.name;
    QWidget* parent = widget->parentWidget();
    if (*c.parent == 0) {
      EXPECT_EQ(parent, window.get()) << c.name;
    } else {
      EXPECT_EQ(parent->objectName(), Q(c.parent)) << c.name;
    }
    QString text;
    if (auto* label = qobject_cast<QLabel*>(widget)) text = label->text();
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) text = edit->text();
    if (auto* button = qobject_cast<QPushButton*>(widget)) text = button->text();
    if (auto* box = qobject_cast<QGroupBox*>(widget)) text = box->title();
    EXPECT_EQ(text, Q(c.text)) << c.name;
  }
  // Every control of the stored layout is there, and nothing else at the top.
  int controls = 0;
  for (const ControlLayout& control : MainWindowControls()) {
    controls += window->Control(control.name) != nullptr;
  }
  EXPECT_EQ(controls, 17);
  // The value labels of the third and fourth boxes belong to the window, yet are drawn over
  // the boxes, level with the first two boxes' value labels.
  EXPECT_EQ(window->childAt(562, 116), Control("透明标签8"));
  EXPECT_EQ(window->childAt(790, 116), Control("透明标签9"));
  EXPECT_EQ(window->childAt(116, 116), Control("透明标签6"));
  EXPECT_EQ(Control("透明标签8")->geometry().topLeft() - Control("图片框3")->geometry().topLeft(),
            QPoint(38, 16));
}

TEST_F(WindowTest, FrameTitleAndPlaceOnTheScreen) {
  EXPECT_EQ(window->windowTitle(), "Sellmeter");
  const Qt::WindowFlags flags = window->windowFlags();
  EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
  EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
  EXPECT_TRUE(flags & Qt::WindowSystemMenuHint);
  EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
  // Fixed: the client area is the outer size less the frame the platform reports.
  const QSize frame = window->frameGeometry().size() - window->geometry().size();
  const QSize client = frame.isNull() ? QSize(905, 719) : QSize(911, 747) - frame;
  EXPECT_EQ(window->size(), client);
  EXPECT_EQ(window->minimumSize(), client);
  EXPECT_EQ(window->maximumSize(), client);
  window->resize(1200, 900);
  QApplication::processEvents();
  EXPECT_EQ(window->size(), client);
  for (Qt::WindowState state : {Qt::WindowMaximized, Qt::WindowFullScreen}) {
    window->setWindowState(state);
    QApplication::processEvents();
    EXPECT_EQ(window->size(), client) << state;
    EXPECT_FALSE(window->windowState() & state) << state;
  }
  // Centred: the outer frame's centre is the screen's, within the frame's own width.
  const QPoint centre = window->screen()->availableGeometry().center();
  const QPoint outerCentre = window->frameGeometry().topLeft() + QPoint(911 / 2, 747 / 2);
  EXPECT_LE((outerCentre - centre).manhattanLength(), frame.width() + frame.height() + 2);
}

TEST_F(WindowTest, StartsWithTheNicknameEmptyLabelsAndOnlyTheHeader) {
  EXPECT_EQ(static_cast<QLineEdit*>(Control("编辑框1"))->text(), "shopnick01");
  EXPECT_EQ(window->Nickname(), "shopnick01");
  for (const char* name : {"透明标签6", "透明标签7", "透明标签8", "透明标签9"}) {
    EXPECT_TRUE(Label(name)->text().isEmpty()) << name;
  }
  EXPECT_EQ(window->ReportList()->topLevelItemCount(), 0);
  EXPECT_FALSE(window->ReportList()->isHeaderHidden());
}

TEST_F(WindowTest, LabelsBoxesAndFonts) {
  const QColor blue(0, 136, 255);
  for (const char* name : {"图片框1", "图片框2", "图片框3", "图片框4"}) {
    QWidget* box = Control(name);
    EXPECT_TRUE(box->autoFillBackground()) << name;
    EXPECT_EQ(box->palette().color(QPalette::Window), blue) << name;
  }
  struct Case {
    const char* name;
    QColor colour;
    Qt::Alignment align;
    bool figureFont;
  };
  const Case cases[] = {
      {"透明标签1", Qt::black, Qt::AlignLeft | Qt::AlignVCenter, false},
      {"透明标签2", Qt::white, Qt::AlignLeft | Qt::AlignVCenter, false},
      {"透明标签5", Qt::white, Qt::AlignLeft | Qt::AlignVCenter, false},
      {"透明标签6", Qt::white, Qt::AlignHCenter | Qt::AlignVCenter, true},
      {"透明标签9", Qt::white, Qt::AlignHCenter | Qt::AlignVCenter, true},
  };
  // The face a font mapper gives for a missing Georgia: fontconfig's choice of a serif.
  QString serifStandIn;
  if (FILE* pipe = popen("fc-match -f '%{family[0]}' 'Georgia:serif' 2>/dev/null", "r")) {
    char buffer[256] = {};
    serifStandIn = QString::fromUtf8(fgets(buffer, sizeof buffer, pipe) ? buffer : "");
    pclose(pipe);
  }
  for (const Case& c : cases) {
    QLabel* label = Label(c.name);
    EXPECT_EQ(label->palette().color(QPalette::WindowText), c.colour) << c.name;
    EXPECT_EQ(label->alignment(), c.align) << c.name;
    EXPECT_FALSE(label->wordWrap()) << c.name;
    EXPECT_EQ(label->textFormat(), Qt::PlainText) << c.name;
    EXPECT_FALSE(label->autoFillBackground()) << c.name;
    const QFont font = label->font();
    if (c.figureFont) {
      EXPECT_EQ(font.pixelSize(), 21) << c.name;
      EXPECT_EQ(font.weight(), QFont::Normal);
      EXPECT_FALSE(font.italic() || font.underline() || font.strikeOut());
      const QString face = QFontInfo(font).family();
      if (QFontDatabase::hasFamily("Georgia")) {
        EXPECT_EQ(face, "Georgia");
      } else if (!serifStandIn.isEmpty()) {
        EXPECT_EQ(face, serifStandIn);
      }
    } else {
      EXPECT_EQ(font, QApplication::font()) << c.name;
    }
  }
}

TEST_F(WindowTest, TransparentLabelsShowTheirParentAndClipWideTexts) {
  window->SetValueLabel(ValueLabel::SalesAmount, "8888888888888888888888888888888888");
  window->SetValueLabel(ValueLabel::MonthlySalesCount, "1");
  QApplication::processEvents();
  const QImage shot = Shot();
  const QColor blue(0, 136, 255);
  // Inside 透明标签8 (window 502,104), away from its text, the box shows through.
  EXPECT_EQ(shot.pixelColor(504, 106), blue);
  // The wide figure is drawn on one line within 透明标签6 (box 1 at 16,88; label at 42,16):
  // white inside the label, nothing outside its left and right edges.
  int whiteInside = 0;
  for (int x = 16 + 42; x < 16 + 42 + 120; ++x) whiteInside += shot.pixelColor(x, 88 + 28).lightness() > 200;
  EXPECT_GT(whiteInside, 10);
  for (int y = 88 + 16; y < 88 + 40; ++y) {
    for (int x : {16 + 40, 16 + 41, 16 + 162, 16 + 163}) {
      EXPECT_EQ(shot.pixelColor(x, y), blue) << x << "," << y;
    }
  }
  EXPECT_EQ(Label("透明标签6")->geometry(), QRect(42, 16, 120, 24));
  // "&" is shown as typed.
  window->SetValueLabel(ValueLabel::ItemsOnSale, "A&B");
  EXPECT_EQ(Label("透明标签9")->text(), "A&B");
}

TEST_F(WindowTest, ReportListColumnsAndStyle) {
  QTreeWidget* list = window->ReportList();
  struct Column {
    const char* title;
    int width;
    Qt::Alignment align;
  };
  const Column columns[] = {{"序号", 80, Qt::AlignLeft},     {"图片", 108, Qt::AlignHCenter},
                            {"标题", 266, Qt::AlignHCenter}, {"一口价", 88, Qt::AlignHCenter},
                            {"优惠价", 88, Qt::AlignHCenter}, {"月销数量", 88, Qt::AlignHCenter},
                            {"评论数", 88, Qt::AlignHCenter}, {"月销售额", 99, Qt::AlignHCenter}};
  ASSERT_EQ(list->columnCount(), 8);
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(list->headerItem()->text(i), Q(columns[i].title)) << i;
    EXPECT_EQ(list->columnWidth(i), columns[i].width) << i;
    EXPECT_EQ(Qt::Alignment(list->headerItem()->textAlignment(i)) & Qt::AlignHorizontal_Mask,
              columns[i].align)
        << i;
  }
  EXPECT_TRUE(list->header()->sectionsClickable());
  EXPECT_FALSE(list->isSortingEnabled());
  EXPECT_EQ(list->selectionMode(), QAbstractItemView::SingleSelection);
  EXPECT_NE(list->selectionBehavior(), QAbstractItemView::SelectRows);
  EXPECT_FALSE(list->rootIsDecorated());
  EXPECT_EQ(list->editTriggers(), QAbstractItemView::NoEditTriggers);
  EXPECT_EQ(list->iconSize(), QSize(60, 60));
}

CellPicture SolidPicture(std::uint32_t argb) {
  CellPicture picture;
  picture.format = PictureFormat::Png;
  picture.width = picture.height = 60;
  picture.pixels.assign(60 * 60, argb);
  return picture;
}

TEST_F(WindowTest, RowsTextsAndPicturesFromTheQueryOperations) {
  // GBK in both directions: 卖家 is C2 F4 BC D2.
  static_cast<QLineEdit*>(Control("编辑框1"))->setText(Q("卖家x"));
  EXPECT_EQ(window->Nickname(), "\xC2\xF4\xBC\xD2x");
  window->SetValueLabel(ValueLabel::AverageOrderValue, "\xC2\xF4 9");
  EXPECT_EQ(Label("透明标签7")->text(), Q("卖 9"));

  PictureList pictures(60, 60);
  CellPicture masked = SolidPicture(0xFFFF0000);
  masked.pixels[0] = 0x00FF0000;
  ASSERT_EQ(pictures.Add(masked), 0);
  ASSERT_EQ(pictures.Add(SolidPicture(0xFF00FF00)), 1);
  CellPicture wrongSize = SolidPicture(0xFF0000FF);
  wrongSize.pixels.resize(10);
  EXPECT_EQ(pictures.Add(wrongSize), -1);
  window->SetPictureList(std::move(pictures));
  EXPECT_EQ(window->Pictures().Count(), 2);

  QTreeWidget* list = window->ReportList();
  for (int j = 0; j < 3; ++j) {
    const int p = window->AppendRow();
    EXPECT_EQ(p, j);
    window->SetCellText(p, 0, std::to_string(p + 1));
    window->SetCellText(p, 2, "\xC9\xCF\xD2\xC2");
  }
  window->SetCellPicture(0, 1, 1);
  window->SetCellPicture(1, 1, std::nullopt);
  window->SetCellPicture(2, 1, 7);  // outside the list: no picture
  // Out of range rows and columns change nothing.
  window->SetCellText(3, 0, "x");
  window->SetCellText(0, 8, "x");
  window->SetCellPicture(-1, 1, 0);

  ASSERT_EQ(list->topLevelItemCount(), 3);
  EXPECT_EQ(list->topLevelItem(0)->text(0), "1");
  EXPECT_EQ(list->topLevelItem(2)->text(2), Q("上衣"));
  EXPECT_EQ(list->topLevelItem(2)->toolTip(2), Q("上衣"));
  EXPECT_EQ(Qt::Alignment(list->topLevelItem(0)->textAlignment(2)) & Qt::AlignHorizontal_Mask,
            Qt::AlignHCenter);
  const QImage shown = list->topLevelItem(0)->icon(1).pixmap(60, 60).toImage();
  EXPECT_EQ(shown.pixelColor(30, 30), QColor(0, 255, 0));
  EXPECT_TRUE(list->topLevelItem(1)->icon(1).isNull());
  EXPECT_TRUE(list->topLevelItem(2)->icon(1).isNull());

  // Deleting rows keeps the columns and the picture list.
  window->DeleteAllRows();
  EXPECT_EQ(list->topLevelItemCount(), 0);
  EXPECT_EQ(list->columnCount(), 8);
  EXPECT_EQ(window->Pictures().Count(), 2);
  EXPECT_EQ(window->AppendRow(), 0);
}

TEST_F(WindowTest, ClosingHidesTheWindowAndMarksItClosed) {
  EXPECT_FALSE(window->Closed());
  window->close();
  EXPECT_TRUE(window->Closed());
  EXPECT_FALSE(window->isVisible());
  // Still whole: a query that is still running can finish on it.
  window->SetValueLabel(ValueLabel::SalesAmount, "1");
  EXPECT_EQ(window->AppendRow(), 0);
}

}  // namespace
}  // namespace sellmeter
