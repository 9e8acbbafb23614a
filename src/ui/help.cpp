#include "ui/help.h"

#include <QApplication>
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

// Beside the window that asked, so that it hides none of its controls: to
// its right, or to its left, on the side with more room, narrower where the
// screen has too little room for its width.
void PlaceBeside(QWidget& help, const QWidget* asker) {
  if (asker == nullptr || asker == &help || asker->screen() == nullptr) {
    return;
  }
  constexpr int kGap = 8;
  constexpr int kNarrowest = 320;
  constexpr int kWidest = 560;
  const QRect screen = asker->screen()->availableGeometry();
  const QRect beside = asker->window()->frameGeometry();
  const int roomRight = screen.right() - beside.right() - kGap;
  const int roomLeft = beside.left() - screen.left() - kGap;
  const int room = std::max(roomRight, roomLeft);
  if (room < kNarrowest) {
    return;
  }
  help.resize(std::min(kWidest, room), help.height());
  const QSize size = help.frameGeometry().size();
  const int left =
      roomRight >= size.width() ? beside.right() + 1 + kGap : beside.left() - kGap - size.width();
  const int top = std::clamp(beside.top(), screen.top(),
                             std::max(screen.top(), screen.bottom() + 1 - size.height()));
  help.move(left, top);
}

}  // namespace

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
