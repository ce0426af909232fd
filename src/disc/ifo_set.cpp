#include "disc/ifo_set.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "core/run_context.h"
#include "disc/disc_model.h"
#include "disc/run_registries.h"
#include "core/messages.h"
#include "core/number_text.h"
#include "disc/attribute_decode.h"
#include "disc/attribute_texts.h"
#include "disc/highlights.h"
#include "disc/ifo_readers.h"
#include "disc/palette.h"
#include "disc/vob_scout.h"
#include "platform/file_io.h"
#include "platform/paths.h"

namespace tess::disc {

namespace {

// Every chain's palette converted once to RGB; the list keeps each distinct
// palette with the number of chains that use it.
void AddChainPalette(const DiscModel& Disc, TPalettes& Palettes, const TPGC* Pgc) {
  if (!Pgc) return;
  TPaletteColours rgb{};
  PaletteYCrCbToRGB(Disc, Pgc, rgb);
  const int32_t found = FindPalette(Palettes, rgb);
  if (found >= 0)
    ++Palettes.Items[static_cast<size_t>(found)].UseCount;
  else
    AddPalette(Palettes, rgb);
}

void ConvertPalettes(const DiscModel& Disc, TPalettes& Palettes) {
  Palettes.Items.clear();
  for (int32_t i = 0; i < Disc.TitleSetCount; ++i) {
    const TIFOFile& rec = Disc.IFOFiles[static_cast<size_t>(i)];
    if (rec.Kind != ifoVMG && rec.Kind != ifoVTS) continue;
    AddChainPalette(Disc, Palettes, rec.FirstPlayPGC.get());
    for (const auto& unit : rec.MenuPGCI_UT.Units)
      for (const auto& entry : unit.PGCs) AddChainPalette(Disc, Palettes, entry.PGC.get());
    for (const auto& entry : rec.VTS_PGCIT.PGCs) AddChainPalette(Disc, Palettes, entry.PGC.get());
  }
}

// The disc's frame rate follows the TV system of its video: the first title
// set's title video, else the video manager's menus. PAL discs play at 25,
// NTSC ones at 29.97.
void SetDiscFrameRate(DiscModel& Disc) {
  std::optional<uint16_t> attr;
  for (int32_t i = 0; i < Disc.TitleSetCount && !attr; ++i) {
    const TIFOFile& rec = Disc.IFOFiles[static_cast<size_t>(i)];
    if (rec.Kind == ifoVTS && !rec.InformationCorrupted)
      attr = VideoAttrWordAt(rec.VTSI_MAT.data(), vtsi::TitleVideoAttr);
  }
  if (!attr && Disc.TitleSetCount > 0 && Disc.IFOFiles[0].Kind == ifoVMG)
    attr = VideoAttrWordAt(Disc.IFOFiles[0].VMGI_MAT.data(), vmgi::MenuVideoAttr);
  if (!attr) return;
  std::array<uint8_t, 12> decoded{};
  DecodeVideoAttr(*attr, decoded);
  Disc.FrameRate = decoded[1] != 0 ? 25.0 : 29.97;
}

// Title set n lands in record n; the video manager holds record 0.
constexpr int32_t kMaxTitleSetNumber = kMaxIFOFiles - 1;

// The files of each title set in a disc folder by the number their names carry
// ("hvNNNi01.IFO" and ".BUP", "hvNNNm01.evo", "hvNNNtNN.evo"), in name order.
using TTitleSetFiles = std::map<int32_t, std::vector<std::string>>;

// The number of a lower-case name that begins "hv" and three digits, else 0.
int32_t HvNumber(const std::string& Lower) {
  if (Lower.size() < 5 || !Lower.starts_with("hv")) return 0;
  int32_t n = 0;
  for (size_t i = 2; i < 5; ++i) {
    if (!platform::IsAsciiDigit(Lower[i])) return 0;
    n = n * 10 + (Lower[i] - '0');
  }
  return n;
}

int32_t TitleSetNumberOfFile(const std::string& Name) {
  const std::string n = platform::ToLowerAscii(Name);
  if (n.size() != 12) return 0;
  const std::string tail = n.substr(5);
  const bool evo = tail == "m01.evo" || (tail[0] == 't' && platform::IsAsciiDigit(tail[1]) &&
                                         platform::IsAsciiDigit(tail[2]) && tail.ends_with(".evo"));
  return evo || tail == "i01.ifo" || tail == "i01.bup" ? HvNumber(n) : 0;
}

TTitleSetFiles TitleSetFilesIn(const std::string& Folder) {
  TTitleSetFiles files;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(Folder.empty() ? "." : Folder, ec), end; !ec && it != end;
       it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (const int32_t n = TitleSetNumberOfFile(name); n > 0) files[n].push_back(name);
  }
  for (auto& [n, names] : files)
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
      return platform::ToLowerAscii(a) < platform::ToLowerAscii(b);
    });
  return files;
}

