// One control of the main window as the application sees it: its properties live here, and
// every change is reported to the owning toolkit, which shows it (or, headless, just keeps it).
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/toolkit/bitmap.h"
#include "app/toolkit/form_spec.h"

namespace goramina {

class TToolkit;

// A control asked for an operation its kind does not have, or a name that does not exist.
class EComponentError : public std::logic_error {
 public:
  using std::logic_error::logic_error;
};

enum class TProperty {
  Visible,
  Enabled,
  Geometry,
  Text,
  Color,
  FontColor,
  Picture,
  Checked,
  Items,
  ItemIndex,
  DataSource,
};

class TControl {
 public:
  // Made by the toolkit from the form description; not copied.
  TControl(TToolkit& owner, const TControlSpec& spec);
  TControl(const TControl&) = delete;
  TControl& operator=(const TControl&) = delete;

  const std::string& Name() const { return spec_.name; }
  TControlKind Kind() const { return spec_.kind; }
  // The description the control was created from (its initial state).
  const TControlSpec& Spec() const { return spec_; }

  bool Visible() const { return visible_; }
  void SetVisible(bool visible);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled);

  // Position in pixels relative to the client area of the parent (form or group box).
  int Left() const { return left_; }
  int Top() const { return top_; }
  int Width() const { return width_; }
  int Height() const { return height_; }
  void SetLeft(int left);
  void SetTop(int top);
  void SetWidth(int width);
  void SetHeight(int height);

  // Label text, button / radio / group caption, edit or combo text.
  const std::string& Text() const { return text_; }
  void SetText(const std::string& text);

  // Button face, shape fill, edit background.
  TColor Color() const { return color_; }
  void SetColor(TColor color);

  // Text colour of labels and button captions.
  TColor FontColor() const { return fontColor_; }
  void SetFontColor(TColor color);

  // Images: reads the bitmap file at `path` and shows it. On failure (EFOpenError for a file
  // that cannot be opened, EInvalidGraphic for one that is not a bitmap) the picture is left
  // as it was.
  void LoadPicture(const std::string& path);
  // Images: shows a picture already read from `path` (shared, never copied).
  void SetPicture(std::shared_ptr<const TBitmap> picture, const std::string& path);
  // Images: no picture (the point shows nothing).
  void ClearPicture();
  bool HasPicture() const { return picture_ != nullptr; }
  // The file the current picture came from; empty without a picture.
  const std::string& PicturePath() const { return picturePath_; }
  std::shared_ptr<const TBitmap> Picture() const { return picture_; }

  // Radio buttons: checking one unchecks the other radio buttons of the same parent.
  bool Checked() const { return checked_; }
  void SetChecked(bool checked);

  // Combo boxes. Selecting an item also sets the text; -1 selects nothing.
  const std::vector<std::string>& Items() const { return items_; }
  void SetItems(const std::vector<std::string>& items);
  int ItemIndex() const { return itemIndex_; }
  void SetItemIndex(int index);

  // Grids and edits: detached from their data source they show nothing and ignore its
  // changes, so a series of cursor moves is not drawn row by row; attaching again shows the
  // current state at once.
  void DetachDataSource();
  void AttachDataSource();
  bool DataSourceAttached() const { return attached_; }

  // Used by the toolkits to take over what the user did in the window (typed text, chosen
  // item, checked radio button) before the event is delivered; the window is not told again.
  void TakeUserText(const std::string& text);
  void TakeUserItemIndex(int index);
  void TakeUserChecked();

 private:
  void Require(TControlKind kind, const char* operation) const;
  void Changed(TProperty property);
  void UncheckSiblings();

  TToolkit& owner_;
  const TControlSpec spec_;
  bool visible_;
  bool enabled_;
  int left_, top_, width_, height_;
  std::string text_;
  TColor color_;
  TColor fontColor_;
  std::shared_ptr<const TBitmap> picture_;
  std::string picturePath_;
  bool checked_;
  std::vector<std::string> items_;
  int itemIndex_ = -1;
  bool attached_ = true;
};

}  // namespace goramina
