// The rewriter's throughput, and the cost of reading a tag date, in process.
// The whole-process comparison with cp and sed is bench/run.sh.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "batch/page_rewrite.h"
#include "platform/disk.h"
#include "text/date.h"
#include "text/rewrite.h"
#include "text/tags.h"

namespace {

namespace fs = std::filesystem;
using namespace lapse::text;
using lapse::platform::Disk;
using lapse::platform::MachineDisk;

const Today kToday{std::chrono::year{2026} / 12 / 8};

// Realistic HTML: CR LF lines of about 100 bytes, an expiry block every 200
// lines (every other one lapsed on kToday) and a new-content tag now and then.
std::string MakePage(std::size_t size) {
  const std::string text =
      "<p class=\"copy\">Lorem ipsum dolor sit amet, consectetur adipiscing elit, sed do "
      "eiusmod tempor.</p>\r\n";
  std::string page = "<!DOCTYPE html>\r\n<html><head><title>Page</title></head><body>\r\n";
  for (int line = 1; page.size() < size; ++line) {
    if (line % 200 == 0) {
      page +=
          (line / 200) % 2 == 0 ? "<!--LAPSE 12/31/2020 -->\r\n" : "<!--LAPSE 12/31/2099 -->\r\n";
      for (int k = 0; k < 4; ++k) {
        page += text;
      }
      page += "<!--ENDL-->\r\n";
    } else if (line % 450 == 0) {
      page += (line / 450) % 2 == 0 ? "<!--LNEW 01/15/2021 -->\r\n" : "<!--LNEW 01/15/2099 -->\r\n";
    } else {
      page += text;
    }
  }
  return page;
}

// Hands out a page in reads of at most the buffer's size, as a file would.
class PageSource final : public ByteSource {
 public:
  explicit PageSource(std::string_view page) : page_(page) {}
  std::size_t Read(std::span<char> buffer) override {
    const std::size_t count = std::min(buffer.size(), page_.size() - offset_);
    std::copy_n(page_.data() + offset_, count, buffer.data());
    offset_ += count;
    return count;
  }
  std::error_code Error() const override { return {}; }

 private:
  std::string_view page_;
  std::size_t offset_ = 0;
};

class DiscardingSink final : public ByteSink {
 public:
  bool Write(std::string_view bytes) override {
    benchmark::DoNotOptimize(bytes.data());
    written += bytes.size();
    return true;
  }
  std::error_code Error() const override { return {}; }
  std::size_t written = 0;
};

void BM_RewriteStream(benchmark::State& state) {
  const bool logging = state.range(0) != 0;
  const std::string page = MakePage(4 * 1024 * 1024);
  std::vector<char> readBuffer(256 * 1024);
  std::vector<char> copyBuffer(256 * 1024);
  std::vector<char> logBuffer(64 * 1024);
  const TagRules rules{30, 1, EnglishDateLocale(), [] { return kToday; }};
  for (auto _ : state) {
    PageSource source(page);
    DiscardingSink copySink;
    DiscardingSink logSink;
    BufferedWriter copy(copySink, copyBuffer);
    BufferedWriter log(logSink, logBuffer);
    const RewrittenStream rewritten = RewriteStream(
        source, TextUnits::Bytes, readBuffer, {copy, logging ? &log : nullptr, "page.html"}, rules);
    if (rewritten.end != StreamEnd::Complete) {
      state.SkipWithError("the page was not rewritten");
      break;
    }
    benchmark::DoNotOptimize(copySink.written);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * page.size()));
  state.SetLabel(logging ? "log on" : "log off");
}
BENCHMARK(BM_RewriteStream)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// A folder of pages on disk, removed when the benchmark ends.
class PageFolder {
 public:
  PageFolder(std::size_t count, std::size_t size) {
    root_ = fs::temp_directory_path() / ("lapse-engine-bench-" + std::to_string(::getpid()));
    fs::create_directories(root_ / "New");
    const std::string page = MakePage(size);
    for (std::size_t n = 0; n < count; ++n) {
      const fs::path name = "page" + std::to_string(n) + ".html";
      std::FILE* file = std::fopen((root_ / name).c_str(), "wb");
      std::fwrite(page.data(), 1, page.size(), file);
      std::fclose(file);
      names_.push_back(name);
      bytes_ += page.size();
    }
  }
  ~PageFolder() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  PageFolder(const PageFolder&) = delete;
  PageFolder& operator=(const PageFolder&) = delete;

