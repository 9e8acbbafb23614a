// The busy pointer over the whole program while a command works; it steps
// aside whenever a message box asks for the user's attention.
#pragma once

namespace lapse::ui {

class BusyPointer {
 public:
  BusyPointer() { Show(); }
  ~BusyPointer() { Restore(); }
  BusyPointer(const BusyPointer&) = delete;
  BusyPointer& operator=(const BusyPointer&) = delete;

  void Show();
  void Restore();

 private:
  bool shown_ = false;
};

}  // namespace lapse::ui