// What shows a title set besides the attribute table.
struct TTitleSetWitness {
  bool Header = false;       // the video manager's own count of title sets
  bool TitleSearch = false;  // a title of the title search table
  const std::vector<std::string>* Files = nullptr;
};
using TShownTitleSets = std::map<int32_t, TTitleSetWitness>;

// The title sets the disc shows past the count of Vmg's attribute table. A
// title search table may name fewer title sets than there are (a title set of
// menus only), and the attribute table may count one the disc has no file of:
// neither leaves a title set out.
TShownTitleSets ShownPastCount(const TIFOFile& Vmg, const TTitleSetFiles& Files) {
  const int32_t counted = Vmg.VTS_ATRT.TitleSetCount;
  TShownTitleSets shown;
  const int32_t header = std::min<int32_t>(VMGIField16(Vmg, vmgi::TitleSetCount), kMaxTitleSetNumber);
  for (int32_t n = counted + 1; n <= header; ++n) shown[n].Header = true;
  for (const TTitleSearchEntry& e : Vmg.TT_SRPT.Entries)
    if (e.TitleSetNumber > counted && e.TitleSetNumber <= kMaxTitleSetNumber) shown[e.TitleSetNumber].TitleSearch = true;
  for (const auto& [n, names] : Files)
    if (n > counted && n <= kMaxTitleSetNumber) shown[n].Files = &names;
  return shown;
}

std::string TitleSetsText(int32_t Count) { return std::to_string(Count) + (Count == 1 ? " title set" : " title sets"); }

// What shows title sets First..Last though Vmg's attribute table leaves them out.
std::string ShownText(const TIFOFile& Vmg, int32_t First, int32_t Last, const TTitleSetWitness& W) {
  std::string text = ", but the disc shows ";
  text += First == Last ? "title set " + std::to_string(First)
                        : "title sets " + std::to_string(First) + " to " + std::to_string(Last);
  std::vector<std::string> parts;
  if (W.Header)
    parts.push_back(platform::ExtractFileName(Vmg.FileName) + "'s header counts " +
                    TitleSetsText(VMGIField16(Vmg, vmgi::TitleSetCount)));
  if (W.TitleSearch) parts.push_back("its title search table names it");
  if (W.Files) {
    const std::vector<std::string>& f = *W.Files;
    constexpr size_t kNamed = 3;
    std::string names;
    for (size_t i = 0; i < f.size() && i < kNamed; ++i)
      names += (i == 0 ? "" : i + 1 == f.size() ? " and " : ", ") + f[i];
    if (f.size() > kNamed) names += " and " + std::to_string(f.size() - kNamed) + " more of its files";
    parts.push_back(names + (f.size() == 1 ? " is there" : " are there"));
  }
  for (size_t i = 0; i < parts.size(); ++i) text += (i == 0 ? ": " : "; ") + parts[i];
  return text;
}

bool HasAttributeTable(const TIFOFile& Vmg) { return VMGIField32(Vmg, vmgi::VTS_ATRT) != 0; }

// Title sets in a row that only the header's count shows are said once.
struct TShownGroup {
  int32_t First = 0;
  int32_t Last = 0;
  TTitleSetWitness Witness;
};
std::vector<TShownGroup> ShownGroups(const TShownTitleSets& Shown) {
  std::vector<TShownGroup> groups;
  const auto headerOnly = [](const TTitleSetWitness& W) { return !W.TitleSearch && !W.Files; };
  for (const auto& [n, witness] : Shown) {
    if (!groups.empty() && groups.back().Last + 1 == n && headerOnly(witness) && headerOnly(groups.back().Witness))
      groups.back().Last = n;
    else
      groups.push_back({n, n, witness});
  }
  return groups;
}

