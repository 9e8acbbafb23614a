// Why a page could not be read through its layers.
#pragma once

#include <system_error>

namespace lapse::pages {

// "the gzip stream is damaged"
std::error_code DamagedGzipError();
// "the gzip stream ends too soon"
std::error_code TruncatedGzipError();
// A page that ends in half a unit is no UTF-16: "it ends in half a UTF-16
// character".
std::error_code HalfUnitError();

}  // namespace lapse::pages
