// board_demo [--screenshot FILE]: the board in a window with a short game on it. Clicking a
// point plays the next colour there. With --screenshot the window is drawn once into FILE
// (PNG) and the program ends.
#include <QApplication>
#include <QImage>
#include <QMainWindow>
#include <cstdio>
#include <cstring>

#include "app/board/board.h"
#include "app/board/board_view.h"
#include "app/qt/board_demo_scene.h"
#include "app/qt/qt_toolkit.h"

int main(int argc, char** argv) {
  using namespace goramina;
  QApplication app(argc, argv);
  TQtToolkit tk;
  tk.CreateForm(BoardDemoForm());
  TBoardView view(tk, tk.ProgramDir());
  SetBoardView(&view);
  try {
    PlayBoardDemo();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "board_demo: %s\n", e.what());
    return 1;
  }
  for (int n = 1; n <= kPointCount; ++n) {
    tk.OnMouseDown("Label" + std::to_string(n), [&tk](const std::string& sender, TMouseButton,
                                                      TShiftState, int, int) {
      const TControl& label = tk.Control(sender);
      const int p = PointFromLabel(label.Left(), label.Top(), tk.HorizontalScrollPosition(),
                                   tk.VerticalScrollPosition());
      tk.SetStatusText(0, "");
      const int colour = ColourToPlay < 0 ? -ColourToPlay : ColourToPlay;
      if (!MoveFits(colour, p, true)) return;
      ++HistoryTop;
      ++MoveNumber;
      Board[p] = colour;
      MoveHistory[HistoryTop] = TMoveRecord{MoveNumber, colour, p};
      PlaceStone(MoveNumber, colour, p, 2);
      ColourToPlay = 2 / colour;
    });
  }
  if (argc == 3 && std::strcmp(argv[1], "--screenshot") == 0) {
    tk.Window()->show();
    QApplication::processEvents();
    const bool saved = tk.Window()->grab().toImage().save(argv[2], "PNG");
    SetBoardView(nullptr);
    return saved ? 0 : 1;
  }
  const int code = tk.Run();
  SetBoardView(nullptr);
  return code;
}
