#include "app/run.h"

#include <filesystem>

#include "disc/ifo_set.h"
#include "state/project_state.h"
#include "core/log.h"
#include "core/files.h"
#include "core/messages.h"
#include "core/number_text.h"
#include "disc/vob_scout.h"
#include "platform/paths.h"

namespace tess::app {

namespace fs = std::filesystem;
using platform::EqualsIgnoreCase;
using platform::ExtractFileExt;

namespace {

bool IsFile(const std::string& p) {
  std::error_code ec;
  return fs::is_regular_file(p, ec);
}

// Why a source path that is not a regular file cannot be read: it is missing,
// or it is a FIFO, a device or the like, which is never opened.
std::string NotAFileReason(const std::string& p) {
  std::error_code ec;
  if (!fs::exists(p, ec)) return std::string(core::msg::File) + p + std::string(core::msg::DoesNotExist);
  return p + " is not a regular file";
}

bool IsFolder(const std::string& p) {
  std::error_code ec;
  return fs::is_directory(p, ec);
}

// The VMG of a Standard Content folder: the folder itself or its HVDVD_TS folder.
std::string FindVmgIn(const std::string& folder) {
  for (const char* sub : {"", "HVDVD_TS/"}) {
    const std::string candidate = platform::IncludeTrailingSlash(folder) + sub + "hv000i01.IFO";
    if (auto found = platform::FindPathCaseInsensitive(candidate)) return *found;
  }
  return {};
}

void AddChartPoint(TForm1& Form, const std::string& file) {
  if (!Form.MainWindow) return;
  std::error_code ec;
  const auto size = fs::file_size(file, ec);
  Form.MainWindow->Chart.Points.push_back(
      {platform::ToLowerAscii(platform::ExtractFileName(file)), ec ? 0.0 : static_cast<double>(size), 0});
}

// Maps the cells of one domain's chain and keeps the map for the domain.
bool ScanDomain(TForm1& Form, const std::string& FirstFile, int32_t Number, int32_t Kind) {
  auto scout = disc::TVobScaut::Create(FirstFile);
  const disc::TScanEnd end = scout->Scan(Form, Form, Form.StatusProgress);
  disc::RegisterVobScout(Form, Number, scout, Kind);
  return end != disc::TScanEnd::ReadError;
}

// The run's first step: every chosen domain's EVO chain is mapped into its cells.
bool ScanSource(TForm1& Form, const SourceSelection& Source) {
  bool ok = true;
  if (Source.Kind == SourceKind::LooseEvo) {
    for (size_t i = 0; i < Source.EvoFiles.size() && !Form.Abort; ++i)
      if (Form.VTSListForm.DemuxMarked(i + 1)) ok &= ScanDomain(Form, Source.EvoFiles[i], 0, disc::kDomainTitles);
    return ok;
  }
  for (int32_t i = 0; i < Form.TitleSetCount && !Form.Abort; ++i) {
    const disc::TIFOFile& rec = Form.IFOFiles[static_cast<size_t>(i)];
    if (rec.Kind == disc::ifoUnknown || !Form.VTSListForm.DemuxMarked(static_cast<size_t>(rec.TitleSetNumber) + 1))
      continue;
    for (const std::string& f : TitleSetEvoFiles(Form, i)) {
      if (Form.Abort) break;
      const std::string name = platform::ToLowerAscii(platform::ExtractFileName(f));
      const bool menu = disc::IsMenuEvoFileName(name);
      // A title chain is scanned once, from its first file.
      if (!menu && name.size() >= 8 && name.substr(name.size() - 6) != "01.evo" &&
          disc::HasVobScout(Form, rec.TitleSetNumber, disc::kDomainTitles))
        continue;
      ok &= ScanDomain(Form, f, rec.TitleSetNumber, menu ? disc::kDomainMenus : disc::kDomainTitles);
    }
  }
  return ok;
}

}  // namespace

bool ChooseSource(const std::vector<std::string>& Paths, SourceSelection& Out, std::string& Error) {
  Out = {};
  if (Paths.empty()) {
    Error = std::string(core::msg::SpecifySourcePath);
    return false;
  }
  if (Paths.size() == 1) {
    const std::string path = platform::ResolveInputPath(Paths[0]);
    if (IsFolder(path)) {
      Out.IFOFile = FindVmgIn(path);
      if (Out.IFOFile.empty()) {
        Error = "no hv000i01.IFO in " + path;
        return false;
      }
      if (!IsFile(Out.IFOFile)) {
        Error = NotAFileReason(Out.IFOFile);
        return false;
      }
      Out.Kind = SourceKind::StandardContent;
      return true;
    }
    if (!IsFile(path)) {
      Error = NotAFileReason(path);
      return false;
    }
    const std::string ext = ExtractFileExt(path);
    if (EqualsIgnoreCase(ext, ".IFO") || EqualsIgnoreCase(ext, ".BUP")) {
      Out.Kind = SourceKind::StandardContent;
      Out.IFOFile = path;
      return true;
    }
    if (EqualsIgnoreCase(ext, ".VTI")) {
      Out.Kind = SourceKind::AdvancedContent;
      Out.VTIFile = path;
      return true;
    }
  }
  for (const std::string& p : Paths) {
    const std::string path = platform::ResolveInputPath(p);
    if (!EqualsIgnoreCase(ExtractFileExt(path), ".EVO")) {
      Error = "not an information file, a .VTI file or an .evo file: " + p;
      return false;
    }
    if (!IsFile(path)) {
      Error = NotAFileReason(path);
      return false;
    }
    Out.EvoFiles.push_back(path);
  }
  Out.Kind = SourceKind::LooseEvo;
  return true;
}

std::vector<std::string> TitleSetEvoFiles(const TForm1& Form, int IFOIndex) {
  std::vector<std::string> files;
  if (IFOIndex < 0 || IFOIndex >= Form.TitleSetCount) return files;
  const disc::TIFOFile& rec = Form.IFOFiles[IFOIndex];
  if (rec.FileName.size() < 7) return files;
  // "hvNNNi01.IFO" less "i01.IFO" is the stem of every EVO file of the set.
  const std::string stem = rec.FileName.substr(0, rec.FileName.size() - 7);
  auto add = [&](const std::string& name) {
    if (auto found = platform::FindPathCaseInsensitive(name)) files.push_back(*found);
  };
  if (rec.Kind == disc::ifoVMG) {
    add(stem + "m01.evo");
    add(stem + "m02.evo");
    return files;
  }
  add(stem + "m01.evo");
  for (int n = 1; n <= 99; ++n) {
    const size_t before = files.size();
    add(stem + "t" + core::IntToStrZeroPad(n, 2) + ".evo");
    if (files.size() == before && n > 1) break;
  }
  return files;
}

bool OpenSource(TForm1& Form, SourceSelection& Source) {
  if (Form.MainWindow) Form.MainWindow->Chart.Points.clear();
  switch (Source.Kind) {
    case SourceKind::StandardContent: {
      Form.Log(core::kLogNormal, std::string(core::msg::LoadIFOFile) + Source.IFOFile);
      const int32_t loaded = LoadIFOSet(Form, Form, Source.IFOFile);
      if (Form.TitleSetCount < 1 || Form.IFOFiles[0].Kind == disc::ifoUnknown) {
        Form.Log(core::kLogWarning, core::msg::FileIsNotInIFOFormatOr, platform::kColourRed);
        return false;
      }
      Source.EvoFiles.clear();
      for (int32_t i = 0; i < Form.TitleSetCount; ++i) {
        const disc::TIFOFile& rec = Form.IFOFiles[static_cast<size_t>(i)];
        if (rec.Kind == disc::ifoUnknown) continue;
        const std::string name = rec.Kind == disc::ifoVMG ? "VMG" : "VTS_" + core::IntToStrZeroPad(rec.TitleSetNumber, 3);
        std::string line = name + ":";
        for (const std::string& f : TitleSetEvoFiles(Form, i)) {
          std::string size;
          core::FormatFileSize(f, size);
          line += "  " + platform::ExtractFileName(f) + " (" + size.substr(size.find(':') + 2) + ")";
          Source.EvoFiles.push_back(f);
          AddChartPoint(Form, f);
        }
        Form.Log(core::kLogInfo, line);
      }
      Form.Log(core::kLogNormal, std::string(core::msg::HDDVDOpenedOk) + " " + std::to_string(loaded) + std::string(core::msg::VTSLoaded),
               platform::kColourGreen);
      return true;
    }
    case SourceKind::AdvancedContent:
      Form.Log(core::kLogWarning, "Advanced Content sources are not read yet: " + Source.VTIFile, platform::kColourRed);
      return false;
    case SourceKind::LooseEvo:
      Form.LooseEvo = 1;
      Form.FrameRate = 30;
      for (const auto& f : Source.EvoFiles) {
        Form.Log(core::kLogNormal, std::string(core::msg::OpenEVOFile) + platform::ToUpperAscii(platform::ExtractFileName(f)));
        AddChartPoint(Form, f);
      }
      return true;
    case SourceKind::None:
      break;
  }
  return false;
}

RunResult StartRun(TForm1& Form, const SourceSelection& Source) {
  std::string folder;
  core::GetOutputFolder(Form.Options, folder);
  if (folder.empty()) {
    Form.Log(core::kLogWarning, core::msg::SpecifyDestinationPath, platform::kColourRed);
    return RunResult::Failed;
  }
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (!IsFolder(folder)) {
    Form.Log(core::kLogWarning, "Can not create folder " + folder, platform::kColourRed);
    return RunResult::Failed;
  }
  Form.Abort = 0;
  Form.Log(core::kLogNormal, std::string(core::msg::DestinationFolder) + folder);
  const bool ok = ScanSource(Form, Source);
  RunResult result = ok ? RunResult::Done : RunResult::Failed;
  if (Form.Abort) {
    Form.Log(core::kLogWarning, core::msg::CurrentOperationWasAbortedByTheUser, platform::kColourRed);
    result = RunResult::Stopped;
  }
  return result;
}

}  // namespace tess::app
