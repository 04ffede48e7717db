#include "app/board/board_view.h"

#include <gtest/gtest.h>

#include "app/board/board_test_fixture.h"

namespace goramina {
namespace {

TEST(BoardViewLayout, PointsSitOnTheirIntersections) {
  const auto specs = BoardControlSpecs();
  auto find = [&](const std::string& name) -> const TControlSpec& {
    for (const auto& s : specs) {
      if (s.name == name) return s;
    }
    throw std::out_of_range(name);
  };
  struct Case {
    int point;
    int x, y;  // intersection
  };
  for (const Case& c : {Case{1, 16, 16}, Case{2, 16, 44}, Case{19, 16, 520}, Case{20, 44, 16},
                        Case{343, 520, 16}, Case{361, 520, 520}}) {
    const auto& image = find("Image" + std::to_string(c.point));
    const auto& label = find("Label" + std::to_string(c.point));
    EXPECT_EQ(image.left + image.width / 2, c.x) << c.point;
    EXPECT_EQ(image.top + image.height / 2, c.y) << c.point;
    EXPECT_EQ(image.width, 28);
    EXPECT_TRUE(image.stretch && image.transparent);
    EXPECT_EQ(label.left, c.x - 9) << c.point;
    EXPECT_EQ(label.top, c.y - 5) << c.point;
    EXPECT_EQ(label.width, 20);
    EXPECT_EQ(label.height, 12);
    EXPECT_EQ(label.text, "5");
    EXPECT_EQ(label.font.family, kMsPGothic);
    EXPECT_EQ(label.font.pixelHeight, 12);
  }
  const auto& board = find("Shape1");
  EXPECT_EQ(board.width, 536);
  EXPECT_EQ(board.color, Rgb(254, 231, 182));
  EXPECT_EQ(find("Shape2").height, 2);  // top edge
  EXPECT_EQ(find("Shape3").height, 1);
  EXPECT_EQ(find("Shape20").height, 2);  // bottom edge, top 520
  EXPECT_EQ(find("Shape20").top, 520);
  EXPECT_EQ(find("Shape39").left, 520);
  EXPECT_EQ(find("Shape39").width, 2);
  EXPECT_EQ(find("Shape21").height, 504);
  EXPECT_EQ(find("Shape2").width, 505);
  EXPECT_EQ(find("Shape49").shape, TShapeKind::Circle);

  // Labels come after the images, so they lie above them; no name twice.
  size_t lastImage = 0, firstLabel = specs.size();
  std::set<std::string> names;
  for (size_t i = 0; i < specs.size(); ++i) {
    names.insert(specs[i].name);
    if (specs[i].kind == TControlKind::Image) lastImage = i;
    if (specs[i].kind == TControlKind::Label) firstLabel = std::min(firstLabel, i);
  }
  EXPECT_LT(lastImage, firstLabel);
  EXPECT_EQ(names.size(), specs.size());
  EXPECT_EQ(specs.size(), 49u + 361u + 361u);
}

TEST(BoardViewLayout, ThePressedLabelAndTheScrollPositionGiveThePoint) {
  struct Case {
    int left, top, hscroll, vscroll, point;
  };
  const Case cases[] = {
      {7, 11, 0, 0, 1},
      {7, 515, 0, 0, 19},
      {35, 11, 0, 0, 20},
      {511, 515, 0, 0, 361},
      {7, 11, 28, 0, 20},
      {7, 11, 0, 28, 2},
      {7 + 28 * 4 - 40, 11 + 28 * 2 - 56, 40, 56, PointAt(4, 2)},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(PointFromLabel(c.left, c.top, c.hscroll, c.vscroll), c.point)
        << c.left << "," << c.top << " scrolled " << c.hscroll << "," << c.vscroll;
  }
}

class BoardViewTest : public BoardFixture {};

TEST_F(BoardViewTest, StonesAreReadFromTheProgramFolderByColour) {
  view_->ShowStone(1, 1);
  view_->ShowStone(2, -1);
  view_->ShowStone(3, 2);
  view_->ShowStone(4, -2);
  EXPECT_EQ(Stone(1), "B");
  EXPECT_EQ(Stone(2), "B");
  EXPECT_EQ(Stone(3), "W");
  EXPECT_EQ(Stone(4), "W");
  EXPECT_EQ(tk_.Control("Image1").PicturePath(), dir_.string() + "/stB.bmp");
  view_->ClearStone(3);
  EXPECT_EQ(Stone(3), "");
  view_->SetLabel(5, "12");
  view_->SetLabelColour(5, kGreenMarkColour);
  EXPECT_EQ(view_->GetLabel(5), "12");
  EXPECT_EQ(Label(5).FontColor(), Rgb(55, 255, 55));
  EXPECT_THROW(view_->ShowStone(0, 1), std::out_of_range);
  EXPECT_THROW(view_->SetLabel(362, ""), std::out_of_range);
}

TEST_F(BoardViewTest, EachStonePictureIsReadOnceAndShared) {
  view_->ShowStone(1, 1);
  view_->ShowStone(2, 2);
  // Gone from disk after the first use: every later stone still shows, from the one reading.
  std::filesystem::remove(dir_ / kBlackStoneFile);
  std::filesystem::remove(dir_ / kWhiteStoneFile);
  for (int point = 3; point <= 40; ++point) view_->ShowStone(point, point % 2 == 1 ? 1 : -2);
  EXPECT_EQ(Stone(39), "B");
  EXPECT_EQ(Stone(40), "W");
  EXPECT_EQ(tk_.Control("Image39").Picture(), tk_.Control("Image1").Picture());
  EXPECT_EQ(tk_.Control("Image40").Picture(), tk_.Control("Image2").Picture());
  EXPECT_NE(tk_.Control("Image1").Picture(), tk_.Control("Image2").Picture());
  EXPECT_EQ(tk_.Control("Image40").PicturePath(), dir_.string() + "/stW.bmp");
}

TEST_F(BoardViewTest, AMissingStonePictureFailsWithAFileErrorAndChangesNothing) {
  std::filesystem::remove(dir_ / kWhiteStoneFile);
  view_->ShowStone(7, 1);
  try {
    view_->ShowStone(7, 2);
    FAIL() << "a missing stW.bmp must fail";
  } catch (const EFOpenError& e) {
    EXPECT_NE(std::string(e.what()).find("stW.bmp"), std::string::npos);
  }
  EXPECT_EQ(Stone(7), "B");
  // In a handler the error ends the action and is shown to the user.
  tk_.OnMouseDown("Label8", [&](const std::string&, TMouseButton, TShiftState, int, int) {
    view_->ShowStone(8, 2);
  });
  tk_.DeliverMouseDown("Label8", TMouseButton::Left, ssLeft, 1, 1);
  ASSERT_EQ(tk_.Boxes().size(), 1u);
  EXPECT_EQ(tk_.Boxes()[0].kind, TBoxKind::Error);
}

}  // namespace
}  // namespace goramina
