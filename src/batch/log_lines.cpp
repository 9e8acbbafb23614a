#include "batch/log_lines.h"

namespace lapse::batch {

LogLines::LogLines(platform::Disk& disk, platform::Folder& folder, std::size_t limit)
    : disk_(&disk), folder_(&folder), limit_(limit) {}

bool LogLines::Write(std::string_view bytes) {
  if (error_) {
    return false;
  }
  size_ += bytes.size();
  if (!spilled_ && held_.size() + bytes.size() <= limit_) {
    held_ += bytes;
    return true;
  }
  if (!spilled_) {
    platform::Expected<std::unique_ptr<platform::ScratchFile>> scratch =
        disk_->CreateScratch(*folder_);
    if (!scratch) {
      error_ = scratch.error();
      return false;
    }
    spilled_ = std::move(*scratch);
  }
  if (!held_.empty()) {
    const bool written = spilled_->Write(held_);
    held_.clear();
    held_.shrink_to_fit();
    if (!written) {
      error_ = spilled_->Error();
      return false;
    }
  }
  if (!spilled_->Write(bytes)) {
    error_ = spilled_->Error();
    return false;
  }
  return true;
}

bool LogLines::WriteTo(text::BufferedWriter& out, std::span<char> buffer) {
  if (!spilled_) {
    out.Write(held_);
    return !out.Failed();
  }
  if (const std::error_code error = spilled_->Rewind()) {
    error_ = error;
    return false;
  }
  while (const std::size_t count = spilled_->Read(buffer)) {
    out.Write(std::string_view(buffer.data(), count));
    if (out.Failed()) {
      return false;
    }
  }
  if (spilled_->Error()) {
    error_ = spilled_->Error();
    return false;
  }
  return true;
}

}  // namespace lapse::batch
