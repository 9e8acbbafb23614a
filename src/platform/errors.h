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
// A folder that was to be made stands there already, made by someone
// else: "a folder that was not made for this stands there".
std::error_code NotMadeHereError();
// A folder that a privileged process is not to work in with its privileges:
// "it belongs to another user, or others may write into it".
std::error_code NotYoursError();
// A folder nested deeper than a walk goes: "it lies more than 1,000 folders
// deep".
std::error_code TooDeepError();
// A file Lapse was to write into that it did not make: "a file that someone
// else made, or may write into, stands there".
std::error_code NotOwnFileError();
// A file of Lapse's own that does not hold what its record says it does:
// "it does not hold what the record of the run says".
std::error_code NotAsRecordedError();
// A folder locked by another process: "another process is working on it".
std::error_code FolderBusyError();
// A file that the system stopped putting in another's place halfway, and
// that other file put back under its name: "the system could not put it in
// place; the file it was to replace is as it was".
std::error_code NotReplacedError();
// The same, but the file it was to replace could not be put back: "the
// system could not put it in place, nor the file it was to replace back under
// its name, which is now one that begins with .lapse- in the same folder".
std::error_code ReplacedFileAsideError();

}  // namespace lapse::platform
