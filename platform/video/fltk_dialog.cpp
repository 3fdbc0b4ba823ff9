#include "platform/video/fltk_dialog.h"

#include "platform/video/signals.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Check_Button.H>
#include <FL/Fl_Choice.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Return_Button.H>
#include <FL/fl_ask.H>
#include <FL/fl_draw.H>
#include <FL/x.H>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

namespace platform {

namespace {

constexpr double kSignalPollSeconds = 0.05;

// FLTK ends the process when it cannot open a display, so the display is
// probed first. The connection FLTK keeps stays open for later dialogs.
bool OpenDisplay() {
  if (fl_display) return true;
  ::Display* probe = XOpenDisplay(nullptr);
  if (!probe) return false;
  XCloseDisplay(probe);
  fl_open_display();
  // FLTK's shaded look, closest to a desktop dialog's; the windows carry the
  // program's class, as its demo window and its launcher do, so a desktop
  // groups them under the launcher's icon.
  Fl::scheme("gtk+");
  Fl_Window::default_xclass("sorvane");
  return fl_display != nullptr;
}

// value × numerator / denominator, rounded half away from zero.
int MulDiv(int value, int numerator, int denominator) {
  const long long p = static_cast<long long>(value) * numerator;
  return static_cast<int>((p >= 0 ? p + denominator / 2 : p - denominator / 2) / denominator);
}

// Dialog units to pixels for one font: a horizontal unit is a quarter of the
// average width of the Latin letters, a vertical unit an eighth of the line
// height.
struct DialogUnits {
  int baseX = 1;
  int baseY = 1;
  int X(int units) const { return MulDiv(units, baseX, 4); }
  int Y(int units) const { return MulDiv(units, baseY, 8); }
};

DialogUnits Measure(Fl_Font font, int pixels) {
  fl_font(font, pixels);
  const int letters = static_cast<int>(std::lround(fl_width("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")));
  DialogUnits units;
  units.baseX = std::max(1, (letters / 26 + 1) / 2);
  units.baseY = std::max(1, fl_height());
  return units;
}

int FontPixels(int points) {
  const int clamped = std::clamp(points, 1, 72);
  return static_cast<int>(std::lround(clamped * 96.0 / 72.0));
}

class FltkDialog;

// Enter that no control claimed chooses the accept command; Escape and a
// close request reach the window's callback.
class DialogWindow final : public Fl_Double_Window {
 public:
  DialogWindow(int w, int h, FltkDialog& owner) : Fl_Double_Window(w, h), owner_(owner) {}
  int handle(int event) override;

 private:
  FltkDialog& owner_;
};

class FltkDialog final : public DialogHost {
 public:
  FltkDialog(const DialogTemplate& tmpl, DialogProc procedure) : tmpl_(tmpl), procedure_(procedure) {}
  FltkDialog(const FltkDialog&) = delete;
  FltkDialog& operator=(const FltkDialog&) = delete;

  intptr_t Run();
  void Command(int id);
  int AcceptId() const { return tmpl_.acceptId; }

  void AddString(int controlId, const char* text) override;
  void SetCurSel(int controlId, int index) override;
  int GetCurSel(int controlId) override;
  void SetCheck(int controlId, bool checked) override;
  bool GetCheck(int controlId) override;
  void End(intptr_t result) override;

 private:
  struct Control {
    FltkDialog* owner;
    int id;
    ControlKind kind;
    Fl_Widget* widget;
  };

  void Build();
  Fl_Widget* MakeWidget(const DialogControl& control, const DialogUnits& units, Fl_Font font, int pixels);
  Fl_Choice* FindChoice(int id);
  Fl_Check_Button* FindCheck(int id);
  static void OnControl(Fl_Widget*, void* control);
  static void OnCancel(Fl_Widget*, void* dialog);

