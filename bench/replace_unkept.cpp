// The replace of lapse-cli without keeping the pages it replaces, for the
// bench to hold the keeping to: the same work on the same disk, less the
// hard link (or copy) of each page into the user's state folder.
// Usage: replace_unkept DIR
#include <cstdio>

#include "batch/batch.h"
#include "platform/disk.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: replace_unkept DIR\n", stderr);
    return 2;
  }
  const lapse::batch::ReplaceResult result = lapse::batch::Replace(
      lapse::platform::MachineDisk(), argv[1], lapse::batch::ReplaceOptions{});
  if (!result.Complete()) {
    std::fputs("replace_unkept: the replace did not put every copy in place\n", stderr);
    return 1;
  }
  return 0;
}
