#include "batch/check.h"

#include <algorithm>
#include <new>
#include <system_error>
#include <thread>

#include "batch/batch.h"
#include "batch/site_names.h"
#include "pages/page_format.h"

namespace lapse::batch {

namespace {

namespace fs = std::filesystem;

class Checker {
 public:
  Checker(platform::Disk& disk, const text::TagRules& rules, PageIndex* index,
          std::optional<text::Today> readThrough, CheckResult& result)
      : disk_(disk),
        rules_(rules),
        index_(index),
        today_(rules.clock()),
        readThrough_(std::max(today_, readThrough.value_or(today_))),
        result_(result),
        buffer_(std::size_t{64} * 1024) {}

  void Folder(const WalkedFolder& folder) {
    for (const fs::path& name : folder.linkedPages) {
      LeftOut(Below(folder.relative, name), {PageOutcome::LeftAsItIs, {}, NotText::Link});
    }
    std::vector<const fs::path*> pages;
    for (const fs::path& name : folder.files) {
      if (IsHtmlFileName(name)) {
        pages.push_back(&name);
      }
    }
    result_.pages += pages.size();
    const std::vector<Status> statuses =
        index_ != nullptr ? Statuses(*folder.folder, pages) : std::vector<Status>();
    for (std::size_t page = 0; page < pages.size(); ++page) {
      const fs::path& name = *pages[page];
      Page(*folder.folder, name, Below(folder.relative, name),
           statuses.empty() ? nullptr : &statuses[page]);
    }
  }

  // One page, named by its path below the folder checked.
  void PageAt(FolderCache& folders, const fs::path& relative) {
    ++result_.pages;
    platform::Expected<std::shared_ptr<platform::Folder>> folder =
        folders.At(relative.parent_path());
    if (!folder) {
      Unreadable(relative, relative, folder.error());
      return;
    }
    Page(**folder, relative.filename(), relative, nullptr);
  }

  void Unreadable(const fs::path& relative, const fs::path& path, std::error_code error) {
    LeftOut(relative, {PageOutcome::Failed, {FileAction::Read, path, error}, {}});
  }

 private:
  using Status = platform::Expected<platform::FileStatus>;

  // The status of each page, looked at on a few threads where there are
  // many: on a quiet day these looks are all that an update does, and each
  // waits on the system.
  std::vector<Status> Statuses(platform::Folder& folder,
                               const std::vector<const fs::path*>& pages) {
    std::vector<Status> statuses(pages.size(), Status(std::make_error_code(std::errc::io_error)));
    const auto look = [&](std::size_t from, std::size_t step) {
      for (std::size_t page = from; page < pages.size(); page += step) {
        try {
          statuses[page] = disk_.Status(folder, *pages[page]);
        } catch (const std::bad_alloc&) {
          // Out of memory on a thread of its own: that page is read.
        }
      }
    };
    constexpr std::size_t kPagesPerThread = 1024;
    const std::size_t threads = std::min<std::size_t>(
        {std::max(std::thread::hardware_concurrency(), 1u), 4, pages.size() / kPagesPerThread + 1});
    std::vector<std::jthread> helpers;
    std::size_t started = 1;
    try {
      for (; started < threads; ++started) {
        helpers.emplace_back(look, started, threads);
      }
    } catch (const std::system_error&) {
      // No thread to be had: this one looks at their pages too.
    }
    for (std::size_t from = started; from < threads; ++from) {
      look(from, threads);
    }
    look(0, threads);
    helpers.clear();  // joined before the statuses are handed on
    return statuses;
  }

  void Page(platform::Folder& folder, const fs::path& name, const fs::path& shown,
            const Status* status) {
    if (index_ != nullptr) {
      if (status != nullptr && *status && index_->Unchanged(shown, **status, readThrough_)) {
        return;
      }
      index_->Forget(shown);
    }
    if (pages::NamedAsCompressed(name)) {
      LeftOut(shown, {PageOutcome::LeftAsItIs, {}, NotText::Compressed});
      return;
    }
    platform::Expected<std::unique_ptr<platform::SourceFile>> source =
        disk_.OpenSource(folder, name);
    if (!source) {
      LeftOut(shown,
              {PageOutcome::Failed, {FileAction::Read, folder.PathOf(name), source.error()}, {}});
      return;
    }
    pages::PageSource page(**source);
    if (const std::optional<NotText> kind = NotTextOf(page.content())) {
      LeftOut(shown, {PageOutcome::LeftAsItIs, {}, *kind});
      return;
    }
    pageChangesToday_ = false;
    pageNextChange_.reset();
    const bool read = text::ScanTags(
        page, buffer_, rules_.locale, page.units(),
        [&](const text::DatedTag& tag) { Tag(shown, tag); },
        [&](const text::BrokenBlock& block) {
          // Said on every look, so never taken as unchanged.
          pageChangesToday_ = true;
          result_.brokenBlocks.push_back({shown, block});
        });
    if (!read) {
      LeftOut(shown,
              {PageOutcome::Failed, {FileAction::Read, folder.PathOf(name), page.Error()}, {}});
    } else if (index_ != nullptr && !pageChangesToday_) {
      index_->Record(shown, (*source)->Status(), pageNextChange_);
    }
  }

