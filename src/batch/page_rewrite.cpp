#include "batch/page_rewrite.h"

#include "batch/page_look.h"
#include "batch/site_names.h"
#include "pages/page_format.h"
#include "platform/content_hash.h"
#include "text/names.h"

namespace lapse::batch {

namespace {

namespace fs = std::filesystem;

// Two halves of 256 KiB: each read is as large as a plain copy's.
constexpr std::size_t kReadBufferSize = std::size_t{512} * 1024;
constexpr std::size_t kCopyBufferSize = std::size_t{128} * 1024;
constexpr std::size_t kLogBufferSize = std::size_t{16} * 1024;
// What a page's removed lines may take in memory before they spill to disk.
constexpr std::size_t kLinesInMemory = std::size_t{16} * 1024;

RewrittenPage Failed(FileAction action, fs::path path, std::error_code error) {
  RewrittenPage page;
  page.report.outcome = PageOutcome::Failed;
  page.report.failure = {action, std::move(path), error};
  return page;
}

RewrittenPage NotTextPage(NotText kind) {
  RewrittenPage page;
  page.report.outcome = PageOutcome::LeftAsItIs;
  page.report.notText = kind;
  return page;
}

// The page's bytes as read, hashed on the way where its stamp cannot tell a
// later save from them.
class HashingSource final : public text::ByteSource {
 public:
  HashingSource(platform::SourceFile& file, bool hash) : file_(file) {
    if (hash) {
      hash_.emplace();
    }
  }
  std::size_t Read(std::span<char> buffer) override {
    const std::size_t count = file_.Read(buffer);
    if (hash_) {
      hash_->Add(std::string_view(buffer.data(), count));
    }
    return count;
  }
  std::error_code Error() const override { return file_.Error(); }
  std::optional<std::uint64_t> Hash() const {
    return hash_ ? std::optional(hash_->Value()) : std::nullopt;
  }

 private:
  platform::SourceFile& file_;
  std::optional<platform::ContentHash> hash_;
};

// The copy's bytes as written, hashed on the way, so that the replace puts
// in place only the very content this run wrote.
class HashingSink final : public text::ByteSink {
 public:
  explicit HashingSink(platform::NewFile& file) : file_(file) {}
  bool Write(std::string_view bytes) override {
    hash_.Add(bytes);
    return file_.Write(bytes);
  }
  bool WritePieces(std::span<const std::string_view> pieces) override {
    for (const std::string_view piece : pieces) {
      hash_.Add(piece);
    }
    return file_.WritePieces(pieces);
  }
  std::error_code Error() const override { return file_.Error(); }
  std::uint64_t Hash() const { return hash_.Value(); }

