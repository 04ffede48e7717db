// A board on the headless toolkit, with small stone pictures in a folder of its own.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "app/board.h"
#include "app/board_view.h"
#include "app/headless_toolkit.h"

namespace goramina {

class BoardFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("goramina_board_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_);
    TBitmap pixel;
    pixel.width = pixel.height = 1;
    pixel.pixels = {0xFF000000};
    WriteBmpFile((dir_ / kBlackStoneFile).string(), pixel);
    pixel.pixels = {0xFFFFFFFF};
    WriteBmpFile((dir_ / kWhiteStoneFile).string(), pixel);

    TFormSpec form;
    form.name = "TForm2";
    form.controls = BoardControlSpecs();
    form.statusPanels = {{450}, {140}, {50}};
    tk_.CreateForm(form);
    view_ = std::make_unique<TBoardView>(tk_, dir_.string() + "/");
    SetBoardView(view_.get());
    ClearBoard();
    LastPoint = 0;
  }

  void TearDown() override {
    SetBoardView(nullptr);
    std::filesystem::remove_all(dir_);
  }

  // A stone as the callers write it: the code first, then PlaceStone.
  void Put(int colour, int point, int labelMode = 0, int moveNumber = 0) {
    Board[point] = colour;
    ASSERT_TRUE(PlaceStone(moveNumber, colour, point, labelMode));
  }

  // A user's move: checked, recorded on the history, placed.
  bool Move(int colour, int point, int labelMode = 1) {
    if (!MoveFits(colour, point, true)) return false;
    ++HistoryTop;
    ++MoveNumber;
    Board[point] = colour;
    MoveHistory[HistoryTop] = TMoveRecord{MoveNumber, colour, point};
    return PlaceStone(MoveNumber, colour, point, labelMode);
  }

  // "B" for a black stone image, "W" for white, "" for none.
  std::string Stone(int point) {
    const TControl& image = tk_.Control("Image" + std::to_string(point));
    if (!image.HasPicture()) return "";
    return image.PicturePath().ends_with(kBlackStoneFile) ? "B" : "W";
  }
  const TControl& Label(int point) { return tk_.Control("Label" + std::to_string(point)); }

  std::filesystem::path dir_;
  THeadlessToolkit tk_;
  std::unique_ptr<TBoardView> view_;
};

}  // namespace goramina