  void Tag(const fs::path& page, const text::DatedTag& tag) {
    FoundTag found{page,  tag.line,     tag.kind, tag.date,
                   false, std::nullopt, tag.text, tag.otherOrder};
    if (tag.date) {
      // Every kind of tag changes its page from one day on.
      found.lapseDay = text::LapseDay(*tag.date, tag.kind, rules_.newDays);
      found.lapsed = today_ >= *found.lapseDay;
      if (!found.lapsed) {
        result_.nextChange =
            result_.nextChange ? std::min(*result_.nextChange, *found.lapseDay) : *found.lapseDay;
        pageNextChange_ =
            pageNextChange_ ? std::min(*pageNextChange_, *found.lapseDay) : *found.lapseDay;
      }
    }
    pageChangesToday_ = pageChangesToday_ || found.lapsed || !found.date;
    result_.tags.push_back(std::move(found));
  }

  void LeftOut(const fs::path& page, const PageReport& report) {
    result_.leftOut.push_back({page, report});
  }

  platform::Disk& disk_;
  const text::TagRules& rules_;
  PageIndex* index_;
  text::Today today_;
  text::Today readThrough_;  // pages that change on or before it are read
  // Of the page being read.
  bool pageChangesToday_ = false;
  std::optional<text::Today> pageNextChange_;
  CheckResult& result_;
  std::vector<char> buffer_;
};

// A broken show block leaves its page as it is, and a run says so.
bool IsShowBlockKind(text::BrokenBlockKind kind) {
  return kind != text::BrokenBlockKind::ExpiryUnclosed &&
         kind != text::BrokenBlockKind::StrayEndTag;
}

// In the order a CheckResult promises, whatever order the pages came in.
void SortByPage(CheckResult& result) {
  std::stable_sort(result.tags.begin(), result.tags.end(),
                   [](const FoundTag& a, const FoundTag& b) {
                     return std::tie(a.page, a.line) < std::tie(b.page, b.line);
                   });
  std::stable_sort(result.brokenBlocks.begin(), result.brokenBlocks.end(),
                   [](const FoundBrokenBlock& a, const FoundBrokenBlock& b) {
                     return std::tie(a.page, a.block.line) < std::tie(b.page, b.block.line);
                   });
  std::stable_sort(result.leftOut.begin(), result.leftOut.end(),
                   [](const PageLeftOut& a, const PageLeftOut& b) { return a.name < b.name; });
}

}  // namespace

bool CheckResult::Faulty() const {
  const bool unreadable = std::any_of(leftOut.begin(), leftOut.end(), [](const PageLeftOut& page) {
    return page.report.outcome != PageOutcome::LeftAsItIs;
  });
  const bool badDate =
      std::any_of(tags.begin(), tags.end(), [](const FoundTag& tag) { return !tag.date; });
  return unreadable || badDate || !brokenBlocks.empty();
}

std::set<fs::path> PagesToRewrite(const CheckResult& check) {
  std::set<fs::path> pages;
  for (const FoundTag& tag : check.tags) {
    if (tag.lapsed || !tag.date) {
      pages.insert(tag.page);
    }
  }
  for (const PageLeftOut& page : check.leftOut) {
    if (page.report.outcome != PageOutcome::LeftAsItIs) {
      pages.insert(page.name);
    }
  }
  for (const FoundBrokenBlock& broken : check.brokenBlocks) {
    if (IsShowBlockKind(broken.block.kind)) {
      pages.insert(broken.page);
    }
  }
  return pages;
}

CheckResult CheckSite(platform::Disk& disk, const fs::path& directory, Recursion recursion,
                      const text::TagRules& rules) {
  platform::Expected<std::unique_ptr<platform::Folder>> folder =
      disk.OpenFolder(PathsFor(directory).sourceDir);
  if (!folder) {
    CheckResult result;
    result.folderError = folder.error();
    return result;
  }
  return CheckFolder(disk, std::shared_ptr<platform::Folder>(std::move(*folder)), recursion, rules,
                     nullptr);
}

CheckResult CheckFolder(platform::Disk& disk, const std::shared_ptr<platform::Folder>& folder,
                        Recursion recursion, const text::TagRules& rules, PageIndex* index,
                        std::optional<text::Today> readThrough) {
  CheckResult result;
  Checker checker(disk, rules, index, readThrough, result);
  result.folderError =
      WalkTree(disk, folder, recursion, TopNew::Skip,
               {[&](WalkedFolder& walked) { checker.Folder(walked); },
                [&](const fs::path& relative, const fs::path& path, std::error_code error) {
                  checker.Unreadable(relative, path, error);
                }});
  SortByPage(result);
  return result;
}

CheckResult CheckPages(platform::Disk& disk, const std::shared_ptr<platform::Folder>& folder,
                       const std::vector<fs::path>& pages, const text::TagRules& rules) {
  CheckResult result;
  Checker checker(disk, rules, nullptr, std::nullopt, result);
  FolderCache folders(disk, folder);
  for (const fs::path& page : pages) {
    checker.PageAt(folders, page);
  }
  SortByPage(result);
  return result;
}

}  // namespace lapse::batch