 private:
  platform::NewFile& file_;
  platform::ContentHash hash_;
};

// Whether a copy whose text is its page's text is the page byte for byte.
// The text is the bytes but under gzip, whose copy is compressed anew (with
// another level, time or system in the header, the same text is other
// bytes): there the page is read once more and compared by its hash. A page
// saved since the first read shows to the replace anyway.
bool IsPageByteForByte(platform::Disk& disk, platform::Folder& folder, const fs::path& name,
                       const pages::PageSource& page, std::uint64_t pageSize,
                       const CopyRecord& copy) {
  if (copy.copySize != pageSize || !copy.written) {
    return false;
  }
  if (page.compression() == pages::Compression::None) {
    return true;
  }
  const platform::Expected<std::uint64_t> hash = HashOfFile(disk, folder, name);
  return hash && *hash == copy.written->hash;
}

}  // namespace

PageRewriter::PageRewriter(platform::Disk& disk, const PageSettings& settings,
                           platform::Folder& newDir)
    : disk_(disk),
      settings_(settings),
      newDir_(newDir),
      readBuffer_(kReadBufferSize),
      copyBuffer_(kCopyBufferSize),
      logBuffer_(kLogBufferSize) {}

RewrittenPage PageRewriter::Rewrite(const PageJob& job) {
  if (job.known) {
    RewrittenPage known;
    known.report = *job.known;
    return known;
  }
  if (pages::NamedAsCompressed(job.name)) {
    return NotTextPage(NotText::Compressed);
  }
  platform::Expected<std::unique_ptr<platform::SourceFile>> source =
      disk_.OpenSource(*job.source, job.name);
  if (!source) {
    return Failed(FileAction::Read, job.source->PathOf(job.name), source.error());
  }
  const platform::FileStatus& status = (*source)->Status();
  HashingSource hashing(**source, !status.fineStamp);
  pages::PageSource page(hashing);
  if (const std::optional<NotText> kind = NotTextOf(page.content())) {
    return NotTextPage(*kind);
  }
  platform::Expected<std::unique_ptr<platform::NewFile>> copyFile =
      disk_.Create(*job.copies, job.name, status.access.mode);
  if (!copyFile) {
    return Failed(FileAction::Write, job.copies->PathOf(job.name), copyFile.error());
  }
  platform::Expected<platform::AccessKept> access = (*copyFile)->TakeAccess(**source);
  if (!access) {
    return Failed(FileAction::GiveAccess, job.copies->PathOf(job.name), access.error());
  }

  RewrittenPage result;
  result.access = *access;
  if (settings_.logging) {
    result.lines.emplace(disk_, newDir_, kLinesInMemory);
  }
  HashingSink hashedCopy(**copyFile);
  pages::PageSink copySink(hashedCopy, page);
  text::BufferedWriter copy(copySink, copyBuffer_);
  std::optional<text::BufferedWriter> log;
  if (result.lines) {
    log.emplace(*result.lines, logBuffer_);
  }
  const std::string entryName = text::DisplayName(job.shown);
  const text::RewrittenStream rewritten = text::RewriteStream(
      page, page.units(), readBuffer_,
      {copy, log ? &*log : nullptr, entryName, log ? &result.blocks : nullptr}, settings_.rules);
  text::StreamEnd end = rewritten.end;
  if (end == text::StreamEnd::Complete && !copySink.Finish()) {
    end = text::StreamEnd::CopyFailed;
  }
  switch (end) {
    case text::StreamEnd::Complete:
      break;
    case text::StreamEnd::DateFormatError:
      result = {};
      result.report.outcome = PageOutcome::DateFormatError;
      result.report.badDateLine = rewritten.badDateLine;
      result.report.badDateText = rewritten.badDateText;
      return result;
    case text::StreamEnd::BrokenBlock:
      result = {};
      result.report.outcome = PageOutcome::BrokenBlock;
      result.report.brokenBlock = rewritten.broken;
      return result;
    case text::StreamEnd::ReadFailed:
      return Failed(FileAction::Read, job.source->PathOf(job.name), page.Error());
    case text::StreamEnd::CopyFailed:
      return Failed(FileAction::Write, job.copies->PathOf(job.name), (*copyFile)->Error());
    case text::StreamEnd::LogFailed: {
      RewrittenPage notLogged;
      notLogged.report.outcome = PageOutcome::LinesNotLogged;
      notLogged.report.failure = {FileAction::Write, newDir_.PathOf(kLogName),
                                  result.lines->Error()};
      return notLogged;
    }
  }
  const platform::Expected<platform::FileStamp> written = (*copyFile)->Stamp();
  if (!written) {
    return Failed(FileAction::Write, job.copies->PathOf(job.name), written.error());
  }
  result.sameAsPage = rewritten.copyIsSource;
  result.report.brokenBlock = rewritten.broken;
  result.record = {status.stamp, status.links, hashing.Hash(), (*copyFile)->Written(),
                   WrittenCopy{IdentityOf(*written), hashedCopy.Hash()}};
  result.record.sameAsPage =
      rewritten.copyIsSource &&
      IsPageByteForByte(disk_, *job.source, job.name, page, status.stamp.size, result.record);
  if (!result.lines || result.lines->Empty()) {
    result.named = true;
    result.nameError = (*copyFile)->Commit();
    return result;
  }
  result.copy = std::move(*copyFile);
  result.copyFolder = job.copies;
  return result;
}

}  // namespace lapse::batch
