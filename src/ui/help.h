// Help topics: the numbers that windows, controls and menu items carry, the
// service that shows them, and the program's own help window.
#pragma once

#include <QObject>
#include <QUrl>
#include <array>
#include <memory>
#include <optional>

#include "front/help_topics.h"

class QMargins;
class QRect;
class QTextBrowser;
class QWidget;

namespace lapse::ui {

namespace topic = front::topic;
using front::kHelpTopics;

// Shows help on behalf of the main window.
class HelpService {
 public:
  virtual ~HelpService() = default;
  // asker is the window that asks, which the help window opens beside.
  virtual void ShowTopic(int topic, const QWidget* asker = nullptr) = 0;
  // The program needs no more help: the help window goes.
  virtual void Close() = 0;
};

void SetHelpTopic(QObject& object, int topic);
// Gives the object the topic of its name, where its name has one.
void CarryHelpTopic(QObject& object);
std::optional<int> HelpTopicOf(const QObject& object);

// F1's topic: that of the focused widget, else of the nearest container that
// carries one, up to and including its window.
std::optional<int> ContextHelpTopic(const QWidget& focus);

// The page of a topic among the compiled-in help pages.
QUrl HelpPageUrl(int topic);

// Where the help window's frame goes beside the frame of the window that
// asked (beside): to its right or to its left, on a side where it fits,
// narrower where the screen has too little room, and wholly on the screen.
// frame is what the window manager draws around the help window, height
// that of its inside.
QRect HelpFrameBeside(const QRect& screen, const QRect& beside, const QMargins& frame, int height);

// F1 on window shows the topic of whatever has the focus there.
void InstallContextHelp(QWidget& window, HelpService& help);

// The help pages in a window of their own. The window has no parent so that
// it stays usable while a dialog of the main window is shown modally.
class HelpViewer final : public HelpService {
 public:
  HelpViewer();
  ~HelpViewer() override;
  HelpViewer(const HelpViewer&) = delete;
  HelpViewer& operator=(const HelpViewer&) = delete;

  void ShowTopic(int topic, const QWidget* asker = nullptr) override;
  void Close() override;

  // The window, once a topic has been shown; for tests and screenshots.
  QWidget* Window() const { return window_.get(); }
  QTextBrowser* Browser() const { return browser_; }

 private:
  std::unique_ptr<QWidget> window_;
  QTextBrowser* browser_ = nullptr;
};

}  // namespace lapse::ui
