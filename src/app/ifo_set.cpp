#include "app/ifo_set.h"

#include <algorithm>
#include <filesystem>

#include "app/project_state.h"
#include "core/files.h"
#include "core/messages.h"
#include "core/number_text.h"
#include "disc/ifo_readers.h"
#include "platform/paths.h"

namespace tess::app {

namespace {

// The information-file browser's name trees of the record at Index are built here.
void BuildTrees(TForm1& /*Form*/, int32_t /*Index*/) {}

// The palettes of every program chain of the set are converted here, once all are read.
void ConvertPalettes(TForm1& /*Form*/) {}

}  // namespace

std::string TitleSetFileName(int32_t Number, const std::string& Ext) {
  return "hv" + core::IntToStrZeroPad(Number, 3) + "i01" + Ext;
}

int32_t LoadIFOSet(TForm1& Form, const std::string& Path) {
  Form.HDDisc = 0;
  Form.LooseEvo = 0;
  disc::FreeAllTitleSets(Form);
  Form.TitleSetCount = 0;

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
  return loaded;
}

}  // namespace tess::app
