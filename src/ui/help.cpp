#include "ui/help.h"

#include <QApplication>
#include <QMargins>
#include <QRect>
#include <QScreen>
#include <QShortcut>
#include <QTextBrowser>
#include <QVBoxLayout>
#include <QVariant>
#include <QWidget>
#include <algorithm>

namespace lapse::ui {

namespace {

constexpr const char* kTopicProperty = "lapseHelpTopic";

}  // namespace

void SetHelpTopic(QObject& object, int topic) {
  object.setProperty(kTopicProperty, topic);
}

void CarryHelpTopic(QObject& object) {
  if (const auto topic = front::HelpTopicOf(object.objectName().toStdString())) {
    SetHelpTopic(object, *topic);
  }
}

std::optional<int> HelpTopicOf(const QObject& object) {
  const QVariant topic = object.property(kTopicProperty);
  if (!topic.isValid()) {
    return std::nullopt;
  }
  return topic.toInt();
}

std::optional<int> ContextHelpTopic(const QWidget& focus) {
  for (const QWidget* widget = &focus; widget != nullptr; widget = widget->parentWidget()) {
    if (const auto topic = HelpTopicOf(*widget)) {
      return topic;
    }
    if (widget->isWindow()) {
      break;
    }
  }
  return std::nullopt;
}

QUrl HelpPageUrl(int topic) {
  return QUrl(QStringLiteral("qrc:/help/topic%1.html").arg(topic));
}

void InstallContextHelp(QWidget& window, HelpService& help) {
  auto* shortcut = new QShortcut(QKeySequence(Qt::Key_F1), &window);
  QObject::connect(shortcut, &QShortcut::activated, &window, [&window, &help] {
    const QWidget* focus = window.focusWidget();
    const auto topic = ContextHelpTopic(focus != nullptr ? *focus : window);
    if (topic) {
      help.ShowTopic(*topic, &window);
    }
  });
}

namespace {

// The window that asked for help: the modal dialog that is up, the active
// window, or (where no window manager makes any active) the focus's window.
QWidget* Asker() {
  if (QWidget* modal = QApplication::activeModalWidget()) {
    return modal;
  }
  if (QWidget* active = QApplication::activeWindow()) {
    return active;
  }
  QWidget* focus = QApplication::focusWidget();
  return focus != nullptr ? focus->window() : nullptr;
}

// The frame a window manager draws around a window, where it is known: not
// before the window's first showing, and not always once it is hidden again
// (Qt then gives an empty frame geometry).
std::optional<QMargins> FrameMargins(const QWidget& window) {
  const QRect frame = window.frameGeometry();
  const QRect inner = window.geometry();
  const QMargins margins{inner.left() - frame.left(), inner.top() - frame.top(),
                         frame.right() - inner.right(), frame.bottom() - inner.bottom()};
  const bool known = !margins.isNull() && margins.left() >= 0 && margins.top() >= 0 &&
                     margins.right() >= 0 && margins.bottom() >= 0;
  return known ? std::optional(margins) : std::nullopt;
}

void PlaceBeside(QWidget& help, const QWidget* asker) {
  if (asker == nullptr || asker == &help || asker->screen() == nullptr) {
    return;
  }
  // Where the help window knows no frame of its own, the asker's, drawn by
  // the same window manager, stands in for it.
  const QMargins frame =
      FrameMargins(help).value_or(FrameMargins(*asker->window()).value_or(QMargins()));
  const QRect placed = HelpFrameBeside(asker->screen()->availableGeometry(),
                                       asker->window()->frameGeometry(), frame, help.height());
  help.resize(placed.size().shrunkBy(frame));
  help.move(placed.topLeft());
}

}  // namespace

QRect HelpFrameBeside(const QRect& screen, const QRect& beside, const QMargins& frame, int height) {
  constexpr int kGap = 8;
  constexpr int kNarrowest = 320;
  constexpr int kWidest = 560;
  const int framing = frame.left() + frame.right();
  const int roomRight = screen.right() - beside.right() - kGap;
  const int roomLeft = beside.left() - screen.left() - kGap;
  const int room = std::max(roomRight, roomLeft);
  const int frameHeight = std::min(height + frame.top() + frame.bottom(), screen.height());
  const int top = std::clamp(beside.top(), screen.top(), screen.bottom() + 1 - frameHeight);
  if (room - framing < kNarrowest) {
    // No side has room: over the asker, at the screen's edge with more room.
    const int width = std::min(kWidest + framing, screen.width());
    const int left = roomRight >= roomLeft ? screen.right() + 1 - width : screen.left();
    return {left, top, width, frameHeight};
  }
  const int width = std::min(kWidest + framing, room);
  const int left = roomRight >= width ? beside.right() + 1 + kGap : beside.left() - kGap - width;
  return {left, top, width, frameHeight};
}

HelpViewer::HelpViewer() = default;
HelpViewer::~HelpViewer() = default;

void HelpViewer::ShowTopic(int topic, const QWidget* asker) {
  if (!window_) {
    window_ = std::make_unique<QWidget>(nullptr, Qt::Window);
    window_->setObjectName(QStringLiteral("helpWindow"));
    window_->setWindowTitle(QStringLiteral("Lapse Help"));
    window_->setWindowIcon(QApplication::windowIcon());
    window_->resize(560, 480);
    window_->move(480, 120);
    browser_ = new QTextBrowser(window_.get());
    browser_->setObjectName(QStringLiteral("helpBrowser"));
    browser_->setOpenExternalLinks(true);
    auto* layout = new QVBoxLayout(window_.get());
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(browser_);
    auto* close = new QShortcut(QKeySequence(Qt::Key_Escape), window_.get());
    QObject::connect(close, &QShortcut::activated, window_.get(), &QWidget::close);
  }
  browser_->setSource(HelpPageUrl(topic));
  if (!window_->isVisible()) {
    PlaceBeside(*window_, asker != nullptr ? asker : Asker());
  }
  window_->show();
  window_->raise();
  window_->activateWindow();
}

void HelpViewer::Close() {
  if (window_) {
    window_->close();
  }
}

}  // namespace lapse::ui
