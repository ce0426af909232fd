#pragma once
#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/main_window_impl.h"
#include "app/project_state.h"

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

// A project state with a headless main window and a prompt that answers No.
struct Project {
  Project();
  std::unique_ptr<app::TForm1> FormPtr;
  app::TForm1& Form;
  std::unique_ptr<app::MainWindow> Window;
  platform::PolicyPrompt Prompt;
  // Texts of the log lines written so far (captions without the time stamp).
  std::vector<std::string> LogTexts() const;
  bool LogContains(const std::string& piece) const;
};

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

}  // namespace tess::test
