// A toolkit without a window, for tests: it keeps the state of every control, records the
// boxes shown, the sounds played and the help opened, answers confirmation boxes from a
// script, and lets the test deliver clicks, presses and timer ticks by hand.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "app/toolkit/toolkit.h"

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

  // What the coming file dialogs answer (each answer is used once; none left: cancelled).
  void AnswerNextFiles(std::vector<std::string> files) { files_.push_back(std::move(files)); }
  void AnswerNextPath(std::string path) { paths_.push_back(std::move(path)); }
  // The progress box asks to cancel from its `calls`-th showing on (1 is the first).
  void CancelProgressAt(int calls) { cancelAt_ = calls; }

  // --- What the test reads ---------------------------------------------------------------------
  const std::vector<TShownBox>& Boxes() const { return boxes_; }
  // Files played, in order.
  const std::vector<std::string>& PlayedSounds() const { return played_; }
  int HelpOpenCount() const { return helpOpened_; }
  bool Terminated() const { return terminated_; }
  // Every progress line shown, "done/total text", and whether the box is open.
  const std::vector<std::string>& ProgressShown() const { return progress_; }
  bool ProgressOpen() const { return progressOpen_; }
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
  std::vector<std::string> ChooseFilesToOpen(const std::string& title,
                                             const std::string& filter) override;
  std::string ChooseFolder(const std::string& title) override;
  std::string ChooseFileToSave(const std::string& title, const std::string& filter,
                               const std::string& suggested) override;
  bool ShowProgress(const std::string& title, int done, int total,
                    const std::string& text) override;
  void CloseProgress() override { progressOpen_ = false; }
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
  std::deque<std::vector<std::string>> files_;
  std::deque<std::string> paths_;
  std::vector<std::string> progress_;
  bool progressOpen_ = false;
  int cancelAt_ = 0;
};

}  // namespace goramina
