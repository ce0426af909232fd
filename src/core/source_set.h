#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace tess::core {

// Files that no clean-up deletes and no output takes the place of: a run's
// sources. Each is known by its device and file number, so another spelling
// of its path, a link to it or a second name of it is still the file; and so
// is each folder on its way up, so a folder that holds one is known however it
// is reached (a link, a bind mount, another case on a file system that ignores
// case).
class FileSet {
 public:
  // Adds the regular file that Path names (looked up without case, links
  // followed); a path that names none adds nothing. Outputs may lie beside a
  // file added with OutputsBeside (the settings file): FileIn passes it by.
  void Add(const std::string& Path, bool OutputsBeside = false);
  // Adds that file alone: the folders above it are not held for it, so the
  // rest of a folder may go while the file stays.
  void AddAlone(const std::string& Path);
  bool Empty() const { return files_.empty(); }
  // The file of the set that Path names, as it was added; empty for none.
  std::string Find(const std::string& Path) const;
  // The file of that device and number is one of the set.
  bool Has(uint64_t Device, uint64_t Inode) const;
  // The file of that device and number is one of the set that outputs may not
  // lie beside: a source, not the settings file.
  bool IsSource(uint64_t Device, uint64_t Inode) const;
  // The folder of that device and number holds one of the files at any depth;
  // with SourcesOnly, one of the sources (the settings file is none).
  bool HasFolder(uint64_t Device, uint64_t Inode, bool SourcesOnly = false) const;
  // Folder, however its path is written or reached, holds one of the files at
  // any depth (a folder that cannot be looked at counts as one that does).
  bool HeldBy(const std::string& Folder) const;
  // The same for the sources alone: outputs go into no such folder. A folder
  // that holds the settings file and no source is no part of the source.
  bool HoldsSource(const std::string& Folder) const;
  // A file of the set that lies in Folder itself (however Folder is reached),
  // as it was added; empty for none.
  std::string FileIn(const std::string& Folder) const;

 private:
  struct Identity {
    uint64_t Device = 0, Inode = 0;
    bool operator==(const Identity&) const = default;
  };
  struct File {
    std::string Path;
    Identity Id;
    Identity Folder;  // the folder it lies in, as its real path has it
    bool OutputsBeside = false;
  };
  struct HeldFolder {
    Identity Id;
    bool Source = false;  // it holds a file that is a source
  };
  bool Holds(const std::string& Folder, bool SourcesOnly) const;
  std::vector<File> files_;
  std::vector<HeldFolder> folders_;  // every folder above a file, each once
};

}  // namespace tess::core
