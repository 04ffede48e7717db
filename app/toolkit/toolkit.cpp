#include "app/toolkit/toolkit.h"

#include <unistd.h>

#include <exception>

namespace goramina {
namespace {

void CollectMenuCommands(const std::vector<TMenuItemSpec>& items, std::set<std::string>& out,
                         std::map<std::string, bool>& checks) {
  for (const auto& item : items) {
    if (item.items.empty()) out.insert(item.name);
    if (item.items.empty() && item.checkable) checks[item.name] = false;
    CollectMenuCommands(item.items, out, checks);
  }
}

template <typename Handler>
const Handler* Lookup(const std::map<std::string, Handler>& handlers, const std::string& name) {
  const auto it = handlers.find(name);
  return it == handlers.end() || !it->second ? nullptr : &it->second;
}

}  // namespace

TToolkit::TToolkit() = default;
TToolkit::~TToolkit() = default;

void TToolkit::CreateForm(const TFormSpec& spec) {
  if (formCreated_) throw EComponentError("CreateForm: the form exists already");
  for (const auto& c : spec.controls) {
    if (c.name.empty() || byName_.count(c.name) != 0) {
      throw EComponentError("CreateForm: duplicate or empty control name \"" + c.name + "\"");
    }
    if (!c.parent.empty() && byName_.count(c.parent) == 0) {
      throw EComponentError("CreateForm: parent \"" + c.parent + "\" of \"" + c.name +
                            "\" must be created before it");
    }
    controls_.push_back(std::make_unique<TControl>(*this, c));
    byName_[c.name] = controls_.back().get();
  }
  form_ = spec;
  form_.controls.clear();  // the controls themselves hold their descriptions
  for (const auto& c : controls_) form_.controls.push_back(c->Spec());
  CollectMenuCommands(spec.menu, menuCommands_, menuChecks_);
  statusTexts_.assign(spec.statusPanels.size(), std::string());
  for (const auto& t : spec.timers) timers_[t.name] = TTimerState{t.intervalMs, false, false};
  for (const auto& name : spec.mediaPlayers) {
    players_[name] = std::make_unique<TMediaPlayer>(*this, name);
  }
  title_ = spec.caption;
  formCreated_ = true;
  RealiseForm();
  for (const auto& t : spec.timers) SetTimerEnabled(t.name, t.enabled);
}

TControl* TToolkit::FindControl(const std::string& name) {
  const auto it = byName_.find(name);
  return it == byName_.end() ? nullptr : it->second;
}

const TControl* TToolkit::FindControl(const std::string& name) const {
  const auto it = byName_.find(name);
  return it == byName_.end() ? nullptr : it->second;
}

TControl& TToolkit::Control(const std::string& name) {
  if (TControl* c = FindControl(name)) return *c;
  throw EComponentError("Control \"" + name + "\" not found");
}

const TControl& TToolkit::Control(const std::string& name) const {
  return const_cast<TToolkit*>(this)->Control(name);
}

void TToolkit::SetStatusText(int panel, const std::string& text) {
  if (panel < 0 || panel >= static_cast<int>(statusTexts_.size())) {
    throw EComponentError("Status panel " + std::to_string(panel) + " does not exist");
  }
  statusTexts_[panel] = text;
  StatusChanged(panel);
}

const std::string& TToolkit::StatusText(int panel) const {
  if (panel < 0 || panel >= static_cast<int>(statusTexts_.size())) {
    throw EComponentError("Status panel " + std::to_string(panel) + " does not exist");
  }
  return statusTexts_[panel];
}

void TToolkit::ShowMessage(const std::string& text) {
  ShowBox(TBoxKind::Message, text);
}

void TToolkit::ShowInformation(const std::string& text) {
  ShowBox(TBoxKind::Information, text);
}

void TToolkit::ShowReport(const std::string& summary, const std::string& details) {
  ShowBox(TBoxKind::Information, details.empty() ? summary : summary + "\n" + details);
}

TModalResult TToolkit::Confirm(const std::string& text) {
  return ShowBox(TBoxKind::Confirmation, text);
}

void TToolkit::SetMenuChecked(const std::string& name, bool checked) {
  const auto it = menuChecks_.find(name);
  if (it == menuChecks_.end()) throw EComponentError("No checkable menu item \"" + name + "\"");
  if (it->second == checked) return;
  it->second = checked;
  MenuCheckedChanged(name);
}

bool TToolkit::MenuChecked(const std::string& name) const {
  const auto it = menuChecks_.find(name);
  if (it == menuChecks_.end()) throw EComponentError("No checkable menu item \"" + name + "\"");
  return it->second;
}

std::string TToolkit::ReadSetting(const std::string& key, const std::string& fallback) const {
  const auto it = settings_.find(key);
  return it == settings_.end() ? fallback : it->second;
}

void TToolkit::WriteSetting(const std::string& key, const std::string& value) {
  settings_[key] = value;
}

void TToolkit::SetTimerEnabled(const std::string& name, bool enabled) {
  const auto it = timers_.find(name);
  if (it == timers_.end()) throw EComponentError("Timer \"" + name + "\" not found");
  it->second.enabled = enabled;
  if (!enabled) it->second.pendingTick = false;
  TimerChanged(name, enabled, it->second.intervalMs);
}

bool TToolkit::TimerEnabled(const std::string& name) const {
  const auto it = timers_.find(name);
  if (it == timers_.end()) throw EComponentError("Timer \"" + name + "\" not found");
  return it->second.enabled;
}

TMediaPlayer& TToolkit::MediaPlayer(const std::string& name) {
  const auto it = players_.find(name);
  if (it == players_.end()) throw EComponentError("Media player \"" + name + "\" not found");
  return *it->second;
}

void TToolkit::SetTitle(const std::string& title) {
  title_ = title;
  TitleChanged();
}

std::vector<std::string> TToolkit::ChooseFilesToOpen(const std::string&, const std::string&) {
  return {};
}

std::string TToolkit::ChooseFolder(const std::string&) {
  return {};
}

std::string TToolkit::ChooseFileToSave(const std::string&, const std::string&, const std::string&) {
  return {};
}

bool TToolkit::ShowProgress(const std::string&, int, int, const std::string&) {
  return true;
}

void TToolkit::CloseProgress() {}

std::string TToolkit::ProgramDir() const {
  char buffer[4096];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return "./";
  std::string path(buffer, static_cast<size_t>(n));
  return path.substr(0, path.rfind('/') + 1);
}

void TToolkit::OnClick(const std::string& sender, TNotifyHandler handler) {
  clickHandlers_[sender] = std::move(handler);
}
void TToolkit::OnDblClick(const std::string& sender, TNotifyHandler handler) {
  dblClickHandlers_[sender] = std::move(handler);
}
void TToolkit::OnCellClick(const std::string& sender, TNotifyHandler handler) {
  cellClickHandlers_[sender] = std::move(handler);
}
void TToolkit::OnChange(const std::string& sender, TNotifyHandler handler) {
  changeHandlers_[sender] = std::move(handler);
}
void TToolkit::OnMouseDown(const std::string& sender, TMouseHandler handler) {
  mouseHandlers_[sender] = std::move(handler);
}
void TToolkit::OnTimer(const std::string& timer, TNotifyHandler handler) {
  timerHandlers_[timer] = std::move(handler);
}
void TToolkit::OnShow(TNotifyHandler handler) {
  showHandler_ = std::move(handler);
}
void TToolkit::OnKeyDown(TKeyHandler handler) {
  keyHandler_ = std::move(handler);
}
void TToolkit::OnAfterEvent(std::function<void()> handler) {
  afterEvent_ = std::move(handler);
}

bool TToolkit::ControlAcceptsInput(const std::string& name) const {
  if (menuCommands_.count(name) != 0) return true;
  const auto it = byName_.find(name);
  if (it == byName_.end()) return false;
  // A control takes input only when it and every parent are visible and enabled.
  for (const TControl* c = it->second; c != nullptr;) {
    if (!c->Visible() || !c->Enabled()) return false;
    const auto parent = byName_.find(c->Spec().parent);
    c = parent == byName_.end() ? nullptr : parent->second;
  }
  return true;
}

void TToolkit::RunGuarded(const std::function<void()>& call) {
  try {
    call();
  } catch (const std::exception& e) {
    // The user's action ends here; the window goes on.
    ShowBox(TBoxKind::Error, e.what());
  } catch (...) {
    ShowBox(TBoxKind::Error, "Unknown error");
  }
}

bool TToolkit::Dispatch(const std::string& sender, const std::function<void()>& call) {
  (void)sender;
  ++depth_;
  RunGuarded(call);
  if (depth_ == 1 && afterEvent_) RunGuarded(afterEvent_);
  --depth_;
  if (depth_ == 0) DeliverHeldTicks();
  return true;
}

void TToolkit::DeliverHeldTicks() {
  for (auto& [name, timer] : timers_) {
    if (timer.pendingTick && timer.enabled) {
      timer.pendingTick = false;
      DeliverTimer(name);
    }
  }
}

bool TToolkit::DeliverClick(const std::string& sender) {
  const auto* h = Lookup(clickHandlers_, sender);
  if (h == nullptr || !ControlAcceptsInput(sender)) return false;
  if (const auto check = menuChecks_.find(sender); check != menuChecks_.end()) {
    SetMenuChecked(sender, !check->second);
  }
  TControl* c = FindControl(sender);
  if (c != nullptr && c->Kind() == TControlKind::RadioButton) c->TakeUserChecked();
  const TNotifyHandler handler = *h;  // the handler may replace itself
  return Dispatch(sender, [&] { handler(sender); });
}

bool TToolkit::DeliverDblClick(const std::string& sender) {
  const auto* h = Lookup(dblClickHandlers_, sender);
  if (h == nullptr || !ControlAcceptsInput(sender)) return false;
  const TNotifyHandler handler = *h;
  return Dispatch(sender, [&] { handler(sender); });
}

bool TToolkit::DeliverCellClick(const std::string& sender) {
  const auto* h = Lookup(cellClickHandlers_, sender);
  if (h == nullptr || !ControlAcceptsInput(sender)) return false;
  const TNotifyHandler handler = *h;
  return Dispatch(sender, [&] { handler(sender); });
}

bool TToolkit::DeliverChange(const std::string& sender) {
  const auto* h = Lookup(changeHandlers_, sender);
  if (h == nullptr || !ControlAcceptsInput(sender)) return false;
  const TNotifyHandler handler = *h;
  return Dispatch(sender, [&] { handler(sender); });
}

bool TToolkit::DeliverMouseDown(const std::string& sender, TMouseButton button, TShiftState shift,
                                int x, int y) {
  const auto* h = Lookup(mouseHandlers_, sender);
  if (h == nullptr || !ControlAcceptsInput(sender)) return false;
  const TMouseHandler handler = *h;
  return Dispatch(sender, [&] { handler(sender, button, shift, x, y); });
}

bool TToolkit::DeliverTimer(const std::string& timer) {
  const auto it = timers_.find(timer);
  if (it == timers_.end() || !it->second.enabled) return false;
  const auto* h = Lookup(timerHandlers_, timer);
  if (h == nullptr) return false;
  if (depth_ > 0) {
    // Never interrupt a running handler: the tick waits until it returns.
    it->second.pendingTick = true;
    return false;
  }
  const TNotifyHandler handler = *h;
  return Dispatch(timer, [&] { handler(timer); });
}

bool TToolkit::DeliverKeyDown(TKey key) {
  if (!keyHandler_ || key == TKey::Other || TextFieldHasFocus()) return false;
  const TKeyHandler handler = keyHandler_;
  bool used = false;
  Dispatch(form_.name, [&] { used = handler(key); });
  return used;
}

bool TToolkit::DeliverShow() {
  if (shown_) return false;
  shown_ = true;
  if (!showHandler_) return false;
  const TNotifyHandler handler = showHandler_;
  return Dispatch(form_.name, [&] { handler(form_.name); });
}

}  // namespace goramina
