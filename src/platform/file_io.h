#pragma once
#include <sys/types.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace tess::platform {

// The shape of pread, so that a caller can put another reader in its place
// (the sector stream does, to bring about read errors in its tests).
using PReadFunction = ssize_t (*)(int Fd, void* Buffer, size_t Count, off_t Offset);

// Reads until Count bytes are in Buffer or the file ends, retrying interrupted
// calls and going on after short ones. Returns the bytes read: fewer than Count
// at the end of the file or at an error. An error stops the loop with errno
// left as the failing call set it; *Err (when given) is that error, else 0.
[[nodiscard]] size_t ReadFull(int Fd, void* Buffer, size_t Count, int* Err = nullptr);
// The same at Offset, without moving the file position; Read does each step.
[[nodiscard]] size_t PReadFull(int Fd, void* Buffer, size_t Count, int64_t Offset, int* Err = nullptr,
                               PReadFunction Read = &::pread);

// Writes all Count bytes, retrying interrupted calls and going on after short
// ones. False at the first error, with errno set to it; a call that takes no
// bytes at all counts as ENOSPC rather than being tried for ever. *Written
// (when given) is the bytes that reached the file.
[[nodiscard]] bool WriteFull(int Fd, const void* Data, size_t Count, size_t* Written = nullptr);
// The same at Offset, without moving the file position.
[[nodiscard]] bool PWriteFull(int Fd, const void* Data, size_t Count, int64_t Offset,
                              size_t* Written = nullptr);

// Copies up to Count bytes of In from Offset to Out at its file position in the
// kernel, without passing them through this process: the bytes copied, 0 at
// the end of In, -1 with errno where the kernel cannot copy between the two
// (callers then read and write). While failures are brought about on purpose
// it copies nothing, so that they come from the reads and writes.
[[nodiscard]] ssize_t KernelCopy(int In, int64_t Offset, int Out, size_t Count);

// The spelling on disk of Path (looked up case-insensitively) when it names an
// existing regular file, else empty. *Err (when given) is then the errno of a
// look that failed for another reason than the file missing (ELOOP of a link
// loop, EACCES of a folder the user may not enter), else 0.
std::string ExistingRegularFile(const std::string& Path, int* Err = nullptr);
// The errno of looking at Path when it fails for another reason than nothing
// being there (ENOENT, ENOTDIR), else 0.
int LookUpError(const std::string& Path);

// Opens Path with Flags only when it is a regular file; a FIFO, a device or a
// folder is refused (with *NotRegular set) without ever blocking on it. -1 with
// errno on failure.
int OpenRegularFile(const std::string& Path, int Flags, bool* NotRegular = nullptr);

// Writes Data under a temporary name beside FileName and puts it in place of
// FileName with one rename, so FileName is never half written. False (with the
// errno in Err) when it was not replaced; the temporary file is then gone.
// Opened tells whether the temporary file could be made at all. Stop signals
// (SIGINT, SIGTERM, SIGHUP and the like) wait until it is done: a stop leaves
// the old file or the new one, never the temporary one. The new file keeps
// the old one's mode; with KeepOwner also its owner and group, or FileName is
// not replaced (the errno of the refusal in Err, EPERM for a user other than
// root replacing another user's file).
[[nodiscard]] bool ReplaceFileWith(const std::string& FileName, const void* Data, size_t Size,
                                   int* Err = nullptr, bool* Opened = nullptr, bool KeepOwner = false);

// What ReadWholeFile takes at most unless told otherwise: far more than any
// settings file, saved log or index that the program reads whole.
inline constexpr size_t kMaxWholeFileBytes = size_t{64} << 20;

// The whole of a regular file in Out. False when it is not one (a FIFO or a
// device is never opened), cannot be opened, holds more than Limit bytes
// (EFBIG, Out left empty), or a read fails: *Err (when given) is the errno then,
// and *Opened tells a failed open from the rest.
[[nodiscard]] bool ReadWholeFile(const std::string& Path, std::string& Out, int* Err = nullptr,
                                 bool* Opened = nullptr, size_t Limit = kMaxWholeFileBytes);

// Up to Count bytes from the start of a regular file; -1 when it is not one or
// cannot be opened. A read error ends the bytes early; *Err (when given) is
// then its errno, else 0. *OpenErr (when given) is the errno of a failed open.
[[nodiscard]] int64_t ReadFileHead(const std::string& Path, void* Buffer, size_t Count, int* Err = nullptr,
                                   int* OpenErr = nullptr);

// The reason that ends a line about a failed file operation: ": " and the
// system's text of the error Err (": Permission denied"); empty for 0.
std::string ErrorReason(int Err);

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed, so that no
// file the program opens later (a lock, an output) becomes its standard input,
// output or error. Called first thing.
void OpenClosedStandardDescriptors();
// The reason why Path could not be opened or made, the open having failed with
// Err: ": it is a folder" or ": it is not a regular file" where something of
// that kind is in the way (OpenRegularFile refuses those), else ErrorReason.
// With Err 0 (no open was tried) it is what looking at Path finds: a missing
// file gives the system's reason, a regular file none.
std::string OpenFailureReason(const std::string& Path, int Err);

}  // namespace tess::platform
