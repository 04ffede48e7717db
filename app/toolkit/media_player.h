// The invisible media player that plays the board's WAVE sounds. Playback never blocks: Play
// returns at once while the sound goes on, and a machine without sound stays silent.
#pragma once

#include <string>

namespace goramina {

class TToolkit;

enum class TMediaMode {
  NotOpen,  // no file opened, or the file could not be opened
  Open,     // opened and not played yet
  Playing,  // Play was called; the sound may still be running
};

class TMediaPlayer {
 public:
  TMediaPlayer(TToolkit& owner, std::string name);
  TMediaPlayer(const TMediaPlayer&) = delete;
  TMediaPlayer& operator=(const TMediaPlayer&) = delete;

  const std::string& Name() const { return name_; }

  // Sets the file to open next. A different file closes the one open, so Play never plays a
  // stale sound.
  void SetFileName(const std::string& path);
  const std::string& FileName() const { return fileName_; }

  TMediaMode Mode() const { return mode_; }
  // True in the "open" mode: opened and not yet played.
  bool IsOpen() const { return mode_ == TMediaMode::Open; }

  // Opens FileName with the device chosen from its extension (".wav": wave audio). A missing
  // or unplayable file leaves the player not open; sounds are an accompaniment, so this is
  // never an error that would break off the user's action.
  void Open();

  // Starts playback of the open file and returns at once; does nothing when not open.
  void Play();

 private:
  TToolkit& owner_;
  const std::string name_;
  std::string fileName_;
  TMediaMode mode_ = TMediaMode::NotOpen;
};

}  // namespace goramina
