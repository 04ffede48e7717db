#include "app/board/board_view.h"

#include <memory>
#include <stdexcept>

#include "app/toolkit/toolkit.h"

namespace goramina {
namespace {

constexpr int kLineLength = 28 * (kBoardSize - 1) + 1;  // 505: from 16 to 520 inclusive
constexpr int kStarSize = 5;
constexpr int kStarLefts[] = {98, 266, 434};  // 16 + 28 * {3, 9, 15} - 2

std::string Indexed(const char* prefix, int index) {
  std::string name(prefix);  // built in place: GCC 12 warns falsely about prefix + string
  name += std::to_string(index);
  return name;
}

void CheckPoint(int point) {
  if (point < 1 || point > kPointCount) {
    throw std::out_of_range("Board point " + std::to_string(point) + " is outside 1..361");
  }
}

TControlSpec Shape(int index, int left, int top, int width, int height, TColor fill,
                   TShapeKind kind = TShapeKind::Rectangle) {
  TControlSpec s;
  s.kind = TControlKind::Shape;
  s.name = Indexed("Shape", index);
  s.left = left;
  s.top = top;
  s.width = width;
  s.height = height;
  s.color = fill;
  s.penColor = fill;
  s.shape = kind;
  return s;
}

}  // namespace

std::vector<TControlSpec> BoardControlSpecs() {
  std::vector<TControlSpec> specs;
  specs.reserve(49 + 2 * kPointCount);
  specs.push_back(Shape(1, 0, 0, 536, 536, kBoardColour));
  const int last = kBoardSize - 1;
  for (int k = 0; k < kBoardSize; ++k) {
    const int thickness = (k == 0 || k == last) ? 2 : 1;
    specs.push_back(Shape(2 + k, 16, 16 + 28 * k, kLineLength, thickness, clBlack));
  }
  for (int k = 0; k < kBoardSize; ++k) {
    const int thickness = (k == 0 || k == last) ? 2 : 1;
    specs.push_back(Shape(21 + k, 16 + 28 * k, 16, thickness, kLineLength - 1, clBlack));
  }
  // Nine star points on ten shapes: the last shape repeats the centre.
  int index = 40;
  for (int left : kStarLefts) {
    for (int top : kStarLefts) {
      specs.push_back(Shape(index++, left, top, kStarSize, kStarSize, clBlack, TShapeKind::Circle));
    }
  }
  specs.push_back(Shape(index, 266, 266, kStarSize, kStarSize, clBlack, TShapeKind::Circle));

  for (int n = 1; n <= kPointCount; ++n) {
    TControlSpec image;
    image.kind = TControlKind::Image;
    image.name = Indexed("Image", n);
    image.left = 2 + kCellPixels * ColumnOf(n);
    image.top = 2 + kCellPixels * RowOf(n);
    image.width = kCellPixels;
    image.height = kCellPixels;
    image.stretch = true;
    image.transparent = true;
    specs.push_back(image);
  }
  for (int n = 1; n <= kPointCount; ++n) {
    TControlSpec label;
    label.kind = TControlKind::Label;
    label.name = Indexed("Label", n);
    label.left = kLabelLeftInset + kCellPixels * ColumnOf(n);
    label.top = kLabelTopInset + kCellPixels * RowOf(n);
    label.width = kLabelWidth;
    label.height = kLabelHeight;
    label.text.push_back('5');  // cleared at start-up (not "= \"5\"": GCC 12 warns falsely)
    label.alignment = TAlignment::Center;
    label.transparent = true;
    label.font = TFont{kMsPGothic, 12, false, clBlack};
    specs.push_back(label);
  }
  return specs;
}

int PointFromLabel(int labelLeft, int labelTop, int horizontalScroll, int verticalScroll) {
  const int column = (labelLeft + horizontalScroll - kLabelLeftInset) / kCellPixels;
  const int row = (labelTop + verticalScroll - kLabelTopInset) / kCellPixels;
  return PointAt(column, row);
}

TBoardView::TBoardView(TToolkit& toolkit, std::string programDir)
    : toolkit_(toolkit), programDir_(std::move(programDir)) {}

const std::shared_ptr<const TBitmap>& TBoardView::StonePicture(bool black) {
  std::shared_ptr<const TBitmap>& picture = black ? blackStone_ : whiteStone_;
  if (!picture) {
    const char* file = black ? kBlackStoneFile : kWhiteStoneFile;
    picture = std::make_shared<const TBitmap>(ReadBmpFile(programDir_ + file));
  }
  return picture;
}

void TBoardView::ShowStone(int point, int colour) {
  CheckPoint(point);
  const bool black = colour == 1 || colour == -1;
  TControl& image = toolkit_.Control(Indexed("Image", point));
  image.SetPicture(StonePicture(black), programDir_ + (black ? kBlackStoneFile : kWhiteStoneFile));
}

void TBoardView::ClearStone(int point) {
  CheckPoint(point);
  toolkit_.Control(Indexed("Image", point)).ClearPicture();
}

void TBoardView::SetLabel(int point, const std::string& text) {
  CheckPoint(point);
  toolkit_.Control(Indexed("Label", point)).SetText(text);
}

std::string TBoardView::GetLabel(int point) const {
  CheckPoint(point);
  return toolkit_.Control(Indexed("Label", point)).Text();
}

void TBoardView::SetLabelColour(int point, TColor colour) {
  CheckPoint(point);
  toolkit_.Control(Indexed("Label", point)).SetFontColor(colour);
}

}  // namespace goramina
