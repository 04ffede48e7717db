// Plain descriptions of a window and its controls. The application describes its form with
// these; each toolkit realises the very same description, so the headless toolkit used by the
// tests and the Qt window hold the same controls with the same names and geometry.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace goramina {

// Colour value packed as the toolkit stores it: red in the low byte, blue in the high byte.
using TColor = std::int32_t;

constexpr TColor Rgb(int red, int green, int blue) {
  return red | (green << 8) | (blue << 16);
}
constexpr int RedOf(TColor c) {
  return c & 0xFF;
}
constexpr int GreenOf(TColor c) {
  return (c >> 8) & 0xFF;
}
constexpr int BlueOf(TColor c) {
  return (c >> 16) & 0xFF;
}

constexpr TColor clBlack = Rgb(0, 0, 0);             // 0
constexpr TColor clWhite = Rgb(255, 255, 255);       // 16777215
constexpr TColor clRed = Rgb(255, 0, 0);             // 255
constexpr TColor clNavy = Rgb(0, 0, 128);            // 8388608
constexpr TColor clMoneyGreen = Rgb(192, 220, 192);  // 12639424
constexpr TColor clDefault = -1;                     // the toolkit's own colour for the control

enum class TControlKind {
  Label,        // text; may report mouse presses
  Image,        // picture drawn stretched, transparent where the picture is
  Shape,        // filled rectangle or circle
  Button,       // push button with a caption and a face colour
  Grid,         // data grid showing the rows of a data source
  Edit,         // one-line data edit
  ComboBox,     // drop-down list, with or without free text
  RadioButton,  // one choice of a group
  GroupBox,     // frame with a caption holding other controls
};

// Ring: the outline of a circle in the pen colour, two pixels wide, nothing filled.
enum class TShapeKind { Rectangle, Circle, Ring };
enum class TAlignment { Left, Center, Right };
enum class TComboStyle { DropDown, DropDownList };

// The family "ＭＳ Ｐゴシック" is the form's Japanese proportional font; toolkits map it onto
// an installed metric-compatible face.
inline constexpr const char* kMsPGothic = "ＭＳ Ｐゴシック";

struct TFont {
  std::string family;   // empty: the form's family
  int pixelHeight = 0;  // 0: the form's height
  bool bold = false;
  TColor color = clBlack;
};

struct TGridColumn {
  std::string field;
  std::string title;
  int width = 64;
  TAlignment alignment = TAlignment::Left;
};

struct TControlSpec {
  TControlKind kind = TControlKind::Label;
  std::string name;
  std::string parent;  // empty: the form; otherwise the name of a group box (coordinates inside it)
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
  std::string text;             // caption, label text, edit or combo text
  TColor color = clDefault;     // button face, shape fill, edit background
  TColor penColor = clDefault;  // shape outline; clDefault: same as the fill
  TShapeKind shape = TShapeKind::Rectangle;
  TFont font;
  TAlignment alignment = TAlignment::Left;
  bool transparent = false;  // labels and images: the controls below show through
  bool stretch = false;      // images: picture scaled to the control
  bool visible = true;
  bool enabled = true;
  bool checked = false;  // radio buttons
  TComboStyle comboStyle = TComboStyle::DropDown;
  std::vector<std::string> items;    // combo boxes
  std::vector<TGridColumn> columns;  // grids
  std::string dataSource;            // grids and edits: the data source they are attached to
  std::string dataField;             // edits
};

struct TMenuItemSpec {
  TMenuItemSpec() = default;
  TMenuItemSpec(std::string name, std::string caption, std::vector<TMenuItemSpec> items = {},
                std::string keyText = {}, bool checkable = false)
      : name(std::move(name)),
        caption(std::move(caption)),
        items(std::move(items)),
        keyText(std::move(keyText)),
        checkable(checkable) {}

  std::string name;
  std::string caption;
  std::vector<TMenuItemSpec> items;  // empty: a command item that reports clicks
  std::string keyText;               // the key shown beside a command item ("→"); display only
  bool checkable = false;            // a command item with a check mark, toggled by a click
};

struct TStatusPanelSpec {
  int width = 50;
  TAlignment alignment = TAlignment::Left;
};

struct TTimerSpec {
  std::string name;
  int intervalMs = 1000;
  bool enabled = true;
};

struct TFormSpec {
  std::string name;
  std::string caption;
  int clientWidth = 0;  // the area below the menu bar and above the status bar
  int clientHeight = 0;
  TColor color = clDefault;
  TFont font;                          // the default font of every control
  std::vector<TControlSpec> controls;  // in creation order: later controls lie above earlier ones
  std::vector<TMenuItemSpec> menu;
  std::vector<TStatusPanelSpec> statusPanels;
  bool statusBold = false;
  std::vector<TTimerSpec> timers;
  std::vector<std::string> mediaPlayers;
};

}  // namespace goramina
