// What each copy in New was made from, kept beside the copies, so that a
// replace puts in place exactly the copies of the last run whose pages are
// still as that run read them. While it stands in New, New is Lapse's, but
// only when the record itself can be trusted: the site's owner may write
// into New, so a record counts only where no one but the user Lapse runs as
// could have written it (IsOwnFile), where it names the very folders it
// stands in, and a copy only where it is the very file the run wrote.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/disk.h"
#include "text/rewrite.h"

namespace lapse::batch {

// Where the run that wrote the record stands.
enum class RecordState {
  Running,     // it has not ended, or was killed: its copies are not to be placed
  Complete,    // it ended; its copies wait for a replace
  PartPlaced,  // a replace put some of its copies in place; the rest wait
};

// Who a file or folder is on its volume.
struct Identity {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  friend bool operator==(const Identity&, const Identity&) = default;
};
Identity IdentityOf(const platform::FileStamp& stamp);

// A copy as the run wrote it: no other file, and no other content, is put
// in place of its page.
struct WrittenCopy {
  Identity identity;
  std::uint64_t hash = 0;  // of its bytes
  friend bool operator==(const WrittenCopy&, const WrittenCopy&) = default;
};

// The folders a record belongs to: the site's, and New in it. A record
// found in another New (moved there, or copied) names other folders.
struct RecordPlace {
  Identity site;
  Identity newDir;
  friend bool operator==(const RecordPlace&, const RecordPlace&) = default;
};

// Where a page's removed lines stand in the run's log: its bytes from
// offset on, a head of headSize bytes before each block's lines. A replace
// takes them from there into the journal of the site.
struct LoggedLines {
  std::uint64_t offset = 0;
  std::uint64_t size = 0;
  std::uint64_t headSize = 0;
  std::vector<text::RemovedBlock> blocks;
  friend bool operator==(const LoggedLines&, const LoggedLines&) = default;
};

struct CopyRecord {
  platform::FileStamp source;  // the page as the run read it
  std::uint64_t links = 1;     // the names the page had
  // A hash of the page's bytes, where its stamp alone cannot tell a save
  // from the state the run read (whole-second times, a save just before).
  std::optional<std::uint64_t> hash;
  std::uint64_t copySize = 0;
  // Nothing in the records of earlier versions: such a copy is held back.
  std::optional<WrittenCopy> written;
  // Where the log has the lines the copy lacks; nothing without a log, or
  // in the records of earlier versions.
  std::optional<LoggedLines> logged = std::nullopt;
  // The copy's bytes are the page's bytes as the run read it: a replace
  // leaves such a page be, with its file, its times and its other names.
  // Records of earlier versions never say so.
  bool sameAsPage = false;
};

struct RunRecord {
  RecordState state = RecordState::Running;
  // With PartPlaced: the run's log was in New when its copies began to go
  // up, and goes up with the last of them.
  bool logWaits = false;
  // With PartPlaced: the name of the kept replace that holds the pages this
  // run's copies replace, so that a replace cut short and done again keeps
  // them all in one.
  std::string keptAs;
  // Nothing in the records of earlier versions.
  std::optional<RecordPlace> place;
  // By each copy's path below the run's folder (and below New).
  std::map<std::filesystem::path, CopyRecord> copies;
};

// The record as the file holds it: a header, then an entry per copy, so
// that a run can write it as it goes. An entry's numbers end in its copy's
// path and a NUL; where the copy lacks lines of the log, where they stand
// follows, and "same " where the copy is its page. Text that is no record
// reads as nothing, and so does a record with a path that is not a path
// below the site's folder (empty, absolute, or with a "." or ".." in it); a
// record of the first version reads as complete.
std::string RunRecordHeader(RecordState state, const RecordPlace& place, bool logWaits = false,
                            std::string_view keptAs = {});
std::string FormatRecordEntry(const std::filesystem::path& name, const CopyRecord& copy);
std::optional<RunRecord> ParseRunRecord(std::string_view text);

// Whether a record names the folders it was found in. Device numbers are
// not compared: some file systems (btrfs, network mounts) number their
// devices anew at every mount, and a run must be replaceable after a
// reboot. File numbers tell folders apart on one volume, and a record can
// reach another volume only as a copy, which is no longer the user's own
// file unless that user made it.
bool IsRecordOf(const RecordPlace& recorded, const RecordPlace& found);

// Whether a path, as a record names it, leads below the folder it is taken
// from, one name at a time.
bool IsPathBelow(const std::filesystem::path& path);

// Whether a file Lapse keeps in New (the record, the log), as opened, can
// only have been written by user (the user the process acts as; nothing
// where the system has no owners): a file of user's own that no one else
// may write and that has no other name.
bool IsOwnFile(const platform::FileStatus& file, std::optional<std::uint32_t> user);

}  // namespace lapse::batch
