#include "app/main_layout.h"

#include <algorithm>

namespace sellmeter {
namespace {

constexpr WindowLayout kWindow{"Sellmeter", 911, 747, 50, 50, 905, 719, {0, 136, 255}};

using enum ControlKind;

constexpr ControlLayout kControls[] = {
    {"分组框1", GroupBox, "", 0, 0, 912, 200, ""},
    {"透明标签1", TransparentLabel, "分组框1", 256, 16, 64, 24, "旺旺名："},
    {"编辑框1", EditBox, "分组框1", 318, 17, 224, 24, "shopnick01"},
    {"按钮1", PushButton, "分组框1", 552, 16, 72, 24, "查询"},
    {"图片框1", PictureBox, "分组框1", 16, 88, 200, 80, ""},
    {"透明标签6", TransparentLabel, "图片框1", 42, 16, 120, 24, ""},
    {"透明标签2", TransparentLabel, "图片框1", 78, 48, 56, 24, "销售金额"},
    {"图片框2", PictureBox, "分组框1", 240, 88, 200, 80, ""},
    {"透明标签7", TransparentLabel, "图片框2", 42, 16, 120, 24, ""},
    {"透明标签3", TransparentLabel, "图片框2", 72, 48, 72, 24, "平均客单价"},
    {"图片框3", PictureBox, "分组框1", 464, 88, 200, 80, ""},
    {"透明标签4", TransparentLabel, "图片框3", 72, 48, 72, 24, "月销售数量"},
    {"图片框4", PictureBox, "分组框1", 688, 88, 200, 80, ""},
    {"透明标签5", TransparentLabel, "图片框4", 72, 48, 72, 24, "在线商品数"},
    // Children of the window lying over the third and fourth boxes, drawn above them.
    {"透明标签8", TransparentLabel, "", 502, 104, 120, 24, ""},
    {"透明标签9", TransparentLabel, "", 730, 104, 120, 24, ""},
    {"超级列表框1", ListView, "", 0, 200, 912, 520, ""},
};

constexpr FontLayout kFigureFont{"Georgia", -21, 400, false, false, false, 0, 3, 2, 1, 0x12};

constexpr Rgb kBlack{0, 0, 0};
constexpr Rgb kWhite{255, 255, 255};
using enum HorizontalAlign;

constexpr LabelStyle kLabelStyles[] = {
    {"透明标签1", kBlack, Left, VerticalAlign::Centre, true, nullptr},
    {"透明标签2", kWhite, Left, VerticalAlign::Centre, true, nullptr},
    {"透明标签3", kWhite, Left, VerticalAlign::Centre, true, nullptr},
    {"透明标签4", kWhite, Left, VerticalAlign::Centre, true, nullptr},
    {"透明标签5", kWhite, Left, VerticalAlign::Centre, true, nullptr},
    {"透明标签6", kWhite, Centre, VerticalAlign::Centre, true, &kFigureFont},
    {"透明标签7", kWhite, Centre, VerticalAlign::Centre, true, &kFigureFont},
    {"透明标签8", kWhite, Centre, VerticalAlign::Centre, true, &kFigureFont},
    {"透明标签9", kWhite, Centre, VerticalAlign::Centre, true, &kFigureFont},
};

constexpr ColumnLayout kColumns[] = {
    {"序号", 80, Left},       {"图片", 108, Centre},   {"标题", 266, Centre},
    {"一口价", 88, Centre},   {"优惠价", 88, Centre},  {"月销数量", 88, Centre},
    {"评论数", 88, Centre},   {"月销售额", 99, Centre},
};

}  // namespace

const WindowLayout& MainWindowLayout() { return kWindow; }
std::span<const ControlLayout> MainWindowControls() { return kControls; }
std::span<const LabelStyle> MainWindowLabelStyles() { return kLabelStyles; }
std::span<const ColumnLayout> ReportListColumns() { return kColumns; }
const FontLayout& FigureFont() { return kFigureFont; }

const ControlLayout* FindControl(std::string_view name) {
  auto it = std::find_if(std::begin(kControls), std::end(kControls),
                         [&](const ControlLayout& c) { return c.name == name; });
  return it == std::end(kControls) ? nullptr : &*it;
}

const LabelStyle* FindLabelStyle(std::string_view name) {
  auto it = std::find_if(std::begin(kLabelStyles), std::end(kLabelStyles),
                         [&](const LabelStyle& s) { return s.name == name; });
  return it == std::end(kLabelStyles) ? nullptr : &*it;
}

}  // namespace sellmeter
