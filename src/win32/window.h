// What the three windows share: a window procedure that reaches the C++
// object, controls placed in twips at the window's DPI, the document
// colours, modal showing and F1.
#pragma once

#include <windows.h>

#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

namespace lapse::win32 {

class HelpPages;

// A control's place as designed: twips from the top-left of its container.
struct Twips {
  int left;
  int top;
  int width;
  int height;
};

// Twips to pixels at dpi: 1440 twips to the inch.
int Pixels(int twips, UINT dpi);
RECT PixelRect(const Twips& place, UINT dpi);

// The window's DPI, on every Windows this program starts on.
UINT DpiOf(HWND window);

// A control of the window: its name, the child window and its designed
// place. Controls are listed in the window's control order.
struct Control {
  const char* name;
  HWND handle = nullptr;
  Twips place{};
  std::optional<int> helpTopic;
};

class Window {
 public:
  Window() = default;
  virtual ~Window();
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  HWND Handle() const { return handle_; }
  const std::vector<Control>& Controls() const { return controls_; }
  // The control of that name; nullptr when there is none.
  HWND ControlNamed(const char* name) const;

  // Shows the window over owner and returns once it has hidden itself;
  // owner takes no input meanwhile.
  void ShowModal(HWND owner);
  bool Shown() const { return shown_; }
  // Ends a modal showing as Cancel would; nothing is applied.
  void EndModal() { Hide(); }

 protected:
  // Creates the window of class className, the window's own name (registered
  // on first use); place
  // is its client area's, in twips from the top-left of the screen.
  void Create(const wchar_t* className, const std::wstring& caption, DWORD style, DWORD exStyle,
              Twips place, HWND owner);
  HWND AddControl(const char* name, const wchar_t* className, const std::wstring& caption,
                  DWORD style, int id, Twips place, HWND parent = nullptr);
  // Places every control and sizes the window for dpi.
  void Layout(UINT dpi);
  // The rows were designed for a narrower font. A row keeps its order and
  // places; a caption wider than its place grows it and pushes the rest of
  // the row to the right. Kept for every later layout.
  void FitRow(std::vector<const char*> names);
  // Ends the modal showing.
  void Hide();
  // Which of the buttons ids has the focus; none when none has. Enter on a
  // focused button presses that button rather than the default one.
  std::optional<int> FocusedButton(std::initializer_list<int> ids) const;
  // F1: the topic of the focused control, else of its containers, else the
  // window's.
  std::optional<int> ContextTopic() const;
  // For PreTranslate: F1 shows help over owner at ContextTopic(), or at
  // windowTopic where that is none; true when message was F1.
  bool ShowContextHelp(const MSG& message, HelpPages& help, HWND owner, int windowTopic) const;

  // Called as ShowModal begins, before the window shows.
  virtual void Showing() {}
  virtual LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
  // Messages that the modal loop (or the program's loop) sees before the
  // dialog keys do; true when handled.
  virtual bool PreTranslate(MSG& message);

  HFONT font_ = nullptr;  // the user's message font at the window's DPI
  std::optional<int> helpTopic_;

 private:
  void FitPlaces(const std::vector<const char*>& names, UINT dpi) const;
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  friend int RunMessageLoop(Window& main);

  HWND handle_ = nullptr;
  Twips place_{};
  bool shown_ = false;
  // The control that had the focus when the window was last left.
  HWND focusBeforeLeaving_ = nullptr;
  std::vector<Control> controls_;
  std::vector<std::vector<const char*>> rows_;
};

// The program's loop over its main window; returns the exit code.
int RunMessageLoop(Window& main);

enum class Weight { Normal, Bold };
// The user's message-box font at dpi; of that size where hundredthsOfPoints
// is not 0.
HFONT MakeFont(UINT dpi, Weight weight = Weight::Normal, int hundredthsOfPoints = 0);

}  // namespace lapse::win32
