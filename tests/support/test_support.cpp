#include "support/test_support.h"

#include <unistd.h>

#include <cstdlib>
#include <algorithm>
#include <fstream>

namespace tess::test {

TempDir::TempDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "tessaline-test-XXXXXX").string();
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  char* made = ::mkdtemp(buf.data());
  path_ = made ? made : tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::vector<std::string> LogLineTexts(const platform::LogModel& Log) {
  std::vector<std::string> out;
  for (const auto& l : Log.Lines) {
    // "  hh:mm:ss   text"
    const std::string& c = l.Caption;
    out.push_back(c.size() >= 13 && c[0] == ' ' && c[1] == ' ' && c[4] == ':' ? c.substr(13) : c);
  }
  return out;
}

// Read in one call: byte by byte through stream iterators, reading back the
// outputs of the damaged-disc runs took most of the sanitizer build's test time.
std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return {};
  std::vector<uint8_t> bytes(static_cast<size_t>(std::max<std::streamoff>(in.tellg(), 0)));
  in.seekg(0);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  bytes.resize(static_cast<size_t>(std::max<std::streamsize>(in.gcount(), 0)));
  return bytes;
}

void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::string DataFile(const std::string& name) { return std::string(TESS_TEST_DATA) + "/" + name; }
std::string SourceFile(const std::string& name) { return std::string(TESS_SOURCE_DIR) + "/" + name; }

}  // namespace tess::test
