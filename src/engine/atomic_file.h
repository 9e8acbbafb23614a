// A new file that takes its name only once it is whole.
#pragma once

#include <filesystem>
#include <optional>
#include <string_view>
#include <system_error>

#include "engine/io.h"

namespace lapse::engine {

// Written in full and then named, so that no reader ever finds it short under
// its name, even when the process is killed while writing it. Where the file
// system allows (Linux), it has no name at all until then, and a killed
// process leaves nothing behind. Elsewhere it is written under the hidden
// name ".NAME.part" in the same folder and renamed. Dropped without Commit(),
// it leaves nothing.
class AtomicFile final : public ByteSink {
 public:
  // dir ends in a separator.
  AtomicFile(const std::filesystem::path& dir, const std::filesystem::path& name);
  ~AtomicFile() override;
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  bool IsOpen() const { return file_ && file_->IsOpen(); }
  bool Write(std::string_view bytes) override;
  bool WritePieces(std::span<const std::string_view> pieces) override;
  std::error_code Error() const override { return error_; }

  // Closes the file and gives it its name, replacing a file or a link that
  // stands there. On failure the file is gone and Error() tells why.
  bool Commit();

 private:
#if defined(__linux__)
  bool CommitUnnamed();
#endif
  bool CommitNamed();
  void Discard();
  bool Fail(std::error_code error);

  std::filesystem::path path_;
  // The hidden name it is written under; empty while the file has no name.
  std::filesystem::path partialPath_;
  std::optional<OutputFile> file_;
  std::error_code error_;
  bool done_ = false;
};

}  // namespace lapse::engine