  fs::path SourceDir() const { return fs::path(root_.native() + "/"); }
  fs::path NewDir() const { return fs::path((root_ / "New").native() + "/"); }
  const std::vector<fs::path>& Names() const { return names_; }
  std::size_t Bytes() const { return bytes_; }

 private:
  fs::path root_;
  std::vector<fs::path> names_;
  std::size_t bytes_ = 0;
};

// A page of a run over real files, from its source to its named copy; the
// page cache holds them after the first pass, so this is the rewrite's cost
// plus the system calls, not the disk's.
void BM_RewritePage(benchmark::State& state) {
  const bool logging = state.range(1) != 0;
  const PageFolder folder(64, static_cast<std::size_t>(state.range(0)));
  Disk& disk = MachineDisk();
  auto sources = disk.OpenFolder(folder.SourceDir());
  auto copies = disk.OpenFolder(folder.NewDir());
  if (!sources || !copies) {
    state.SkipWithError("cannot open the folders");
    return;
  }
  const lapse::batch::PageSettings settings{{30, 1, EnglishDateLocale(), [] { return kToday; }},
                                            logging};
  std::shared_ptr<lapse::platform::Folder> source(std::move(*sources));
  std::shared_ptr<lapse::platform::Folder> copy(std::move(*copies));
  lapse::batch::PageRewriter rewriter(disk, settings, *copy);
  for (auto _ : state) {
    for (const fs::path& name : folder.Names()) {
      lapse::batch::RewrittenPage page = rewriter.Rewrite({source, copy, name, name, {}});
      const bool named = page.report.outcome == lapse::batch::PageOutcome::Rewritten &&
                         !(page.named ? page.nameError : page.copy->Commit());
      if (!named) {
        state.SkipWithError("a page was not rewritten");
        return;
      }
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * folder.Bytes()));
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * folder.Names().size()));
  state.SetLabel(logging ? "log on" : "log off");
}
BENCHMARK(BM_RewritePage)
    ->Args({2 * 1024, 1})
    ->Args({256 * 1024, 0})
    ->Args({256 * 1024, 1})
    ->Unit(benchmark::kMillisecond);

const char* const kTagLines[] = {
    "<!--LAPSE 12/31/26 -->",         "<!--LAPSE 12/31/2026 -->", "<!--LNEW 2026-12-31 -->",
    "<!--LAPSE Dec 31, 2026 -->",     "<!--LAPSE 31-Dec-26 -->",
    "<!--LAPSE 31 December 2026 -->",  // too long to read: a date format error "<!--LAPSE
                                       // 12/31/2026 11:59 PM -->",
};

void BM_ReadTagDate(benchmark::State& state) {
  const std::string_view line = kTagLines[state.range(0)];
  const std::string_view head = line.substr(0, std::min(line.size(), kLineHeadLength));
  const DateLocale locale = EnglishDateLocale();
  for (auto _ : state) {
    benchmark::DoNotOptimize(ReadTagDate(head, locale));
  }
  state.SetLabel(std::string(line));
}
BENCHMARK(BM_ReadTagDate)->DenseRange(0, static_cast<int>(std::size(kTagLines)) - 1);

void BM_ParseDate(benchmark::State& state) {
  const char* const texts[] = {"12/31/26", "2026-12-31", "Dec 31, 2026", "31 December 2026",
                               "not a date"};
  const std::string_view text = texts[state.range(0)];
  const DateLocale locale = EnglishDateLocale();
  for (auto _ : state) {
    benchmark::DoNotOptimize(ParseDate(text, locale));
  }
  state.SetLabel(std::string(text));
}
BENCHMARK(BM_ParseDate)->DenseRange(0, 4);

}  // namespace
