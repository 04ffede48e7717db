// A board on the headless toolkit, with small stone pictures in a folder of its own.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

#include "app/board/board.h"
#include "app/board/board_view.h"
#include "app/toolkit/headless_toolkit.h"

namespace goramina {

// A fresh folder for the running test, named after it.
inline std::filesystem::path MakeTestFolder(const std::string& prefix) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() /
      (prefix + std::to_string(::getpid()) + "_" +
       ::testing::UnitTest::GetInstance()->current_test_info()->name());
  std::filesystem::create_directories(dir);
  return dir;
}

// One-pixel stone pictures, black and white, as the board view reads them from `dir`.
inline void WriteTestStonePictures(const std::filesystem::path& dir) {
  TBitmap pixel;
  pixel.width = pixel.height = 1;
  pixel.pixels = {0xFF000000};
  WriteBmpFile((dir / kBlackStoneFile).string(), pixel);
  pixel.pixels = {0xFFFFFFFF};
  WriteBmpFile((dir / kWhiteStoneFile).string(), pixel);
}

// "B" for a black stone image at `point`, "W" for white, "" for none.
inline std::string StoneShownAt(const TToolkit& toolkit, int point) {
  const TControl& image = toolkit.Control("Image" + std::to_string(point));
  if (!image.HasPicture()) return "";
  return image.PicturePath().ends_with(kBlackStoneFile) ? "B" : "W";
}

class BoardFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = MakeTestFolder("goramina_board_");
    WriteTestStonePictures(dir_);

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
  std::string Stone(int point) { return StoneShownAt(tk_, point); }
  const TControl& Label(int point) { return tk_.Control("Label" + std::to_string(point)); }

  std::filesystem::path dir_;
  THeadlessToolkit tk_;
  std::unique_ptr<TBoardView> view_;
};

}  // namespace goramina
