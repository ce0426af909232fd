#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "disc_layout.h"
#include "evo_builder.h"
#include "ifo_builder.h"
#include "stream_sources.h"

// The synthetic disc builder: a Standard Content disc (information files and EVO
// chains written from one description, so they agree), an Advanced Content
// ".VTI" list with its EVO files, or loose EVO files.
namespace tess::tools {

// The folders where the sample streams may be, in the order they are looked at:
// the source tree's tests/data/streams, then the installed copies.
std::vector<std::string> StreamsFolderCandidates();
// The first of them that is a folder (the source tree's when none is).
std::string DefaultStreamsFolder();

// Which of the sample streams a domain carries.
struct DomainStreams {
  bool Mpeg2 = true, H264 = false, Vc1 = false;
  bool Ac3 = true, Eac3 = false, Dts = false, Mlp = false, TrueHd = false, Mpa = false;
  bool Lpcm16 = false, Lpcm24 = false, Subpicture = true;
  static DomainStreams Menu() { return {}; }
  static DomainStreams EveryKind() {
    DomainStreams s;
    s.Eac3 = s.Dts = s.Mlp = s.Mpa = s.Lpcm16 = true;
    return s;
  }
};

std::vector<EvoStream> MakeDomainStreams(const StandardStreams& Sources, const DomainStreams& Which);

// A small sample disc: a first-play and a menu domain in the video manager; title
// set 1 with a menu and a title chain of several VOBs and cells (one VOB with
// three cells, an interleaved block of three angles, a last VOB), split over
// files of the chain; title set 2 with a two-cell title (DiscBuildOptions::TitleBytes
// grows the first title set's titles).
struct SampleDiscOptions {
  int TitleSets = 2;
  uint32_t MaxFileSectors = 600;  // title chains continue in t02, t03, ... past this
  bool HD = true;
  double FrameRate = 29.97;
};
DiscSpec MakeSampleDiscSpec(const SampleDiscOptions& Options = {});

struct DiscBuildOptions {
  IfoBuildOptions Ifo;
  EvoBuildOptions Evo;
  DomainStreams MenuStreams = DomainStreams::Menu();
  DomainStreams TitleStreams = DomainStreams::EveryKind();
  uint64_t TitleBytes = 0;  // with it, title set 1's titles are fitted to this size
  // When set, changes every stream of every domain before it is multiplexed
  // (delays, multiplexing lags).
  std::function<void(EvoStream&)> AdjustStream;
};

struct DiscBuildSummary {
  bool Ok = false;
  std::string Error;
  IfoSetSummary Ifo;
  // Per domain: "fp" (first play), "vmgm", and "vtsN-menu", "vtsN-titles".
  std::map<std::string, EvoBuildSummary> Evo;
  std::vector<std::string> Files;  // every file written, in order
};

// Readies Folder for a disc of this builder: one that is not there or is
// empty is taken as it is; one that holds only the files of an earlier disc
// of the builder (the names it writes) has them removed first, so no file of
// that disc is read as part of the new one. Anything else there is refused:
// false, the folder as it was, and the reason in Error.
bool ClearDiscFolder(const std::string& Folder, std::string& Error);

// Writes a Standard Content disc into Folder (created when missing). Spec's
// domains are sized for their streams in place before anything is written.
DiscBuildSummary BuildStandardDisc(const std::string& Folder, DiscSpec& Spec, const StandardStreams& Sources,
                                   const DiscBuildOptions& Options = {});

// An Advanced Content disc: loose EVO files named in a ".VTI" list (VTIName).
DiscBuildSummary BuildAdvancedDisc(const std::string& Folder, const std::string& VTIName,
                                   std::vector<std::pair<std::string, DomainSpec>>& Evos,
                                   const StandardStreams& Sources, const DiscBuildOptions& Options = {});

}  // namespace tess::tools
