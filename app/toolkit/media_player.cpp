#include "app/toolkit/media_player.h"

#include <algorithm>
#include <cctype>

#include "app/toolkit/toolkit.h"

namespace goramina {
namespace {

bool IsWaveFile(const std::string& path) {
  const auto dot = path.rfind('.');
  if (dot == std::string::npos) return false;
  std::string ext = path.substr(dot + 1);
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return ext == "wav";
}

}  // namespace

TMediaPlayer::TMediaPlayer(TToolkit& owner, std::string name)
    : owner_(owner), name_(std::move(name)) {}

void TMediaPlayer::SetFileName(const std::string& path) {
  if (path != fileName_) mode_ = TMediaMode::NotOpen;
  fileName_ = path;
}

void TMediaPlayer::Open() {
  mode_ = IsWaveFile(fileName_) && owner_.OpenSound(*this) ? TMediaMode::Open : TMediaMode::NotOpen;
}

void TMediaPlayer::Play() {
  if (mode_ == TMediaMode::NotOpen) return;
  mode_ = TMediaMode::Playing;
  owner_.PlaySound(*this);
}

}  // namespace goramina
