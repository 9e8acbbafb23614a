// The lines a page removed, held until the run writes them to its log in
// the pages' order: in memory, and in a scratch file beyond a limit, so
// that a page with an enormous lapsed block takes no more memory than any.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "platform/disk.h"
#include "text/streams.h"

namespace lapse::batch {

class LogLines final : public text::ByteSink {
 public:
  // Spills to a scratch file on the volume of folder past limit bytes.
  LogLines(platform::Disk& disk, platform::Folder& folder, std::size_t limit);

  bool Write(std::string_view bytes) override;
  std::error_code Error() const override { return error_; }
  bool Empty() const { return size_ == 0; }
  std::uint64_t Size() const { return size_; }
  // Writes every line held to out, in order; false when a write failed.
  bool WriteTo(text::BufferedWriter& out, std::span<char> buffer);

 private:
  platform::Disk* disk_;
  platform::Folder* folder_;
  std::size_t limit_;
  std::string held_;
  std::unique_ptr<platform::ScratchFile> spilled_;
  std::uint64_t size_ = 0;
  std::error_code error_;
};

}  // namespace lapse::batch
