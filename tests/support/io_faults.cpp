// The failures of a damaged disc and of a full disk, brought about in the
// program's own reads and writes. Linked into a test program (and into the copy
// of the program that the corrupt-disc runs use), it stands in for read, pread,
// write and pwrite; two environment variables arm it, else every call passes on.
//   TESS_FAIL_READ=SUFFIX@OFFSET  reads of a file whose path ends in SUFFIX fail
//                                 with EIO from byte OFFSET on
//   TESS_FAIL_WRITE=PREFIX@BYTES  writes to files whose path starts with PREFIX
//                                 fail with ENOSPC once BYTES went there
// The checked inline forms of read and write would stand in the way.
#undef _FORTIFY_SOURCE
#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

template <class F>
F Real(const char* Name) {
  return reinterpret_cast<F>(::dlsym(RTLD_NEXT, Name));
}

// The bytes written under the write fault's prefix; counted afresh for a new setting.
int64_t& Written(const char* Setting) {
  static std::string of;
  static int64_t bytes = 0;
  if (of != Setting) of = Setting, bytes = 0;
  return bytes;
}

// How many of Count bytes a call on Fd may move under the fault Var arms: -1
// for a file it does not cover, else at most Count (0: the call fails).
int64_t Allowed(const char* Var, bool Reading, int Fd, int64_t Offset, size_t Count) {
  const char* v = std::getenv(Var);
  const char* at = v ? std::strrchr(v, '@') : nullptr;
  if (!at) return -1;
  char link[32], path[PATH_MAX];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", Fd);
  const ssize_t n = ::readlink(link, path, sizeof path);
  const std::string file(path, n > 0 ? static_cast<size_t>(n) : 0), match(v, at);
  if (Reading ? !file.ends_with(match) : !file.starts_with(match)) return -1;
  const int64_t from = Reading ? Offset : Written(v);
  return std::clamp<int64_t>(std::atoll(at + 1) - from, 0, static_cast<int64_t>(Count));
}

template <class Call>
ssize_t Faulty(bool Reading, int Fd, int64_t Offset, size_t Count, Call&& Real) {
  const char* var = Reading ? "TESS_FAIL_READ" : "TESS_FAIL_WRITE";
  const int64_t allowed = Allowed(var, Reading, Fd, Offset, Count);
  if (allowed < 0) return Real(Count);
  if (allowed == 0 && Count > 0) return errno = Reading ? EIO : ENOSPC, -1;
  const ssize_t moved = Real(static_cast<size_t>(allowed));
  if (!Reading && moved > 0) Written(std::getenv(var)) += moved;
  return moved;
}

}  // namespace

extern "C" {

ssize_t pread(int Fd, void* Buffer, size_t Count, off_t Offset) {
  static auto real = Real<ssize_t (*)(int, void*, size_t, off_t)>("pread");
  return Faulty(true, Fd, Offset, Count, [&](size_t N) { return real(Fd, Buffer, N, Offset); });
}
ssize_t pread64(int Fd, void* Buffer, size_t Count, off_t Offset) { return pread(Fd, Buffer, Count, Offset); }

ssize_t read(int Fd, void* Buffer, size_t Count) {
  static auto real = Real<ssize_t (*)(int, void*, size_t)>("read");
  const int64_t at = std::getenv("TESS_FAIL_READ") ? ::lseek(Fd, 0, SEEK_CUR) : 0;
  return Faulty(true, Fd, at, Count, [&](size_t N) { return real(Fd, Buffer, N); });
}

ssize_t pwrite(int Fd, const void* Data, size_t Count, off_t Offset) {
  static auto real = Real<ssize_t (*)(int, const void*, size_t, off_t)>("pwrite");
  return Faulty(false, Fd, Offset, Count, [&](size_t N) { return real(Fd, Data, N, Offset); });
}
ssize_t pwrite64(int Fd, const void* Data, size_t Count, off_t Offset) { return pwrite(Fd, Data, Count, Offset); }

ssize_t write(int Fd, const void* Data, size_t Count) {
  static auto real = Real<ssize_t (*)(int, const void*, size_t)>("write");
  return Faulty(false, Fd, 0, Count, [&](size_t N) { return real(Fd, Data, N); });
}

}  // extern "C"
