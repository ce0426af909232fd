#pragma once
#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/headless_window.h"
#include "core/run_context.h"

namespace tess::test {

// A fresh folder under the system's temp folder, removed with the object.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Texts of a log window's lines, captions without the time stamp.
std::vector<std::string> LogLineTexts(const platform::LogModel& Log);

// A run context (or a state built on one) with a headless main window and a
// prompt that answers No. FormT is the context the tests of a layer take,
// WindowT the main window they run under.
template <class FormT, class WindowT = core::HeadlessWindow>
struct BasicProject {
  BasicProject() : FormPtr(std::make_unique<FormT>()), Form(*FormPtr) {
    Window = std::make_unique<WindowT>(Form);
    Form.Prompt = &Prompt;
  }
  std::unique_ptr<FormT> FormPtr;
  FormT& Form;
  std::unique_ptr<WindowT> Window;
  platform::PolicyPrompt Prompt;
  // Texts of the log lines written so far (captions without the time stamp).
  std::vector<std::string> LogTexts() const { return LogLineTexts(Form.LogWindow.Log); }
  bool LogContains(const std::string& piece) const {
    for (const auto& t : LogTexts())
      if (t.find(piece) != std::string::npos) return true;
    return false;
  }
};

using CoreProject = BasicProject<core::RunContext>;

// A file-size limit stands in for a full disk: writes past it fail with EFBIG.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t Bytes) {
    ::getrlimit(RLIMIT_FSIZE, &saved_);
    handler_ = ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved_;
    small.rlim_cur = Bytes;
    ::setrlimit(RLIMIT_FSIZE, &small);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &saved_);
    ::signal(SIGXFSZ, handler_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  struct rlimit saved_ {};
  sighandler_t handler_;
};

std::vector<uint8_t> ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);
std::string DataFile(const std::string& name);  // a file of tests/data
std::string SourceFile(const std::string& name);  // a file of the source tree, from its top

}  // namespace tess::test
