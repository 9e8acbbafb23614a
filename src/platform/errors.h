// The errors of the platform layer: the system's own, and the few that tell
// what stands where a file or folder must.
#pragma once

#include <system_error>

namespace lapse::platform {

// The error that the last failed system or C library call left in errno; EIO
// when it left none.
std::error_code LastError();

// A path that names neither a file nor a folder (a pipe, a device, a
// socket): "it is not an ordinary file".
std::error_code NotAnOrdinaryFileError();
// A link where a file or folder must stand: "it is a link".
std::error_code IsALinkError();
// A folder locked by another process: "another process is working on it".
std::error_code FolderBusyError();

}  // namespace lapse::platform
