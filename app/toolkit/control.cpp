#include "app/toolkit/control.h"

#include "app/toolkit/toolkit.h"

namespace goramina {
namespace {

const char* KindName(TControlKind kind) {
  switch (kind) {
    case TControlKind::Label:
      return "label";
    case TControlKind::Image:
      return "image";
    case TControlKind::Shape:
      return "shape";
    case TControlKind::Button:
      return "button";
    case TControlKind::Grid:
      return "grid";
    case TControlKind::Edit:
      return "edit";
    case TControlKind::ComboBox:
      return "combo box";
    case TControlKind::RadioButton:
      return "radio button";
    case TControlKind::GroupBox:
      return "group box";
  }
  return "control";
}

}  // namespace

TControl::TControl(TToolkit& owner, const TControlSpec& spec)
    : owner_(owner),
      spec_(spec),
      visible_(spec.visible),
      enabled_(spec.enabled),
      left_(spec.left),
      top_(spec.top),
      width_(spec.width),
      height_(spec.height),
      text_(spec.text),
      color_(spec.color),
      fontColor_(spec.font.color),
      checked_(spec.checked),
      items_(spec.items) {}

void TControl::Require(TControlKind kind, const char* operation) const {
  if (spec_.kind != kind) {
    throw EComponentError(std::string(operation) + ": \"" + spec_.name + "\" is a " +
                          KindName(spec_.kind) + ", not a " + KindName(kind));
  }
}

void TControl::Changed(TProperty property) {
  owner_.PropertyChanged(*this, property);
}

void TControl::SetVisible(bool visible) {
  if (visible_ == visible) return;
  visible_ = visible;
  Changed(TProperty::Visible);
}

void TControl::SetEnabled(bool enabled) {
  if (enabled_ == enabled) return;
  enabled_ = enabled;
  Changed(TProperty::Enabled);
}

void TControl::SetLeft(int left) {
  left_ = left;
  Changed(TProperty::Geometry);
}

void TControl::SetTop(int top) {
  top_ = top;
  Changed(TProperty::Geometry);
}

void TControl::SetWidth(int width) {
  width_ = width;
  Changed(TProperty::Geometry);
}

void TControl::SetHeight(int height) {
  height_ = height;
  Changed(TProperty::Geometry);
}

void TControl::SetText(const std::string& text) {
  if (text_ == text) return;
  text_ = text;
  Changed(TProperty::Text);
}

void TControl::SetColor(TColor color) {
  color_ = color;
  Changed(TProperty::Color);
}

void TControl::SetFontColor(TColor color) {
  fontColor_ = color;
  Changed(TProperty::FontColor);
}

void TControl::LoadPicture(const std::string& path) {
  Require(TControlKind::Image, "LoadPicture");
  // Read before touching the picture, so a failure leaves the control as it was.
  auto picture = std::make_shared<const TBitmap>(ReadBmpFile(path));
  picture_ = std::move(picture);
  picturePath_ = path;
  Changed(TProperty::Picture);
}

void TControl::SetPicture(std::shared_ptr<const TBitmap> picture, const std::string& path) {
  Require(TControlKind::Image, "SetPicture");
  picture_ = std::move(picture);
  picturePath_ = picture_ ? path : std::string();
  Changed(TProperty::Picture);
}

void TControl::ClearPicture() {
  Require(TControlKind::Image, "ClearPicture");
  if (!picture_) return;
  picture_.reset();
  picturePath_.clear();
  Changed(TProperty::Picture);
}

void TControl::SetChecked(bool checked) {
  Require(TControlKind::RadioButton, "SetChecked");
  if (checked_ == checked) return;
  checked_ = checked;
  if (checked) UncheckSiblings();
  Changed(TProperty::Checked);
}

void TControl::UncheckSiblings() {
  for (const auto& other : owner_.Controls()) {
    if (other.get() != this && other->Kind() == TControlKind::RadioButton &&
        other->Spec().parent == spec_.parent && other->checked_) {
      other->checked_ = false;
      other->Changed(TProperty::Checked);
    }
  }
}

void TControl::SetItems(const std::vector<std::string>& items) {
  Require(TControlKind::ComboBox, "SetItems");
  items_ = items;
  itemIndex_ = -1;
  Changed(TProperty::Items);
}

void TControl::SetItemIndex(int index) {
  Require(TControlKind::ComboBox, "SetItemIndex");
  if (index < -1 || index >= static_cast<int>(items_.size())) {
    throw EComponentError("SetItemIndex: list index out of bounds (" + std::to_string(index) +
                          ") in \"" + spec_.name + "\"");
  }
  itemIndex_ = index;
  if (index >= 0) text_ = items_[index];
  Changed(TProperty::ItemIndex);
}

void TControl::DetachDataSource() {
  if (spec_.kind != TControlKind::Grid && spec_.kind != TControlKind::Edit) {
    Require(TControlKind::Grid, "DetachDataSource");
  }
  if (!attached_) return;
  attached_ = false;
  Changed(TProperty::DataSource);
}

void TControl::AttachDataSource() {
  if (spec_.kind != TControlKind::Grid && spec_.kind != TControlKind::Edit) {
    Require(TControlKind::Grid, "AttachDataSource");
  }
  if (attached_) return;
  attached_ = true;
  Changed(TProperty::DataSource);
}

void TControl::TakeUserText(const std::string& text) {
  text_ = text;
}

void TControl::TakeUserItemIndex(int index) {
  if (index < -1 || index >= static_cast<int>(items_.size())) return;
  itemIndex_ = index;
  if (index >= 0) text_ = items_[index];
}

void TControl::TakeUserChecked() {
  if (checked_) return;
  checked_ = true;
  UncheckSiblings();
}

}  // namespace goramina
