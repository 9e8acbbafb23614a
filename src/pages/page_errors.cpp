#include "pages/page_errors.h"

#include <string>

namespace lapse::pages {

namespace {

enum class Fault { DamagedGzip = 1, TruncatedGzip, HalfUnit };

class PageCategory final : public std::error_category {
 public:
  const char* name() const noexcept override { return "lapse page"; }
  std::string message(int fault) const override {
    switch (static_cast<Fault>(fault)) {
      case Fault::TruncatedGzip:
        return "the gzip stream ends too soon";
      case Fault::HalfUnit:
        return "it ends in half a UTF-16 character";
      case Fault::DamagedGzip:
        break;
    }
    return "the gzip stream is damaged";
  }
};

std::error_code Make(Fault fault) {
  static const PageCategory category;
  return std::error_code(static_cast<int>(fault), category);
}

}  // namespace

std::error_code DamagedGzipError() {
  return Make(Fault::DamagedGzip);
}

std::error_code TruncatedGzipError() {
  return Make(Fault::TruncatedGzip);
}

std::error_code HalfUnitError() {
  return Make(Fault::HalfUnit);
}

}  // namespace lapse::pages
