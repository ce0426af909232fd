#include "app/ifo_set.h"

#include <algorithm>
#include <filesystem>
#include <optional>

#include "app/project_state.h"
#include "core/files.h"
#include "core/messages.h"
#include "core/number_text.h"
#include "disc/attribute_texts.h"
#include "disc/highlights.h"
#include "disc/ifo_readers.h"
#include "disc/palette.h"
#include "disc/vob_scout.h"
#include "platform/paths.h"

namespace tess::app {

namespace {

// The information-file browser's name trees of the record at Index are built here.
void BuildTrees(TForm1& /*Form*/, int32_t /*Index*/) {}

// Every chain's palette converted once to RGB; the list keeps each distinct
// palette with the number of chains that use it.
void AddChainPalette(TForm1& Form, const disc::TPGC* Pgc) {
  if (!Pgc) return;
  disc::TPaletteColours rgb{};
  disc::PaletteYCrCbToRGB(Form, Pgc, rgb);
  const int32_t found = disc::FindPalette(Form.Palettes, rgb);
  if (found >= 0)
    ++Form.Palettes.Items[static_cast<size_t>(found)].UseCount;
  else
    disc::AddPalette(Form.Palettes, rgb);
}

void ConvertPalettes(TForm1& Form) {
  Form.Palettes.Items.clear();
  for (int32_t i = 0; i < Form.TitleSetCount; ++i) {
    const disc::TIFOFile& rec = Form.IFOFiles[static_cast<size_t>(i)];
    if (rec.Kind != disc::ifoVMG && rec.Kind != disc::ifoVTS) continue;
    AddChainPalette(Form, rec.FirstPlayPGC.get());
    for (const auto& unit : rec.MenuPGCI_UT.Units)
      for (const auto& entry : unit.PGCs) AddChainPalette(Form, entry.PGC.get());
    for (const auto& entry : rec.VTS_PGCIT.PGCs) AddChainPalette(Form, entry.PGC.get());
  }
}

// The disc's frame rate follows the TV system of its video: the first title
// set's title video, else the video manager's menus. PAL discs play at 25,
// NTSC ones at 29.97.
void SetDiscFrameRate(TForm1& Form) {
  std::optional<uint16_t> attr;
  for (int32_t i = 0; i < Form.TitleSetCount && !attr; ++i) {
    const disc::TIFOFile& rec = Form.IFOFiles[static_cast<size_t>(i)];
    if (rec.Kind == disc::ifoVTS)
      attr = disc::VideoAttrWordAt(rec.VTSI_MAT.data(), disc::vtsi::TitleVideoAttr);
  }
  if (!attr && Form.TitleSetCount > 0 && Form.IFOFiles[0].Kind == disc::ifoVMG)
    attr = disc::VideoAttrWordAt(Form.IFOFiles[0].VMGI_MAT.data(), disc::vmgi::MenuVideoAttr);
  if (!attr) return;
  std::array<uint8_t, 12> decoded{};
  DecodeVideoAttr(*attr, decoded);
  Form.FrameRate = decoded[1] != 0 ? 25.0 : 29.97;
}

}  // namespace

std::string TitleSetFileName(int32_t Number, const std::string& Ext) {
  return "hv" + core::IntToStrZeroPad(Number, 3) + "i01" + Ext;
}

int32_t LoadIFOSet(TForm1& Form, const std::string& Path) {
  Form.HDDisc = 0;
  Form.LooseEvo = 0;
  disc::FreeAllTitleSets(Form);
  Form.TitleSetCount = 0;
  // What belonged to the previous disc goes with it.
  Form.SubPicInfoForm.Reset();
  disc::FreeVobScouts(Form);

  std::string first = platform::ResolveInputPath(Path);
  std::error_code ec;
  if (std::filesystem::is_directory(first, ec))
    first = platform::ResolveInputPath(platform::IncludeTrailingSlash(first) + TitleSetFileName(0, ".IFO"));

  int32_t loaded = 0;
  disc::TIFOFile& head = Form.IFOFiles[0];
  head.FileName = first;
  head.Ordinal = 1;
  head.Kind = disc::DetectIFOKind(Form, first);
  if (head.Kind == disc::ifoVMG) {
    disc::ReadVMGI(Form, head, first);
    BuildTrees(Form, 0);
  } else if (head.Kind == disc::ifoVTS) {
    disc::ReadVTSI(Form, head, first);
    BuildTrees(Form, 0);
    ++loaded;
  }
  Form.TitleSetCount = 1;

  if (head.Kind == disc::ifoVMG) {
    const std::string folder = platform::ExtractFilePath(first);
    // The attribute table's count is already bounded by the records there are.
    const int32_t sets = std::min<int32_t>(head.VTS_ATRT.TitleSetCount, disc::kMaxIFOFiles - 1);
    for (int32_t n = 1; n <= sets; ++n) {
      disc::TIFOFile& rec = Form.IFOFiles[static_cast<size_t>(Form.TitleSetCount)];
      const std::string ifoName = TitleSetFileName(n, ".IFO");
      const std::string bupName = TitleSetFileName(n, ".BUP");
      std::string name = platform::ResolveInputPath(folder + ifoName);
      bool good = core::IsIfoFile(name);
      if (!good) {
        Form.Log(2, std::string(core::msg::File) + ifoName + std::string(core::msg::IsNotCorrectLoading) + bupName,
                 platform::kColourRed);
        name = platform::ResolveInputPath(folder + bupName);
        good = core::IsIfoFile(name);
        if (!good)
          Form.Log(2, std::string(core::msg::File) + bupName + std::string(core::msg::IsNotCorrectTooInformationCorrupted),
                   platform::kColourRed);
      }
      rec.FileName = name;
      rec.Ordinal = Form.TitleSetCount + 1;
      rec.TitleSetNumber = n;
      // A title set with no good copy keeps its place (record n is title set n)
      // but no kind, so nothing reads or demultiplexes it.
      rec.Kind = good ? disc::ifoVTS : disc::ifoUnknown;
      if (good) {
        disc::ReadVTSI(Form, rec, name);
        BuildTrees(Form, Form.TitleSetCount);
        ++loaded;
      }
      ++Form.TitleSetCount;
    }
  }
  ConvertPalettes(Form);
  SetDiscFrameRate(Form);
  return loaded;
}

}  // namespace tess::app
