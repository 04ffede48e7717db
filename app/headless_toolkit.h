// A toolkit without a window, for tests: it keeps the state of every control, records the
// boxes shown, the sounds played and the help opened, answers confirmation boxes from a
// script, and lets the test deliver clicks, presses and timer ticks by hand.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "app/toolkit.h"

namespace goramina {

class THeadlessToolkit : public TToolkit {
 public:
  struct TShownBox {
    TBoxKind kind;
    std::string text;
    TModalResult answer;
  };

  THeadlessToolkit() = default;

  // --- What the test sets ----------------------------------------------------------------------
  // Answers for the coming confirmation boxes, in order. A confirmation box with no answer
  // left throws EComponentError, so an unexpected question fails the test.
  void AnswerNextConfirmations(std::initializer_list<TModalResult> answers);
  void SetNow(const TDateTime& now) { now_ = now; }
  void SetScrollPosition(int horizontal, int vertical);
  void SetProgramDir(const std::string& dir) { programDir_ = dir; }
  // The control holding the keyboard focus; empty for none (the board, a button). An edit or a
  // combo box keeps the keys typed into it.
  void SetFocusedControl(const std::string& name) { focused_ = name; }

  // --- What the test reads ---------------------------------------------------------------------
  const std::vector<TShownBox>& Boxes() const { return boxes_; }
  // Files played, in order.
  const std::vector<std::string>& PlayedSounds() const { return played_; }
  int HelpOpenCount() const { return helpOpened_; }
  bool Terminated() const { return terminated_; }
  bool Running() const { return running_; }
  void ClearRecords();

  // --- TToolkit ----------------------------------------------------------------------------------
  int HorizontalScrollPosition() const override { return scrollX_; }
  int VerticalScrollPosition() const override { return scrollY_; }
  TDateTime Now() const override { return now_; }
  void ShowHelpContents() override { ++helpOpened_; }
  std::string ProgramDir() const override;
  // Delivers the first-show event and returns at once: there is no event loop.
  int Run() override;
  void Terminate() override { terminated_ = true; }
  void PropertyChanged(TControl&, TProperty) override {}
  bool OpenSound(TMediaPlayer& player) override;
  void PlaySound(TMediaPlayer& player) override { played_.push_back(player.FileName()); }

 protected:
  void RealiseForm() override {}
  void StatusChanged(int) override {}
  void TimerChanged(const std::string&, bool, int) override {}
  TModalResult ShowBox(TBoxKind kind, const std::string& text) override;
  bool TextFieldHasFocus() const override;

 private:
  std::string focused_;
  std::deque<TModalResult> answers_;
  std::vector<TShownBox> boxes_;
  std::vector<std::string> played_;
  TDateTime now_;
  int scrollX_ = 0;
  int scrollY_ = 0;
  std::string programDir_;
  int helpOpened_ = 0;
  bool terminated_ = false;
  bool running_ = false;
};

}  // namespace goramina