  const DialogTemplate& tmpl_;
  DialogProc procedure_;
  std::unique_ptr<DialogWindow> window_;  // owns the widgets
  std::vector<Control> controls_;         // never grows after Build: callbacks point into it
  unsigned addedStrings_ = 0;
  bool ended_ = false;
  intptr_t result_ = -1;
};

int DialogWindow::handle(int event) {
  if (Fl_Double_Window::handle(event)) return 1;
  if (event == FL_SHORTCUT && (Fl::event_key() == FL_Enter || Fl::event_key() == FL_KP_Enter)) {
    owner_.Command(owner_.AcceptId());
    return 1;
  }
  return 0;
}

Fl_Widget* FltkDialog::MakeWidget(const DialogControl& c, const DialogUnits& units, Fl_Font font, int pixels) {
  const int x = units.X(c.x), y = units.Y(c.y);
  const int w = std::max(1, units.X(c.width)), h = std::max(1, units.Y(c.height));
  Fl_Widget* widget = nullptr;
  switch (c.kind) {
    case ControlKind::DefaultButton:
      widget = new Fl_Return_Button(x, y, w, h);
      break;
    case ControlKind::Button:
      widget = new Fl_Button(x, y, w, h);
      break;
    case ControlKind::Label: {
      auto* box = new Fl_Box(FL_NO_BOX, x, y, w, h, nullptr);
      box->align(FL_ALIGN_INSIDE | FL_ALIGN_TOP_RIGHT | FL_ALIGN_CLIP);
      widget = box;
      break;
    }
    case ControlKind::DropDown: {
      // The template's height includes the opened list; closed, the box is
      // one line of text high.
      auto* choice = new Fl_Choice(x, y, w, std::min(h, units.baseY + 8));
      choice->textfont(font);
      choice->textsize(pixels);
      widget = choice;
      break;
    }
    case ControlKind::CheckBox:
      widget = new Fl_Check_Button(x, y, w, h);
      break;
  }
  if (!widget) return nullptr;
  if (c.text && c.kind != ControlKind::DropDown && c.kind != ControlKind::CheckBox) widget->copy_label(c.text);
  widget->labelfont(font);
  widget->labelsize(pixels);
  return widget;
}

void FltkDialog::Build() {
  const Fl_Font font = tmpl_.fontBold ? FL_HELVETICA_BOLD : FL_HELVETICA;
  const int pixels = FontPixels(tmpl_.fontPoints);
  const DialogUnits units = Measure(font, pixels);
  const int width = std::max(1, units.X(tmpl_.width)), height = std::max(1, units.Y(tmpl_.height));

  window_ = std::make_unique<DialogWindow>(width, height, *this);
  window_->copy_label(tmpl_.caption ? tmpl_.caption : "");
  window_->callback(OnCancel, this);
  const int count = tmpl_.controls ? std::max(0, tmpl_.controlCount) : 0;
  controls_.reserve(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    const DialogControl& c = tmpl_.controls[i];
    Fl_Widget* widget = MakeWidget(c, units, font, pixels);
    if (!widget) continue;
    controls_.push_back({this, c.id, c.kind, widget});
    if (c.kind != ControlKind::Label) widget->callback(OnControl, &controls_.back());
  }
  window_->end();

  window_->resizable(nullptr);
  window_->size_range(width, height, width, height);
  window_->set_modal();
  int sx, sy, sw, sh;
  Fl::screen_work_area(sx, sy, sw, sh);
  window_->position(sx + (sw - width) / 2, sy + (sh - height) / 2);
}

intptr_t FltkDialog::Run() {
  Build();
  procedure_(*this, kDlgInit, 0, 0);
  if (!ended_) {
    window_->show();
    for (const Control& c : controls_)
      if (c.kind != ControlKind::Label && c.widget->take_focus()) break;
    // A close signal ends the dialog as its close box does; the wait wakes
    // often enough to see one.
    while (!ended_ && window_->shown()) {
      Fl::wait(kSignalPollSeconds);
      if (TakeCloseSignal()) Command(tmpl_.cancelId);
    }
    if (!ended_) Command(tmpl_.cancelId);
  }
  window_->hide();
  window_.reset();
  // The dialog must be gone from the screen before the caller opens its own
  // windows on another connection.
  Fl::flush();
  XSync(fl_display, False);
  return ended_ ? result_ : -1;
}

void FltkDialog::Command(int id) {
  if (ended_) return;
  procedure_(*this, kDlgCommand, static_cast<uintptr_t>(id) & 0xFFFF, 0);
}

void FltkDialog::OnControl(Fl_Widget*, void* data) {
  const Control& c = *static_cast<Control*>(data);
  c.owner->Command(c.id);
}

void FltkDialog::OnCancel(Fl_Widget*, void* data) {
  auto* dialog = static_cast<FltkDialog*>(data);
  dialog->Command(dialog->tmpl_.cancelId);
}

Fl_Choice* FltkDialog::FindChoice(int id) {
  for (const Control& c : controls_)
    if (c.id == id && c.kind == ControlKind::DropDown) return static_cast<Fl_Choice*>(c.widget);
  return nullptr;
}

Fl_Check_Button* FltkDialog::FindCheck(int id) {
  for (const Control& c : controls_)
    if (c.id == id && c.kind == ControlKind::CheckBox) return static_cast<Fl_Check_Button*>(c.widget);
  return nullptr;
}

void FltkDialog::AddString(int controlId, const char* text) {
  Fl_Choice* choice = FindChoice(controlId);
  if (!choice) return;
  // FLTK's add() parses '/', '&' and '_' and merges items of equal text, so
  // each entry goes in under a placeholder no other entry has and then gets
  // its text verbatim.
  char placeholder[32];
  std::snprintf(placeholder, sizeof placeholder, "\x1f%u", addedStrings_++);
  const int index = choice->add(placeholder, 0, nullptr, nullptr, 0);
  if (index >= 0) choice->replace(index, text ? text : "");
}

void FltkDialog::SetCurSel(int controlId, int index) {
  Fl_Choice* choice = FindChoice(controlId);
  if (!choice) return;
  // size() counts the menu's terminator; an index naming no entry clears the
  // selection.
  if (index >= 0 && index < choice->size() - 1) choice->value(index);
  else choice->value(static_cast<const Fl_Menu_Item*>(nullptr));
  choice->redraw();
}

int FltkDialog::GetCurSel(int controlId) {
  Fl_Choice* choice = FindChoice(controlId);
  return choice ? choice->value() : -1;
}

void FltkDialog::SetCheck(int controlId, bool checked) {
  if (Fl_Check_Button* check = FindCheck(controlId)) check->value(checked ? 1 : 0);
}

bool FltkDialog::GetCheck(int controlId) {
  Fl_Check_Button* check = FindCheck(controlId);
  return check && check->value() != 0;
}

void FltkDialog::End(intptr_t result) {
  result_ = result;
  ended_ = true;
  if (window_) window_->hide();
}

void WatchForCloseSignal(void*) {
  if (TakeCloseSignal()) {
    if (Fl_Window* box = Fl::modal()) box->do_callback();  // as its close box
    return;
  }
  Fl::repeat_timeout(kSignalPollSeconds, WatchForCloseSignal);
}

}  // namespace

intptr_t RunFltkDialog(const DialogTemplate& tmpl, DialogProc procedure) {
  if (!procedure || !OpenDisplay()) return -1;
  InstallCloseSignals();
  FltkDialog dialog(tmpl, procedure);
  return dialog.Run();
}

bool ShowFltkErrorBox(const char* caption, const char* text) {
  if (!OpenDisplay()) return false;
  InstallCloseSignals();
  fl_message_title(caption ? caption : "");
  // The box's own loop runs inside fl_alert; a close signal hides the box
  // from a timer there, which fl_alert takes as dismissal.
  Fl::add_timeout(kSignalPollSeconds, WatchForCloseSignal);
  fl_close = "OK";
  fl_alert("%s", text ? text : "");
  Fl::remove_timeout(WatchForCloseSignal);
  Fl::flush();
  XSync(fl_display, False);
  return true;
}

}  // namespace platform
