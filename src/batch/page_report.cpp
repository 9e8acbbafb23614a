#include "batch/page_report.h"

namespace lapse::batch {

std::optional<NotText> NotTextOf(pages::Content content) {
  switch (content) {
    case pages::Content::Compressed:
      return NotText::Compressed;
    case pages::Content::Image:
      return NotText::Image;
    case pages::Content::Pdf:
      return NotText::Pdf;
    case pages::Content::Archive:
      return NotText::Archive;
    case pages::Content::Binary:
      return NotText::Binary;
    case pages::Content::Text:
      break;
  }
  return std::nullopt;
}

}  // namespace lapse::batch
