// The short hidden names under which files are written until they are whole.
#pragma once

#include <filesystem>
#include <string>

namespace lapse::platform {

// ".lapse-" and twelve hexadecimal digits, then ".tmp": unique to this
// process, of one length whatever the file will be called, so that it fits
// wherever the file's own name does.
std::string NextTemporaryName();

}  // namespace lapse::platform
