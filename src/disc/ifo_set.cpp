#include "disc/ifo_set.h"

#include <algorithm>
#include <filesystem>
#include <optional>

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

}  // namespace

std::string TitleSetFileName(int32_t Number, const std::string& Ext) {
  return "hv" + core::IntToStrZeroPad(Number, 3) + "i01" + Ext;
}

int32_t TitleSetNumberOfName(const std::string& Path) {
  const std::string name = platform::ToLowerAscii(platform::ExtractFileName(Path));
  if (name.size() < 6 || name.compare(0, 2, "hv") != 0 || name[5] != 'i') return 0;
  int32_t n = 0;
  for (size_t i = 2; i < 5; ++i) {
    if (!platform::IsAsciiDigit(name[i])) return 0;
    n = n * 10 + (name[i] - '0');
  }
  return n;
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
