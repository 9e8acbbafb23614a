#include "platform/errors.h"

#include <cerrno>
#include <string>

namespace lapse::platform {

namespace {

enum class Fault {
  NotOrdinary = 1,
  Link,
  Busy,
  NotMadeHere,
  NotYours,
  TooDeep,
  NotOwnFile,
  NotAsRecorded,
  NotReplaced,
  ReplacedAside,
};

class PlatformCategory final : public std::error_category {
 public:
  const char* name() const noexcept override { return "lapse platform"; }
  std::string message(int fault) const override {
    switch (static_cast<Fault>(fault)) {
      case Fault::Link:
        return "it is a link";
      case Fault::Busy:
        return "another process is working on it";
      case Fault::NotMadeHere:
        return "a folder that was not made for this stands there";
      case Fault::NotYours:
        return "it belongs to another user, or others may write into it";
      case Fault::TooDeep:
        return "it lies more than 1,000 folders deep";
      case Fault::NotOwnFile:
        return "a file that someone else made, or may write into, stands there";
      case Fault::NotAsRecorded:
        return "it does not hold what the record of the run says";
      case Fault::NotReplaced:
        return "the system could not put it in place; the file it was to replace is as it was";
      case Fault::ReplacedAside:
        return "the system could not put it in place, nor the file it was to replace back under "
               "its name, which is now one that begins with .lapse- in the same folder";
      case Fault::NotOrdinary:
        break;
    }
    return "it is not an ordinary file";
  }
};

const PlatformCategory& Platform() {
  static const PlatformCategory category;
  return category;
}

std::error_code Make(Fault fault) {
  return std::error_code(static_cast<int>(fault), Platform());
}

}  // namespace

std::error_code LastError() {
  return std::error_code(errno != 0 ? errno : EIO, std::generic_category());
}

std::error_code NotAnOrdinaryFileError() {
  return Make(Fault::NotOrdinary);
}

std::error_code IsALinkError() {
  return Make(Fault::Link);
}

std::error_code FolderBusyError() {
  return Make(Fault::Busy);
}

std::error_code NotYoursError() {
  return Make(Fault::NotYours);
}

std::error_code TooDeepError() {
  return Make(Fault::TooDeep);
}

std::error_code NotOwnFileError() {
  return Make(Fault::NotOwnFile);
}

std::error_code NotAsRecordedError() {
  return Make(Fault::NotAsRecorded);
}

std::error_code NotMadeHereError() {
  return Make(Fault::NotMadeHere);
}

std::error_code NotReplacedError() {
  return Make(Fault::NotReplaced);
}

std::error_code ReplacedFileAsideError() {
  return Make(Fault::ReplacedAside);
}

}  // namespace lapse::platform
