#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/source_set.h"

// Small file-system operations around a run, and the cleaning passes over a
// project (output) folder. Folder paths use "/" and may or may not end in one.
namespace tess::core {

struct RunContext;

// Path names a regular file, or a folder; a link counts as what it points at.
// False when Path cannot be looked at.
bool IsFile(const std::string& Path);
bool IsFolder(const std::string& Path);
// Name less its last Count characters (empty when it has no more).
std::string DropTail(const std::string& Name, size_t Count);
// Makes Folder and the folders above it that are missing. True when Folder is a
// folder afterwards; else *Why (when given) is the reason as the end of a line
// (": it is a file", ": out/VMG is a file", ": Permission denied").
bool MakeFolders(const std::string& Folder, std::string* Why = nullptr);

// The folder part of FileName exists.
bool ParentFolderExists(const std::string& FileName);
// When FileName is not empty and its folder is missing, creates the folder (and
// any missing folder above it) and returns true; otherwise false.
bool CreateFileFolders(const std::string& FileName);
// Removes Dir, then its parent, then the parent's parent, each only when empty.
void RemoveDirectoryChain(const std::string& Dir);

using TCopyProgress = std::function<void(int64_t)>;
// Copies Count bytes from byte Offset of Source (fewer when the source ends first)
// into Dest. Dest is written under a temporary name and takes its place only when
// the copy is complete, so a copy that fails or is aborted leaves no partial Dest
// and an older Dest untouched. OnProgress gets ProgressBase + bytes copied after
// every 16,000-byte block; the copy stops when *AbortFlag becomes non-zero. False
// (with a log line, except on abort) when the copy was not made.
[[nodiscard]] bool CopyFileRange(RunContext& Run, const std::string& Source, const std::string& Dest,
                                 const TCopyProgress& OnProgress, const uint8_t* AbortFlag, int64_t ProgressBase,
                                 uint64_t Count, int64_t Offset);
[[nodiscard]] bool CopyFileRangeSimple(RunContext& Run, const std::string& Source, const std::string& Dest,
                                       uint64_t Count, int64_t Offset);

// The file's size; 0 when it cannot be opened.
int64_t GetFileSizeByName(const std::string& FileName);
// The first 8 bytes of the file are "DVDVIDEO" or "STANDARD"; false when the
// file cannot be opened or is shorter.
bool IsIfoFile(const std::string& FileName);
// Writes Count bytes at the end of the file, creating it when missing. False when
// not every byte was written, with the errno of the call that failed in *Err
// when given.
[[nodiscard]] bool AppendToFile(const std::string& FileName, const void* Buffer, int64_t Count, int* Err = nullptr);
// The folder holds no file and no subfolder (a missing folder counts as empty);
// an entry named Except does not count.
bool IsFolderEmpty(const std::string& Folder, std::string_view Except = {});

// One line of 8-bit (or UTF-16 little-endian) text from an open file: up to a CR
// (an LF after it is dropped too) or the end of the file. Returns the number of
// characters in Line, or -1 when a read failed (Line holds what came before).
[[nodiscard]] int32_t ReadAnsiLine(int Handle, std::string& Line);
[[nodiscard]] int32_t ReadWideLine(int Handle, std::u16string& Line);

// The next file of an EVO chain after Name (which ends in a 4-character extension
// such as ".evo", the digits before it numbering the file), or empty. The one or
// two digits before the extension plus 1 give the number; it
// replaces those digits zero-padded to two ("hv001t01.evo" gives "hv001t02.evo",
// "clip_5.evo" gives "clip_06.evo"), else in plain decimal ("hv001t2.evo",
// "clip_6.evo"), whichever exists first. The folder of Name is kept; a name found
// under another case is returned as it is spelled on disk. A name without a
// digit before its extension has no next file. *Unreadable (when given) is,
// when there is none, a next file that is there but cannot be looked at (a link
// loop, a folder the user may not enter): its name and the reason
// ("hv001t03.evo: Too many levels of symbolic links"); else empty.
std::string NextEvoFileName(const std::string& Name, std::string* Unreadable = nullptr);

// When the chain that ends at LastName (no NextEvoFileName after it) has later
// files all the same ("hv001t03.evo" while "hv001t02.evo" is missing), the name
// of the missing one, which the chain cannot get past; else empty.
std::string MissingChainFile(const std::string& LastName);
// The name the file after LastName in its chain has ("hv001t02.evo" gives
// "hv001t03.evo"), whether it exists or not; empty when LastName ends in no
// two-digit number or in 99.
std::string ChainFileAfter(const std::string& LastName);
// An empty path or the file-system root, which no clean-up may touch.
bool IsProtectedFolder(const std::string& Dir);
// Deletes a folder with everything in it. Symbolic links inside are removed as
// links and never followed; Dir itself must not be a link. Never touches a path
// of three characters or fewer, the root, the user's home folder, the working
// folder or a folder that holds it, a path made only of "." and ".." steps, or
// a folder that holds a source of Keep; a file of Keep met inside (another
// name of one, the settings file) stays, and so do the folders above it.
// False when Dir was not removed; *Why (when given) is then the reason, as
// EmptyFolder gives it.
bool DeleteFolderTree(const std::string& Dir, const FileSet& Keep = {}, std::string* Why = nullptr);
// The same for what Dir holds, but for its entry named Spare: Dir stays. True
// when nothing else is left in it; else *Why (when given) is the reason as the
// end of a line: the rule that keeps Dir (": it is the home folder"), or the
// first entry that stayed and the system's reason.
bool EmptyFolder(const std::string& Dir, std::string_view Spare, const FileSet& Keep = {},
                 std::string* Why = nullptr);
// Deletes the file or link FileName unless it is a file of Keep; never a
// folder. True when it was deleted.
bool DeleteFileUnless(const std::string& FileName, const FileSet& Keep);
// Root holds what CleanProjectFolder deletes: an earlier run's VMG or VTS_nnn
// folder or its "Tessaline.log".
bool HoldsEarlierRun(const std::string& Root);
// The first entry of Root (by name) that no run of the program writes there,
// as a path below Root; empty when there is none. A run writes its VMG and
// VTS_001..VTS_099 folders, its "Tessaline.log" and its lock file; with
// DestinationMode=2 it writes a folder of those alone. A folder that holds
// anything else is named with the first such entry ("2019/a.jpg"), an empty
// folder by itself ("2019/"). A link is nothing a run writes.
std::string EntryNoRunWrote(const std::string& Root);
// Before a run, what an earlier run of the program wrote in Root: the VMG and
// VTS_001..VTS_099 folders and its "Tessaline.log". Other files in Root are the
// user's and stay, and so does a folder that holds a source of Keep (it is
// added to *Kept when given). A symbolic link of one of those folder names is
// removed as a link, what it leads to untouched, and added to *Unlinked (when
// given): the run makes a folder of its own there. A folder that could not be
// deleted is added to *Failed (when given) with the reason after it. False
// (nothing done) for an empty or root Root.
bool CleanProjectFolder(const std::string& Root, const FileSet& Keep = {}, std::vector<std::string>* Kept = nullptr,
                        std::vector<std::string>* Failed = nullptr, std::vector<std::string>* Unlinked = nullptr);
// The first folder on the way down from Root to Folder (which lies below Root
// or is Root) that outputs must not go into, as Folder spells it: Root when a
// file of Sources lies in it, a folder below Root that holds one at any depth.
// Links on the way are followed, so a link to a source's folder is found.
// Empty for none, and when Folder does not lie below Root.
std::string FolderHoldingSource(const std::string& Root, const std::string& Folder, const FileSet& Sources);
// The line that refuses a run whose outputs would go into Held, a folder that
// holds the source.
std::string SourceFolderRefusalLine(const std::string& Held);
// After a run: "*.sup" and "*.dat" in VMG and in the Menu and Titles folders of
// VTS_001..VTS_099. The files of Keep stay, and so does all that a folder
// holding one of them holds (here and in the two below).
bool CleanMenuTitleFolders(const std::string& Root, const FileSet& Keep = {});
// At the end of every run, however it ended: the scan caches ("*.vnf",
// "*.ipos") in VMG/Menu and in the Menu and Titles folders of every title set.
bool CleanScanCaches(const std::string& Root, const FileSet& Keep = {});
// At the end of a finished run: CleanScanCaches, "*.sup" and "*.dat" in
// VMG/Menu, and the slide-show timings ("*.times") in the folders of
// CleanScanCaches. A ".times" file is the user's, written by no part of the
// program: only this, a slide show built from it and the split of a single
// still take one away.
bool CleanScanFiles(const std::string& Root, const FileSet& Keep = {});

// "File size: " + the size in whole Gb, Mb or Kb.
void FormatFileSize(const std::string& FileName, std::string& Text);

}  // namespace tess::core