std::vector<DiscModel::TUncountedTitleSets> UncountedGroups(const TIFOFile& Vmg, const TShownTitleSets& Shown) {
  const std::string name = platform::ExtractFileName(Vmg.FileName);
  const std::string table = HasAttributeTable(Vmg) ? name + "'s title-set table counts " +
                                                         TitleSetsText(Vmg.VTS_ATRT.TitleSetCount)
                                                   : name + " has no title-set table";
  std::vector<DiscModel::TUncountedTitleSets> out;
  for (const TShownGroup& g : ShownGroups(Shown))
    out.push_back({g.First, g.Last, table + ShownText(Vmg, g.First, g.Last, g.Witness)});
  return out;
}

// Said as the readers report a bad table: the file, the table, the fault.
void LogUncounted(core::RunContext& Run, const TIFOFile& Vmg, const TShownTitleSets& Shown) {
  const std::string table = std::string(core::msg::File) + platform::ExtractFileName(Vmg.FileName) + ", VTS_ATRT: " +
                            (HasAttributeTable(Vmg) ? "counts " + TitleSetsText(Vmg.VTS_ATRT.TitleSetCount)
                                                    : "none was read");
  for (const TShownGroup& g : ShownGroups(Shown))
    Run.Log(core::kLogWarning, table + ShownText(Vmg, g.First, g.Last, g.Witness), platform::kColourRed);
}

// The video manager's title-set table is what finds the title sets; one damaged
// count or start sector there would leave title sets out unseen. So it is held
// against the rest of the disc: the header's own count, the title search table
// and the title sets' files. A table that leaves out a title set the disc shows
// is not correct: its other copy is read, as a title set's is, and replaces it
// when it counts every title set shown. When neither copy does, the one that
// counts more is kept and the title sets left out are noted.
void HoldTitleSetTable(core::RunContext& Run, DiscModel& Disc, const std::string& Folder) {
  TIFOFile& head = Disc.IFOFiles[0];
  const TTitleSetFiles files = TitleSetFilesIn(Folder);
  TShownTitleSets shown = ShownPastCount(head, files);
  if (shown.empty()) return;
  LogUncounted(Run, head, shown);
  // The source is an ".IFO" or a ".BUP": there is always another name to try.
  const std::string other = OtherInformationCopy(head.FileName);
  Run.Log(core::kLogWarning,
          std::string(core::msg::File) + platform::ExtractFileName(head.FileName) +
              std::string(core::msg::IsNotCorrectLoading) + platform::ExtractFileName(other),
          platform::kColourRed);
  auto copy = std::make_unique<TIFOFile>();
  TIFOImage image;
  const bool read = LoadWholeVideoManagerFile(Run, other, image);
  TShownTitleSets shownByCopy;
  if (read) {
    ReadVMGI(Run, Disc, *copy, image);
    copy->FileName = other;
    copy->Kind = ifoVMG;
    copy->Ordinal = head.Ordinal;
    shownByCopy = ShownPastCount(*copy, files);
    if (shownByCopy.empty()) {
      std::swap(head, *copy);
      return;
    }
    LogUncounted(Run, *copy, shownByCopy);
  }
  Run.Log(core::kLogWarning,
          std::string(core::msg::File) + platform::ExtractFileName(other) +
              std::string(core::msg::IsNotCorrectTooInformationCorrupted),
          platform::kColourRed);
  if (read && copy->VTS_ATRT.TitleSetCount > head.VTS_ATRT.TitleSetCount) {
    std::swap(head, *copy);
    shown = std::move(shownByCopy);
  }
  Disc.UncountedTitleSets = UncountedGroups(head, shown);
}

}  // namespace

std::string OtherInformationCopy(const std::string& Path) {
  const std::string ext = platform::ExtractFileExt(Path);
  const bool ifo = platform::EqualsIgnoreCase(ext, ".IFO");
  if (!ifo && !platform::EqualsIgnoreCase(ext, ".BUP")) return {};
  return platform::ResolveInputPath(platform::ChangeFileExt(Path, ifo ? ".BUP" : ".IFO"));
}

bool IsVideoManagerFile(const std::string& Path) {
  char id[12] = {};
  return platform::ReadFileHead(Path, id, sizeof id) == sizeof id &&
         IsVideoManagerId(std::string_view(id, sizeof id));
}

std::string UncountedTitleSetsText(const DiscModel::TUncountedTitleSets& Sets) {
  const std::string which = Sets.First == Sets.Last
                                ? "title set " + std::to_string(Sets.First) + " was"
                                : "title sets " + std::to_string(Sets.First) + " to " + std::to_string(Sets.Last) + " were";
  return which + " not read: " + Sets.Why;
}

