// Stand-ins for the world outside the windows: they answer message boxes,
// record help calls and editor starts, and keep settings in memory.
#pragma once

#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QListWidget>
#include <QString>
#include <QTemporaryDir>
#include <deque>
#include <functional>
#include <map>
#include <tuple>
#include <utility>
#include <vector>

#include "state/settings.h"
#include "support/memory_settings_store.h"
#include "ui/editor.h"
#include "ui/help.h"
#include "ui/message_boxes.h"

namespace lapse::ui::testing {

struct HelpCall {
  QString command;  // "show" or "close"
  int topic = 0;
  bool operator==(const HelpCall&) const = default;
};

class RecordingHelp final : public HelpService {
 public:
  void ShowTopic(int topic, const QWidget* = nullptr) override {
    calls.push_back({QStringLiteral("show"), topic});
  }
  void Close() override {
    if (onClose) {
      onClose();
    }
    calls.push_back({QStringLiteral("close"), 0});
  }

  std::vector<HelpCall> calls;
  std::function<void()> onClose;
};

struct Message {
  QString kind;  // "ask", "tell" or "warn"
  QString text;
  bool busyPointer = false;  // the busy pointer was up while it showed
};

class ScriptedMessages final : public MessageBoxes {
 public:
  bool AskYesNo(const QString& text) override {
    Record(QStringLiteral("ask"), text);
    if (answers.empty()) {
      return false;
    }
    const bool answer = answers.front();
    answers.pop_front();
    return answer;
  }
  void Tell(const QString& text) override { Record(QStringLiteral("tell"), text); }
  void Warn(const QString& text) override { Record(QStringLiteral("warn"), text); }

  std::deque<bool> answers;  // for the questions, in turn; No when none is left
  std::vector<Message> shown;

 private:
  void Record(const QString& kind, const QString& text) {
    shown.push_back({kind, text, QApplication::overrideCursor() != nullptr});
  }
};

class RecordingEditor final : public EditorLauncher {
 public:
  bool Open(const std::filesystem::path& file) override {
    opened.push_back(file);
    return starts;
  }
  bool OpenAt(const std::filesystem::path& file, std::uint64_t line) override {
    lines.push_back(line);
    return Open(file);
  }

  std::vector<std::filesystem::path> opened;
  std::vector<std::uint64_t> lines;  // of the files opened at a line
  bool starts = true;
};

using MemoryStore = testing_support::MemorySettingsStore;

// The texts of a list's rows, top to bottom.
inline QStringList Texts(const QListWidget& list) {
  QStringList texts;
  for (int row = 0; row < list.count(); ++row) {
    texts << list.item(row)->text();
  }
  return texts;
}

// Writes bytes to a file, making its folder as needed.
inline void WriteFile(const QString& path, const QByteArray& bytes) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile file(path);
  if (file.open(QIODevice::WriteOnly)) {
    file.write(bytes);
  }
}

inline QByteArray ReadFile(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

}  // namespace lapse::ui::testing
