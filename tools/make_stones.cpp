// make_stones DIR: writes the board's stone pictures stB.bmp and stW.bmp into DIR.
#include <cstdio>
#include <exception>
#include <string>

#include "tools/stone_painter.h"

namespace {

// Four times the 28-pixel board cell: sharp on high-density screens, smooth when scaled down.
constexpr int kStonePixels = 112;

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_stones DIR\n");
    return 2;
  }
  const std::string dir = std::string(argv[1]) + "/";
  try {
    goramina::WriteBmpFile(dir + "stB.bmp",
                           goramina::PaintStone(goramina::TStoneColour::Black, kStonePixels));
    goramina::WriteBmpFile(dir + "stW.bmp",
                           goramina::PaintStone(goramina::TStoneColour::White, kStonePixels));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make_stones: %s\n", e.what());
    return 1;
  }
  return 0;
}
