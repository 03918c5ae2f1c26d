#pragma once
// The main window's stored layout: the frame, every control with its name, kind, parent,
// place, size and text, the styles of the transparent labels and the report list's columns.
// Names and texts are UTF-8; places are relative to the client area of the parent.
#include <cstdint>
#include <span>
#include <string_view>

namespace sellmeter {

enum class ControlKind { GroupBox, TransparentLabel, EditBox, PushButton, PictureBox, ListView };

struct ControlLayout {
  std::string_view name;
  ControlKind kind;
  std::string_view parent;  // empty: the window itself
  int left, top, width, height;
  std::string_view text;    // caption, initial text, or empty
};

struct Rgb {
  std::uint8_t red, green, blue;
  friend bool operator==(const Rgb&, const Rgb&) = default;
};

enum class HorizontalAlign { Left, Centre };
enum class VerticalAlign { Top, Centre };

// A font as the window's stored layout describes it (the fields of a LOGFONT).
struct FontLayout {
  std::string_view face;
  int height;             // negative: character height in pixels
  int weight;
  bool italic, underline, strikeOut;
  int charSet;            // 0: ANSI
  int outPrecision, clipPrecision, quality, pitchAndFamily;
};

struct LabelStyle {
  std::string_view name;
  Rgb textColour;
  HorizontalAlign horizontal;
  VerticalAlign vertical;
  bool singleLine;
  const FontLayout* font;  // nullptr: the default GUI font
};

struct ColumnLayout {
  std::string_view title;
  int width;
  HorizontalAlign align;
};

struct WindowLayout {
  std::string_view title;
  int outerWidth, outerHeight;  // with the fixed frame
  int storedLeft, storedTop;    // stored, though the window opens centred
  int clientWidth, clientHeight;  // the client area when no frame size is known
  Rgb pictureBoxColour;
};

const WindowLayout& MainWindowLayout();
std::span<const ControlLayout> MainWindowControls();
std::span<const LabelStyle> MainWindowLabelStyles();
std::span<const ColumnLayout> ReportListColumns();
const FontLayout& FigureFont();

// Lookups by control name; nullptr when there is none.
const ControlLayout* FindControl(std::string_view name);
const LabelStyle* FindLabelStyle(std::string_view name);

// Control names the program reaches by name.
inline constexpr std::string_view kNicknameEdit = "编辑框1";
inline constexpr std::string_view kQueryButton = "按钮1";
inline constexpr std::string_view kReportList = "超级列表框1";
// The value labels in the order of the four summary figures.
inline constexpr std::string_view kValueLabels[4] = {"透明标签6", "透明标签7", "透明标签8",
                                                     "透明标签9"};

}  // namespace sellmeter
