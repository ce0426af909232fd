#include "streams/unit_count.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/bit_stream.h"
#include "core/run_context.h"
#include "platform/file_io.h"
#include "platform/paths.h"
#include "platform/ui_models.h"

namespace tess::streams {

namespace {
constexpr size_t kBlockSize = kStartCodeBlockSize;
// The progress bar counts in steps of this many bytes.
constexpr int64_t kProgressStep = 0x2FFFD;
// Bytes of a start code and the two after it; the last ones of a block wait
// for the next block.
constexpr size_t kLookAhead = 4;
}  // namespace

bool ForEachStartCode(core::RunContext& Run, const std::string& FileName, const uint8_t* Abort,
                      platform::ProgressBar* Bar, const std::function<void(int Next, int AfterNext)>& OnUnit) {
  const int fd = ::open(platform::ResolveInputPath(FileName).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  ::fstat(fd, &st);
  if (Bar) {
    Bar->SetRange(0, static_cast<int64_t>(st.st_size) / kProgressStep);
    Bar->SetPosition(0);
  }
  std::vector<uint8_t> buf(kBlockSize + kLookAhead);
  size_t carry = 0;
  int64_t consumed = 0;
  bool ok = true;
  for (;;) {
    int err = 0;
    const size_t got = platform::ReadFull(fd, buf.data() + carry, kBlockSize, &err);
    if (err != 0) {
      Run.LogError("Unable to read from file " + FileName + ". (" + std::strerror(err) + ")");
      Run.NoteReadError(FileName);
      ok = false;
    }
    const size_t n = carry + got;
    const bool last = got < kBlockSize;
    // Positions whose following bytes are all here; at the end, every one.
    const size_t limit = last ? n : n - kLookAhead;
    const uint8_t* b = buf.data();
    // Prefixes that start before the limit.
    const uint8_t* const end = b + std::min(limit + 2, n);
    for (const uint8_t* p = b; (p = core::FindStartCodePrefix(p, end)) != end; p += 3) {
      const size_t i = static_cast<size_t>(p - b);
      OnUnit(i + 3 < n ? b[i + 3] : -1, i + 4 < n ? b[i + 4] : -1);
    }
    consumed += static_cast<int64_t>(got);
    if (Bar) Bar->SetPosition(consumed / kProgressStep);
    if (last) break;
    std::memmove(buf.data(), buf.data() + limit, n - limit);
    carry = n - limit;
    Run.ProcessMessages();
    if (Abort && *Abort) break;
  }
  ::close(fd);
  return ok;
}

void RemoveEmulationPrevention(const uint8_t* Data, size_t Size, std::string& Out) {
  Out.clear();
  Out.reserve(Size);
  int zeros = 0;
  for (size_t i = 0; i < Size; ++i) {
    const uint8_t b = Data[i];
    if (zeros >= 2 && b == 3) {
      zeros = 0;
      continue;
    }
    zeros = b == 0 ? zeros + 1 : 0;
    Out += static_cast<char>(b);
  }
}

}  // namespace tess::streams
