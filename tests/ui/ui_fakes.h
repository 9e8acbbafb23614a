// Stand-ins for the world outside the windows: they answer message boxes,
// record help calls and editor starts, and keep settings in memory.
#pragma once

#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QTemporaryDir>
#include <deque>
#include <functional>
#include <map>
#include <tuple>
#include <utility>
#include <vector>

#include "state/settings.h"
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
  void ShowTopic(int topic) override { calls.push_back({QStringLiteral("show"), topic}); }
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

  std::vector<std::filesystem::path> opened;
  bool starts = true;
};

class MemoryStore final : public state::SettingsStore {
 public:
  using Address = std::tuple<std::string, std::string, std::string>;

  std::string Get(std::string_view application, std::string_view section, std::string_view key,
                  std::string_view defaultValue) override {
    if (onGet) {
      onGet();
    }
    const auto found = values.find(Address(application, section, key));
    return found == values.end() ? std::string(defaultValue) : found->second;
  }
  void Set(std::string_view application, std::string_view section, std::string_view key,
           std::string_view value) override {
    writes.push_back(std::string(section) + "/" + std::string(key) + "=" + std::string(value));
    values[Address(application, section, key)] = value;
  }
  std::string At(const char* section, const char* key) const {
    const auto found = values.find(Address("Lapse", section, key));
    return found == values.end() ? std::string("<none>") : found->second;
  }

  std::map<Address, std::string> values;
  std::vector<std::string> writes;
  std::function<void()> onGet;
};

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
