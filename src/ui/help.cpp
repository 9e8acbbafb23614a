#include "ui/help.h"

#include <QApplication>
#include <QShortcut>
#include <QTextBrowser>
#include <QVBoxLayout>
#include <QVariant>
#include <QWidget>

namespace lapse::ui {

namespace {

constexpr const char* kTopicProperty = "lapseHelpTopic";

}  // namespace

void SetHelpTopic(QObject& object, int topic) {
  object.setProperty(kTopicProperty, topic);
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
      help.ShowTopic(*topic);
    }
  });
}

HelpViewer::HelpViewer() = default;
HelpViewer::~HelpViewer() = default;

void HelpViewer::ShowTopic(int topic) {
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