std::string TitleSetFileName(int32_t Number, const std::string& Ext) {
  return "hv" + core::IntToStrZeroPad(Number, 3) + "i01" + Ext;
}

int32_t TitleSetNumberOfName(const std::string& Path) {
  const std::string name = platform::ToLowerAscii(platform::ExtractFileName(Path));
  return name.size() >= 6 && name[5] == 'i' ? HvNumber(name) : 0;
}

int32_t LoadIFOSet(core::RunContext& Run, DiscModel& Disc, RunRegistries& Reg, const std::string& Path,
                   platform::GridModel& InfoGrid) {
  Disc.HDDisc = 0;
  Disc.LooseEvo = 0;
  FreeAllTitleSets(Disc);
  Disc.TitleSetCount = 0;
  Disc.DecodedThisLoad = 0;
  // What belonged to the previous disc goes with it.
  Reg.SubPicInfoForm.Reset();
  FreeVobScouts(Reg);

  std::string first = platform::ResolveInputPath(Path);
  std::error_code ec;
  if (std::filesystem::is_directory(first, ec))
    first = platform::ResolveInputPath(platform::IncludeTrailingSlash(first) + TitleSetFileName(0, ".IFO"));

  int32_t loaded = 0;
  TIFOFile& head = Disc.IFOFiles[0];
  head.FileName = first;
  head.Ordinal = 1;
  int headErr = 0;
  head.Kind = DetectIFOKind(Disc, first, &headErr);
  if (head.Kind == ifoUnknown && headErr != 0)
    Run.Log(core::kLogWarning, std::string(core::msg::ErrorInFile) + first + platform::ErrorReason(headErr),
            platform::kColourRed);
  if (head.Kind == ifoVMG) {
    ReadVMGI(Run, Disc, head, first);
    // Only an HD DVD's title sets are looked for under these names.
    if (Disc.HDDisc) HoldTitleSetTable(Run, Disc, platform::ExtractFilePath(first));
  } else if (head.Kind == ifoVTS) {
    ReadVTSI(Run, Disc, head, first, InfoGrid);
    // A title set loaded on its own keeps the number its file name gives: its
    // outputs, marks and names are that title set's.
    head.TitleSetNumber = std::max(TitleSetNumberOfName(first), 1);
    ++loaded;
  }
  Disc.TitleSetCount = 1;

  if (head.Kind == ifoVMG) {
    const std::string folder = platform::ExtractFilePath(first);
    // The attribute table's count is already bounded by the records there are.
    const int32_t sets = std::min<int32_t>(head.VTS_ATRT.TitleSetCount, kMaxIFOFiles - 1);
    for (int32_t n = 1; n <= sets; ++n) {
      TIFOFile& rec = Disc.IFOFiles[static_cast<size_t>(Disc.TitleSetCount)];
      const std::string ifoName = TitleSetFileName(n, ".IFO");
      const std::string bupName = TitleSetFileName(n, ".BUP");
      std::string name = platform::ResolveInputPath(folder + ifoName);
      // A file that cannot be read whole is as damaged as one of a bad identifier.
      TIFOImage image;
      bool good = LoadWholeInformationFile(Run, name, image);
      if (!good) {
        Run.Log(core::kLogWarning, std::string(core::msg::File) + ifoName + std::string(core::msg::IsNotCorrectLoading) + bupName,
                 platform::kColourRed);
        name = platform::ResolveInputPath(folder + bupName);
        good = LoadWholeInformationFile(Run, name, image);
        if (!good)
          Run.Log(core::kLogWarning, std::string(core::msg::File) + bupName + std::string(core::msg::IsNotCorrectTooInformationCorrupted),
                   platform::kColourRed);
      }
      rec.FileName = name;
      rec.Ordinal = Disc.TitleSetCount + 1;
      rec.TitleSetNumber = n;
      rec.Kind = ifoVTS;
      if (good) {
        ReadVTSI(Run, Disc, rec, image, InfoGrid);
        ++loaded;
      } else {
        // A title set with no good copy is still title set n: with its
        // management table zeroed no table of it is read, and its EVO files,
        // named by its number, are demultiplexed all the same.
        rec.VTSI_MAT.fill(0);
        rec.InformationCorrupted = true;
      }
      ++Disc.TitleSetCount;
    }
  }
  ConvertPalettes(Disc, Reg.Palettes);
  SetDiscFrameRate(Disc);
  return loaded;
}

}  // namespace tess::disc
