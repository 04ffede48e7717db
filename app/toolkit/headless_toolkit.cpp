#include "app/toolkit/headless_toolkit.h"

#include <sys/stat.h>

namespace goramina {

void THeadlessToolkit::AnswerNextConfirmations(std::initializer_list<TModalResult> answers) {
  answers_.insert(answers_.end(), answers.begin(), answers.end());
}

void THeadlessToolkit::SetScrollPosition(int horizontal, int vertical) {
  scrollX_ = horizontal;
  scrollY_ = vertical;
}

void THeadlessToolkit::ClearRecords() {
  boxes_.clear();
  played_.clear();
  helpOpened_ = 0;
}

std::string THeadlessToolkit::ProgramDir() const {
  return programDir_.empty() ? TToolkit::ProgramDir() : programDir_;
}

int THeadlessToolkit::Run() {
  running_ = true;
  DeliverShow();
  return 0;
}

bool THeadlessToolkit::OpenSound(TMediaPlayer& player) {
  struct stat info {};
  return stat(player.FileName().c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool THeadlessToolkit::TextFieldHasFocus() const {
  const TControl* c = focused_.empty() ? nullptr : FindControl(focused_);
  if (c == nullptr) return false;
  switch (c->Kind()) {
    case TControlKind::Edit:
    case TControlKind::ComboBox:
      return true;
    default:
      return false;
  }
}

TModalResult THeadlessToolkit::ShowBox(TBoxKind kind, const std::string& text) {
  TModalResult answer = TModalResult::Ok;
  if (kind == TBoxKind::Confirmation) {
    if (answers_.empty()) {
      boxes_.push_back({kind, text, TModalResult::Cancel});
      throw EComponentError("Unexpected confirmation box: " + text);
    }
    answer = answers_.front();
    answers_.pop_front();
  }
  boxes_.push_back({kind, text, answer});
  return answer;
}

std::vector<std::string> THeadlessToolkit::ChooseFilesToOpen(const std::string&,
                                                             const std::string&) {
  if (files_.empty()) return {};
  std::vector<std::string> files = std::move(files_.front());
  files_.pop_front();
  return files;
}

std::string THeadlessToolkit::ChooseFolder(const std::string&) {
  if (paths_.empty()) return {};
  std::string path = std::move(paths_.front());
  paths_.pop_front();
  return path;
}

std::string THeadlessToolkit::ChooseFileToSave(const std::string& title, const std::string&,
                                               const std::string&) {
  return ChooseFolder(title);
}

bool THeadlessToolkit::ShowProgress(const std::string&, int done, int total,
                                    const std::string& text) {
  progressOpen_ = true;
  progress_.push_back(std::to_string(done) + "/" + std::to_string(total) + " " + text);
  return cancelAt_ == 0 || static_cast<int>(progress_.size()) < cancelAt_;
}

}  // namespace goramina
