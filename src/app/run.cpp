#include "app/run.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <functional>
#include <utility>

#include "app/options.h"
#include "disc/ifo_set.h"
#include "app/project_state.h"
#include "core/log.h"
#include "core/files.h"
#include "core/folder_lock.h"
#include "core/messages.h"
#include "core/number_text.h"
#include "demux/chain_driver.h"
#include "demux/audio_export.h"
#include "demux/demux_context.h"
#include "demux/reauthoring.h"
#include "demux/slideshow.h"
#include "demux/subpic_results.h"
#include "disc/vob_scout.h"
#include "platform/file_io.h"
#include "platform/paths.h"
#include "streams/display_ratio.h"
#include "streams/captions.h"
#include "streams/m2v_cache.h"
#include "streams/media_info.h"

namespace tess::app {

namespace fs = std::filesystem;
using core::IsFile;
using core::IsFolder;
using platform::EqualsIgnoreCase;
using platform::ExtractFileExt;

namespace {

// Why a source path that is not a regular file cannot be read: it is missing,
// it cannot be looked at (a link loop, a folder the user may not enter), or it
// is a FIFO, a device or the like, which is never opened.
std::string NotAFileReason(const std::string& p) {
  std::error_code ec;
  if (fs::exists(p, ec)) return p + " is not a regular file";
  if (ec) return std::string(core::msg::CanNotOpenFile) + p + ": " + ec.message();
  return std::string(core::msg::File) + p + std::string(core::msg::DoesNotExist);
}

// The file named Name in a disc folder: the folder itself or its Sub folder.
// When there is none, *Err is the first reason other than its absence that a
// place could not be looked into (a folder the user may not enter), else 0,
// and *Where (when given) that place.
std::string FindDiscFileIn(const std::string& Folder, const char* Sub, const char* Name, int* Err,
                           std::string* Where = nullptr) {
  *Err = 0;
  for (const std::string& in : {std::string(), std::string(Sub) + "/"}) {
    int err = 0;
    std::string unlisted;
    const std::string path = platform::IncludeTrailingSlash(Folder) + in;
    if (auto found = platform::FindPathCaseInsensitive(path + Name, &err, &unlisted)) return *found;
    if (*Err != 0 || err == 0) continue;
    *Err = err;
    if (Where) *Where = unlisted.empty() ? platform::ExcludeTrailingSlash(path) : unlisted;
  }
  return {};
}

// The VMG of a Standard Content folder: the folder itself or its HVDVD_TS folder.
std::string FindVmgIn(const std::string& Folder, int* Err, std::string* Where = nullptr) {
  return FindDiscFileIn(Folder, "HVDVD_TS", "hv000i01.IFO", Err, Where);
}

// A line that says the video manager's information file is missing or damaged
// goes on to name its backup when that is a video manager: given as the
// source, it is read in its place.
std::string WithVmgBackup(const std::string& Line, const std::string& Backup) {
  if (Backup.empty() || !disc::IsVideoManagerFile(Backup)) return Line;
  return Line + (Line.ends_with('!') || Line.ends_with('.') ? " " : ". ") + "Its backup copy " + Backup +
         " is there: give it as the SOURCE to read the disc from it.";
}

// The backup beside Path when Path is the video manager's "hv000i01.IFO".
std::string VmgBackupOf(const std::string& Path) {
  return EqualsIgnoreCase(platform::ExtractFileName(Path), "hv000i01.IFO") ? disc::OtherInformationCopy(Path)
                                                                            : std::string();
}

// A DVD-Video information file by its name: VIDEO_TS.IFO or VTS_nn_0.IFO (or
// their .BUP copies). HD names are read as HD whatever the file holds.
bool IsDvdVideoFileName(const std::string& Path) {
  const std::string name = platform::ToUpperAscii(platform::ExtractFileName(Path));
  const std::string stem = name.size() > 4 ? name.substr(0, name.size() - 4) : std::string();
  const std::string ext = name.size() > 4 ? name.substr(name.size() - 4) : std::string();
  if (ext != ".IFO" && ext != ".BUP") return false;
  const auto digit = [&](size_t At) { return std::isdigit(static_cast<unsigned char>(stem[At])) != 0; };
  return stem == "VIDEO_TS" ||
         (stem.size() == 8 && stem.starts_with("VTS_") && digit(4) && digit(5) && stem.ends_with("_0"));
}

void AddChartPoint(TForm1& Form, const std::string& file) {
  if (!Form.MainWindow) return;
  std::error_code ec;
  const auto size = fs::file_size(file, ec);
  Form.MainWindow->Chart.Points.push_back(
      {platform::ToLowerAscii(platform::ExtractFileName(file)), ec ? 0.0 : static_cast<double>(size), 0});
}

// A demux context for one domain of the loaded disc, set up as the run wants it.
std::unique_ptr<demux::TIFOData> MakeContext(TForm1& Form, int32_t Index, int32_t Kind, const std::string& Folder) {
  auto ctx = std::make_unique<demux::TIFOData>(Form.DemuxEnv(), Form.Settings.Demux, Index, Kind);
  ctx->Outputs.OutputBase = platform::IncludeTrailingSlash(Folder);
  ctx->SetProgressBar(Form.MainWindow ? &Form.MainWindow->CurrentProgress : &Form.StatusProgress);
  // Menu subpictures become one picture per unit; title subpictures are kept
  // one file per stream with an index of their units, unless the settings ask
  // for pictures there too.
  ctx->Outputs.SupToImages = (Kind == disc::kDomainTitles && Form.Options.TitleMakeSup) ? 0 : 1;
  ctx->Outputs.PcmToWav = 1;
  return ctx;
}

// Runs one domain's chain; a failure of any kind ends it with an error line.
template <class Step>
bool RunDomain(TForm1& Form, demux::TIFOData& Ctx, Step&& DoStep) {
  bool ok = false;
  try {
    ok = DoStep();
  } catch (const std::exception& e) {
    Form.LogError(std::string(core::msg::ErrorInFile) + Ctx.EvoFileName + ": " + e.what());
  }
  return ok;
}

void LogStartingDomain(TForm1& Form, bool Titles, int32_t Number, size_t Mark) {
  const bool audio = Mark < Form.VTSListForm.AudioCorrectionMark.size() && Form.VTSListForm.AudioCorrectionMark[Mark];
  const bool main = Mark < Form.VTSListForm.MainModeMark.size() && Form.VTSListForm.MainModeMark[Mark];
  for (const std::string& line : Form.InfoForm.LogStartingVts(Titles, Number, audio, main))
    Form.Log(core::kLogInfo, line);
}

// A title set the video manager lists but whose information file and backup
// both failed (its EVO files are read without them when it has any), or an
// information file whose damaged tables were skipped: what they describe is
// not demultiplexed, and the run says so at its end.
void NoteDamagedInformation(TForm1& Form, const disc::TIFOFile& Record, bool HasEvoFiles) {
  if (Record.InformationCorrupted) {
    const int32_t n = Record.TitleSetNumber;
    Form.NoteSkipped(disc::TitleSetFileName(n, ".IFO") + " and " + disc::TitleSetFileName(n, ".BUP") +
                     ": neither is a readable information file; title set " + std::to_string(n) +
                     (HasEvoFiles ? "'s EVO files were read without them" : " was skipped"));
  } else if (Record.DamagedTables > 0) {
    Form.NoteSkipped(WithVmgBackup(platform::ExtractFileName(Record.FileName) + ": " +
                                       std::to_string(Record.DamagedTables) +
                                       " damaged tables or records were skipped; what they describe was not read",
                                   VmgBackupOf(Record.FileName)));
  }
}

// Standard Content: every title set marked in the list, the video manager
// first; its menus, then its titles.
bool DemuxDisc(TForm1& Form, const std::string& Folder) {
  bool ok = true;
  // Title sets that the video manager's title-set table left out, where chosen.
  for (const auto& sets : Form.UncountedTitleSets) {
    bool chosen = false;
    for (int32_t n = sets.First; n <= sets.Last && !chosen; ++n)
      chosen = Form.VTSListForm.DemuxMarked(static_cast<size_t>(n) + 1);
    if (chosen) Form.NoteSkipped(disc::UncountedTitleSetsText(sets));
  }
  for (int32_t i = 0; i < Form.TitleSetCount && !Form.Aborted(); ++i) {
    const disc::TIFOFile& rec = Form.IFOFiles[static_cast<size_t>(i)];
    const size_t mark = static_cast<size_t>(rec.TitleSetNumber) + 1;
    if (!Form.VTSListForm.DemuxMarked(mark)) continue;
    // A title set without information and without EVO files has nothing to give.
    const bool files = !rec.InformationCorrupted || !TitleSetEvoFiles(Form, i).empty();
    NoteDamagedInformation(Form, rec, files);
    if (rec.Kind == disc::ifoUnknown || !files) continue;
    if (rec.Kind == disc::ifoVMG) {
      for (const bool firstPlay : {true, false}) {
        if (Form.Aborted()) break;
        auto ctx = MakeContext(Form, i, disc::kDomainMenus, Folder);
        ok &= RunDomain(Form, *ctx, [&] { return ctx->DemuxMenus(firstPlay); });
      }
      continue;
    }
    LogStartingDomain(Form, false, rec.TitleSetNumber, mark);
    auto menus = MakeContext(Form, i, disc::kDomainMenus, Folder);
    ok &= RunDomain(Form, *menus, [&] { return menus->DemuxMenus(false); });
    menus.reset();
    if (Form.Aborted()) break;
    LogStartingDomain(Form, true, rec.TitleSetNumber, mark);
    auto titles = MakeContext(Form, i, disc::kDomainTitles, Folder);
    titles->Plan.ByCell = mark < Form.VTSListForm.MainModeMark.size() ? Form.VTSListForm.MainModeMark[mark] : 0;
    ok &= RunDomain(Form, *titles, [&] { return titles->DemuxTitles(); });
  }
  return ok;
}

// Every file the run may read: the settings file, the information files and
// their backups (either copy may be the one read), the list, the EVO files and
// the files their chains go on in.
core::FileSet SourceFilesOf(const TForm1& Form, const SourceSelection& Source) {
  core::FileSet files;
  auto addBothCopies = [&files](const std::string& Name) {
    files.Add(Name);
    const std::string ext = ExtractFileExt(Name);
    if (EqualsIgnoreCase(ext, ".IFO") || EqualsIgnoreCase(ext, ".BUP"))
      for (const char* copy : {".IFO", ".BUP"}) files.Add(core::DropTail(Name, ext.size()) + copy);
  };
  // The settings file is no part of the source: outputs may go beside it.
  if (!Form.SettingsFile.empty()) files.Add(Form.SettingsFile, true);
  for (const std::string& f : {Source.IFOFile, Source.VTIFile})
    if (!f.empty()) addBothCopies(f);
  for (size_t i = 0; i < Form.IFOFiles.size() && i < static_cast<size_t>(std::max(Form.TitleSetCount, 0)); ++i)
    if (!Form.IFOFiles[i].FileName.empty()) addBothCopies(Form.IFOFiles[i].FileName);
  for (const std::string& f : Source.EvoFiles) {
    files.Add(f);
    std::string next = platform::ResolveInputPath(f);
    for (int n = 0; n < 99 && !(next = core::NextEvoFileName(next)).empty(); ++n) files.Add(next);
  }
  return files;
}

// Why the run may not write into Folder, the run's folder below DEST (Root),
// or empty: outputs go into no folder that holds the source. A disc's run
// writes into the VMG and VTS_nnn folders too; one of those that is a link
// holds nothing the run keeps, as the clean-up removes it.
std::string SourceFolderRefusal(const std::string& Root, const std::string& Folder, bool DiscFolders,
                                const core::FileSet& Sources) {
  std::string held = core::FolderHoldingSource(Root, Folder, Sources);
  for (int32_t n = 0; n <= 99 && held.empty() && DiscFolders; ++n) {
    const std::string sub =
        platform::IncludeTrailingSlash(Folder) + (n ? "VTS_" + core::IntToStrZeroPad(n, 3) : "VMG");
    struct stat st {};
    if (::lstat(sub.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && Sources.HoldsSource(sub)) held = sub;
  }
  return held.empty() ? std::string() : core::SourceFolderRefusalLine(held);
}

// The output folder: a non-empty one is emptied only when the answer is yes;
// otherwise the run goes on in it and only the files of an earlier run are
// cleaned away. Nothing that holds or is a source goes, and the run's lock
// stays. False when the run cannot go on.
bool PrepareOutputFolder(TForm1& Form, const std::string& Folder, bool DiscFolders, const core::FileSet& Sources) {
  // Refused before anything is deleted.
  if (std::string why = SourceFolderRefusal(Form.Options.DestinationPath, Folder, DiscFolders, Sources);
      !why.empty()) {
    Form.LogError(why);
    return false;
  }
  // Looked at before any deleting: an earlier run's folders go either way.
  const bool earlier = core::HoldsEarlierRun(Folder);
  if (IsFolder(Folder) && !core::IsFolderEmpty(Folder, core::kLockFileName)) {
    const std::string question = std::string(core::msg::Folder) + Folder + std::string(core::msg::IsNotEmpty) + " " +
                                 std::string(core::msg::DoYouWantToDeleteThisFolder);
    // A blanket --yes empties only a folder of what runs of the program write.
    const std::string foreign = core::EntryNoRunWrote(Folder);
    const std::string notBlindly = "--yes does not empty " + Folder + ": it holds " + foreign +
                                   ", which no run of this program wrote. The run goes on in it as after No.";
    constexpr auto kYesNo = platform::PromptButtons::YesNo;
    const platform::PromptAnswer answer =
        !Form.Prompt      ? platform::PromptAnswer::No
        : foreign.empty() ? Form.Prompt->Ask(question, core::msg::Warning, kYesNo)
                          : Form.Prompt->AskNotBlindly(question, core::msg::Warning, kYesNo, notBlindly);
    const bool yes = answer == platform::PromptAnswer::Yes;
    // A folder that holds the source is never deleted, whatever the answer.
    if (yes && Sources.HoldsSource(Folder)) {
      Form.Log(core::kLogWarning, std::string(core::msg::InpossibleToDeleteFolder) + Folder + ": it holds the source",
               platform::kColourRed);
    } else if (std::string why; yes && !core::EmptyFolder(Folder, core::kLockFileName, Sources, &why)) {
      const std::string again = std::string(core::msg::InpossibleToDeleteFolder) + Folder + why + ". " +
                                std::string(core::msg::ContinueProcessingInThisFolder);
      if (!Form.Prompt || Form.Prompt->Ask(again, core::msg::Warning, platform::PromptButtons::YesNo) !=
                              platform::PromptAnswer::Yes)
        return false;
    }
  }
  if (std::string why; !core::MakeFolders(Folder, &why)) {
    Form.Log(core::kLogWarning, "Can not create folder " + Folder + why, platform::kColourRed);
    return false;
  }
  if (earlier) Form.Log(core::kLogNormal, core::msg::DeletePreviousProjectFolder);
  std::vector<std::string> kept, failed, unlinked;
  core::CleanProjectFolder(Folder, Sources, &kept, &failed, &unlinked);
  for (const std::string& f : unlinked)
    Form.Log(core::kLogNormal,
             "Removed the link " + f + "; what it leads to is untouched. The run makes its own folder there.");
  for (const std::string& f : kept)
    Form.Log(core::kLogWarning, "Folder " + f + " holds the source: it stays, with what an earlier run left in it.",
             platform::kColourRed);
  // What an earlier run left there and could not be deleted stays beside this
  // run's outputs, each of which is written afresh.
  for (const std::string& f : failed)
    Form.Log(core::kLogWarning, std::string(core::msg::InpossibleToDeleteFolder) + f, platform::kColourRed);
  return true;
}

// The scan caches of the run's videos go at its end, however it ended: those
// in the run's folders, and those beside each video it wrote (a slide show's
// video among them, whose entry its stills took over) wherever it lies. A
// ".times" beside a video is no cache: it is the user's, for a slide show.
void DeleteScanCaches(TForm1& Form, const std::string& Folder, std::vector<std::string> Videos) {
  core::CleanScanCaches(Folder, Form.Sources);
  for (const disc::TVideoStreamEntry& v : Form.VideoStreams) Videos.push_back(v.Path);
  for (const std::string& v : Videos)
    if (!v.empty())
      for (const char* cache : {".vnf", ".ipos"}) core::DeleteFileUnless(v + cache, Form.Sources);
}

// One line per input the run skipped or could only partly read, and one that
// counts them. False when there is none.
bool LogSkippedInputs(TForm1& Form) {
  if (Form.Skipped.empty()) return false;
  for (const std::string& what : Form.Skipped) Form.LogError("Skipped or only partly read: " + what);
  Form.LogError("The run is not complete: " + std::to_string(Form.Skipped.size()) +
                (Form.Skipped.size() == 1 ? " input was" : " inputs were") + " skipped or only partly read.");
  return true;
}

// One line for the writes that failed and the unfinished outputs removed
// after them, apart from the skipped inputs. False when no write failed.
bool LogFailedWrites(TForm1& Form) {
  if (Form.FailedWrites.empty()) return false;
  std::string files;
  for (const std::string& f : Form.FailedWrites) files += (files.empty() ? "" : ", ") + f;
  const size_t removed = Form.RemovedOutputs.size();
  Form.LogError("The run is not complete: it could not write to " + files +
                (removed == 0   ? std::string(".")
                 : removed == 1 ? std::string("; its unfinished output was removed.")
                                : "; its " + std::to_string(removed) + " unfinished outputs were removed."));
  return true;
}

// A finished run's log is saved with its success line before the line is
// shown: a success is never followed by a log that could not be saved. Such a
// run fails, with that verdict only. So does one whose log lines did not all
// reach the user (stdout failed): its saved log, which holds them all, ends
// with why.
RunResult EndFinishedRun(TForm1& Form, const std::function<bool()>& SaveLog, int LostLines) {
  if (LostLines != 0) {
    Form.LogError("The run wrote every output, but its log could not be written to standard output" +
                  platform::ErrorReason(LostLines) + ".");
    if (SaveLog) SaveLog();
    return RunResult::Failed;
  }
  platform::LogModel& log = Form.LogWindow.Log;
  auto show = std::exchange(log.OnAdd, nullptr);
  const size_t at = log.Lines.size();
  Form.Log(core::kLogNormal, core::runmsg::AllOperationsWereCompletedSuccessfully, platform::kColourGreen);
  log.OnAdd = show;
  const bool added = log.Lines.size() > at;
  if (!SaveLog || SaveLog()) {
    if (added && show) show(log.Lines[at]);
    return RunResult::Done;
  }
  if (added) log.Lines.erase(log.Lines.begin() + static_cast<std::ptrdiff_t>(at));
  Form.LogError("The run is not complete: its log could not be saved.");
  return RunResult::Failed;
}

// What a new run starts without: the registries, the track model, the
// counters and the maps of an earlier run.
void ResetRunState(TForm1& Form) {
  Form.Abort = 0;
  Form.WriteStopped = false;
  Form.AC3PayloadCount = 0;
  Form.SubpicUnitCount = 0;
  Form.SlideShowNumber = 0;
  Form.StartCodeMaps = {};
  Form.VideoStreams.clear();
  Form.AudioStreams.clear();
  Form.SubPictureItems.clear();
  Form.ScriptTracks.clear();
  Form.DatFiles.clear();
  Form.Scouts.Clear();
  Form.SubPicInfoForm.Reset();
  Form.StartedOutputs.clear();
  Form.Skipped.clear();
  Form.FailedWrites.clear();
  Form.RemovedOutputs.clear();
  Form.Sources = {};
  if (Form.MainWindow) {
    Form.MainWindow->FinishedEvoFiles = 0;
    Form.MainWindow->TotalProgress.SetPosition(0);
    for (auto& p : Form.MainWindow->Chart.Points) p.Colour = 0;
  }
}

// ---- the post-processing ----

// A post-processing step that failed over an input it had to leave names it
// among the skipped ones, and the run still ends with its clean-up; one that
// failed for any other reason fails the run.
template <class Step>
bool StepDone(TForm1& Form, Step&& Do) {
  const size_t named = Form.Skipped.size();
  return Do() || Form.Skipped.size() > named;
}

// One line for an output: its name, then its description's fields on one line.
std::string InformationLine(TForm1& Form, const std::string& Path) {
  const std::string text = streams::GetMediaInfoText(Form, Path, false, &Form.ProgressBar1);
  std::string fields;
  size_t at = 0;
  for (bool header = true; at <= text.size(); header = false) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    at = end + 1;
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    if (line.empty() || (header && line != streams::kUnknownFileFormat) || line.starts_with("File name:")) continue;
    fields += (fields.empty() ? "" : "; ") + line;
  }
  return std::string(core::msg::PrepareDataForFile) + platform::ExtractFileName(Path) + " - " + fields;
}

void StepPostProcessing(TForm1& Form) {
  if (!Form.MainWindow) return;
  ++Form.MainWindow->FinishedEvoFiles;
  Form.MainWindow->UpdateProgress(core::kPhasePostProcessing);
}

const char* RatioText(int32_t Class) {
  switch (Class) {
    case streams::kAspect4x3: return "4 : 3";
    case streams::kAspectPanScan: return "4 : 3 (Pan-scan)";
    case streams::kAspect16x9: return "16 : 9";
    default: return "";
  }
}

int32_t RatioClass(const std::string& Text) {
  for (int32_t c : {streams::kAspect4x3, streams::kAspectPanScan, streams::kAspect16x9})
    if (Text == RatioText(c)) return c;
  return -1;
}

bool IsMpegVideoFile(const std::string& Path) {
  const std::string ext = platform::ToLowerAscii(ExtractFileExt(Path));
  return ext == ".m2v" || ext == ".m1v";
}

bool AskYes(TForm1& Form, const std::string& Question) {
  return Form.Prompt &&
         Form.Prompt->Ask(Question, core::msg::Warning, platform::PromptButtons::YesNo) == platform::PromptAnswer::Yes;
}

// Display-ratio corrections: where most of a title set's motion video in a
// domain has the display ratio its attributes give, a video of that domain with
// another ratio is brought in line, when the question is answered yes. Where
// most of it disagrees with the attributes, the attributes are in doubt and
// nothing changes.
void CorrectDisplayRatios(TForm1& Form) {
  const bool limit = Form.Options.CorrectVideoBitrate != 0;
  for (int32_t ts = disc::FirstTitleSetIndex(Form); ts < Form.TitleSetCount && !Form.Aborted(); ++ts) {
    for (const bool titles : {false, true}) {
      auto inDomain = [&](const disc::TVideoStreamEntry& E) {
        return E.DomainIndex == ts && (titles ? E.DomainNumber >= 1 : E.DomainNumber == 0);
      };
      const bool any = std::any_of(Form.VideoStreams.begin(), Form.VideoStreams.end(),
                                   [&](const disc::TVideoStreamEntry& E) { return inDomain(E) && !E.StillMark; });
      const int32_t wanted = streams::VideoAspectMode(Form, titles, ts);
      if (!any || streams::CountMotionVideoAspects(Form, titles, ts) != wanted) continue;
      for (auto& e : Form.VideoStreams) {
        const int32_t now = RatioClass(e.AspectText);
        if (!inDomain(e) || now < 0 || now == wanted || !IsMpegVideoFile(e.Path)) continue;
        const std::string change = std::string(core::msg::ChangingAspectRatioInFile) + e.Path +
                                   std::string(core::msg::From) + e.AspectText + std::string(core::msg::To) +
                                   RatioText(wanted) + "\"";
        if (!AskYes(Form, std::string(core::msg::NeededCorrectionForFile) + e.Path + ". " + change + " ?")) continue;
        const auto progress = [&Form] { Form.ProcessMessages(); };
        bool done = false;
        if (wanted == streams::kAspect4x3)
          done = streams::ScanM2VFile(Form, e.Path, nullptr, progress, limit);
        else if (wanted == streams::kAspect16x9)
          done = streams::ScanM2VFileMode2(Form, e.Path, nullptr, progress, limit);
        else
          done = streams::ScanM2VFileTo540(Form, e.Path, nullptr, progress, limit);
        if (done) {
          Form.Log(core::kLogInfo, change);
          e.AspectText = RatioText(wanted);
        } else {
          Form.LogError("The aspect ratio of " + e.Path + " was not changed.");
        }
      }
    }
  }
}

// Caption corrections: a video that carries line-21 captions in its user data
// while its domain's attributes say it has none loses them, when the question
// is answered yes.
void CorrectCaptions(TForm1& Form) {
  for (auto& e : Form.VideoStreams) {
    if (Form.Aborted()) return;
    if (e.Line21Field1 || e.Line21Field2 || !IsMpegVideoFile(e.Path)) continue;
    streams::TM2VInfoRecord info{};
    if (!streams::GetM2VInfoRecord(Form, e.Path, nullptr, &Form.Abort, info, nullptr)) continue;
    if (!info[streams::m2v_info::kLine21Switch1] && !info[streams::m2v_info::kLine21Switch2]) continue;
    const std::string what = std::string(core::msg::DeleteClosedCaptionFromFile) + e.Path;
    if (!AskYes(Form, what + " ?")) continue;
    if (streams::RemoveM2VUserData(Form, e.Path))
      Form.Log(core::kLogInfo, what);
    else
      Form.LogError("The closed captions of " + e.Path + " were not removed.");
  }
}

// The data-format extraction: an information line per video and audio output
// (a video that is a still sequence becomes a slide show), the video
// corrections and the per-title-set audio export.
bool ExtractDataFormats(TForm1& Form) {
  Form.Log(core::kLogNormal, core::msg::StartingDataFormatExtraction);
  if (Form.MainWindow) Form.MainWindow->FinishedEvoFiles = 0;
  Form.Log(core::kLogNormal, core::msg::PrepareVideoDataForScript);
  // The slide shows add still entries behind the ones met here.
  const size_t videos = Form.VideoStreams.size();
  for (size_t i = 0; i < videos && !Form.Aborted(); ++i) {
    Form.Log(core::kLogInfo, InformationLine(Form, Form.VideoStreams[i].Path));
    demux::BuildSlideShowTrack(Form.DemuxEnv(), Form.Settings.Tracks, i);
    StepPostProcessing(Form);
  }
  Form.Log(core::kLogNormal, core::msg::PrepareAudioDataForScript);
  for (size_t i = 0; i < Form.AudioStreams.size() && !Form.Aborted(); ++i) {
    Form.Log(core::kLogInfo, InformationLine(Form, Form.AudioStreams[i].Path));
    StepPostProcessing(Form);
  }
  if (Form.Aborted()) return false;
  CorrectDisplayRatios(Form);
  CorrectCaptions(Form);
  bool ok = true;
  if (!Form.LooseEvo) {
    ok = StepDone(Form, [&] { return demux::ExportTitleSetAudio(Form.DemuxEnv(), Form.Settings.Tracks); });
    for (int32_t i = disc::FirstTitleSetIndex(Form); i < Form.TitleSetCount; ++i)
      demux::ProcessTitleSetAudioStreams(Form, Form, Form.Settings.Tracks,
                                         Form.IFOFiles[static_cast<size_t>(i)].TitleSetNumber);
  }
  Form.Log(core::kLogNormal, core::msg::FinishingDataFormatExtraction);
  return ok && !Form.Aborted();
}

// A disc's items by name in the browser's two trees.
void ShowItemNames(TForm1& Form, BrowserViews& Views) {
  Form.NameTree.SetIFOs(Form, Form);
  Form.NameTree.FillIFOTreeView(Form, Form, Views.TreeView1);
  Form.NameTree.FillCellTreeView(Form, Form, Views.TreeView2);
}

// The kinds of source a path on the command line can be, by what is there or,
// when nothing is, by its name.
struct SourceKindName {
  const char* One;
  const char* Many;
};
constexpr SourceKindName kDiscFolder{"a disc folder", "disc folders"};
constexpr SourceKindName kInformationFile{"an information file", "information files"};
constexpr SourceKindName kVtiList{"a .VTI list", ".VTI lists"};
constexpr SourceKindName kEvoFile{"an .evo file", ".evo files"};

// Null for a path of no source kind.
const SourceKindName* KindOfSourcePath(const std::string& Path) {
  const std::string path = platform::ResolveInputPath(Path);
  if (IsFolder(path)) return &kDiscFolder;
  const std::string ext = ExtractFileExt(path);
  if (EqualsIgnoreCase(ext, ".IFO") || EqualsIgnoreCase(ext, ".BUP")) return &kInformationFile;
  if (EqualsIgnoreCase(ext, ".VTI")) return &kVtiList;
  if (EqualsIgnoreCase(ext, ".EVO")) return &kEvoFile;
  return nullptr;
}

// Nothing is there by that name, whatever its case.
bool IsMissingPath(const std::string& Path) {
  std::error_code ec;
  return !fs::exists(platform::ResolveInputPath(Path), ec);
}

}  // namespace

std::string PathOfNoSourceKind(const std::vector<std::string>& Paths) {
  for (const std::string& p : Paths) {
    const SourceKindName* kind = KindOfSourcePath(p);
    int unused = 0;
    // A folder without a disc (an earlier run's output, say) is no source either.
    const bool noDisc = kind == &kDiscFolder && FindVmgIn(platform::ResolveInputPath(p), &unused).empty();
    if ((!kind && !IsMissingPath(p)) || noDisc) return p;
  }
  return {};
}

std::string MixedSourceKinds(const std::vector<std::string>& Given) {
  // A name of no kind that is not there mixes nothing: it is said to be missing.
  std::vector<std::string> Paths;
  for (const std::string& p : Given)
    if (KindOfSourcePath(p) || !IsMissingPath(p)) Paths.push_back(p);
  // Only .evo files go together: a disc or a list is a source of its own.
  for (size_t i = 0; i < Paths.size() && Paths.size() > 1; ++i) {
    const SourceKindName* lone = KindOfSourcePath(Paths[i]);
    if (!lone || lone == &kEvoFile) continue;
    const size_t j = i == 0 ? 1 : 0;
    const SourceKindName* other = KindOfSourcePath(Paths[j]);
    const std::string& first = Paths[std::min(i, j)];
    const std::string& second = Paths[std::max(i, j)];
    std::string what;
    if (other == lone) {
      what = "the sources are two " + std::string(lone->Many) + ": " + first + " and " + second;
    } else {
      const SourceKindName* firstKind = i < j ? lone : other;
      const SourceKindName* secondKind = i < j ? other : lone;
      const auto name = [](const SourceKindName* Kind) { return Kind ? Kind->One : "of no source kind"; };
      what = "the sources mix two kinds: " + first + " is " + name(firstKind) + ", " + second + " is " +
             name(secondKind);
    }
    return what + "; give one disc folder or information file, one .VTI list, or .evo files only";
  }
  return {};
}

bool ChooseSource(const std::vector<std::string>& Paths, SourceSelection& Out, std::string& Error) {
  Out = {};
  if (Paths.empty()) {
    Error = std::string(core::msg::SpecifySourcePath);
    return false;
  }
  if (Paths.size() == 1) {
    const std::string path = platform::ResolveInputPath(Paths[0]);
    if (IsFolder(path)) {
      int err = 0;
      std::string where;
      Out.IFOFile = FindVmgIn(path, &err, &where);
      // A DVD-Video folder (or the disc's folder above it) is named for what it is.
      if (int dvdErr = 0; Out.IFOFile.empty() && err == 0)
        Out.IFOFile = FindDiscFileIn(path, "VIDEO_TS", "VIDEO_TS.IFO", &dvdErr);
      if (int bupErr = 0; Out.IFOFile.empty()) {
        Error = err != 0 ? "can not look for hv000i01.IFO in " + where + platform::ErrorReason(err)
                         : WithVmgBackup("no hv000i01.IFO in " + path,
                                         FindDiscFileIn(path, "HVDVD_TS", "hv000i01.BUP", &bupErr));
        return false;
      }
      if (!IsFile(Out.IFOFile)) {
        Error = NotAFileReason(Out.IFOFile);
        return false;
      }
      Out.Kind = SourceKind::StandardContent;
      Out.DvdVideo = IsDvdVideoFileName(Out.IFOFile);
      return true;
    }
    if (!IsFile(path)) {
      Error = WithVmgBackup(NotAFileReason(path), VmgBackupOf(path));
      return false;
    }
    const std::string ext = ExtractFileExt(path);
    if (EqualsIgnoreCase(ext, ".IFO") || EqualsIgnoreCase(ext, ".BUP")) {
      Out.Kind = SourceKind::StandardContent;
      Out.IFOFile = path;
      Out.DvdVideo = IsDvdVideoFileName(path);
      return true;
    }
    if (EqualsIgnoreCase(ext, ".VTI")) {
      Out.Kind = SourceKind::AdvancedContent;
      Out.VTIFile = path;
      return true;
    }
  }
  // A name mistyped is said so before anything is made of the others.
  for (const std::string& p : Paths)
    if (IsMissingPath(p)) {
      Error = NotAFileReason(platform::ResolveInputPath(p));
      return false;
    }
  if (Error = MixedSourceKinds(Paths); !Error.empty()) return false;
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

bool OpenSource(TForm1& Form, SourceSelection& Source, BrowserViews& Views) {
  if (Form.MainWindow) Form.MainWindow->Chart.Points.clear();
  switch (Source.Kind) {
    case SourceKind::StandardContent: {
      Form.Log(core::kLogNormal, std::string(core::msg::LoadIFOFile) + Source.IFOFile);
      const int32_t loaded = LoadIFOSet(Form, Form, Form, Source.IFOFile, Views.StringGrid1);
      ShowItemNames(Form, Views);
      if (Form.TitleSetCount < 1 || Form.IFOFiles[0].Kind == disc::ifoUnknown) {
        // Named here too: the line that named it went to stdout.
        Form.Log(core::kLogWarning,
                 WithVmgBackup(std::string(core::msg::FileIsNotInIFOFormatOr) + " " + Source.IFOFile,
                               VmgBackupOf(Source.IFOFile)),
                 platform::kColourRed);
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
      Form.Sources = SourceFilesOf(Form, Source);
      return true;
    }
    case SourceKind::AdvancedContent: {
      Form.Log(core::kLogNormal, std::string(core::msg::LoadFile) + Source.VTIFile);
      if (!demux::LoadEvoFileList(Form, Source.EvoList, Source.VTIFile)) {
        Form.Log(core::kLogWarning, std::string(core::msg::InvalidFileFormat) + Source.VTIFile, platform::kColourRed);
        return false;
      }
      Source.EvoFiles.clear();
      for (const auto& e : Source.EvoList)
        if (!e.BadName) Source.EvoFiles.push_back(e.Name);
      [[fallthrough]];
    }
    case SourceKind::LooseEvo:
      Form.LooseEvo = 1;
      Form.FrameRate = 30;
      if (Source.Kind == SourceKind::LooseEvo) {
        Source.EvoList.clear();
        for (const auto& f : Source.EvoFiles) Source.EvoList.push_back({f, 0});
      }
      for (const auto& f : Source.EvoFiles) {
        Form.Log(core::kLogNormal, std::string(core::msg::OpenEVOFile) + platform::ToUpperAscii(platform::ExtractFileName(f)));
        AddChartPoint(Form, f);
      }
      // Known from here on: the lock and a log saved before the run starts
      // take no source's place either.
      Form.Sources = SourceFilesOf(Form, Source);
      return true;
    case SourceKind::None:
      break;
  }
  return false;
}

RunResult StartRun(TForm1& Form, const SourceSelection& Source, BrowserViews& Views,
                   const std::function<bool()>& SaveLog, const std::function<int()>& LostLines) {
  ApplyOptions(Form);
  const std::string folder = Form.Settings.Output.Folder;
  if (folder.empty()) {
    Form.Log(core::kLogWarning, core::msg::SpecifyDestinationPath, platform::kColourRed);
    Form.LogError(core::OutputFolderRefusal(Form.Options));
    return RunResult::Failed;
  }
  ResetRunState(Form);
  if (const std::string note = core::OutputFolderNote(Form.Options); !note.empty())
    Form.Log(core::kLogWarning, note, platform::kColourRed);
  // "Auto Main detection": the title set that plays longest runs in Main mode.
  if (Source.Kind == SourceKind::StandardContent && Form.Settings.Demux.Titles == core::TitleMode::AutoMain) {
    const int32_t main = demux::FindMainVTS(Form);
    const size_t mark = static_cast<size_t>(Form.IFOFiles[static_cast<size_t>(main)].TitleSetNumber) + 1;
    if (main < Form.TitleSetCount && mark < Form.VTSListForm.MainModeMark.size()) Form.VTSListForm.MainModeMark[mark] = 1;
  }
  Form.Sources = SourceFilesOf(Form, Source);
  Form.SetOutputRoot(Form.Options.DestinationPath);
  if (!PrepareOutputFolder(Form, folder, Source.Kind == SourceKind::StandardContent, Form.Sources))
    return RunResult::Failed;
  Form.Log(core::kLogNormal, std::string(core::msg::DestinationFolder) + folder);
  Form.Log(core::kLogNormal, core::msg::StartingEVOFilesProcessing);

  bool ok = false;
  switch (Source.Kind) {
    case SourceKind::StandardContent:
      ok = DemuxDisc(Form, folder);
      break;
    case SourceKind::AdvancedContent:
    case SourceKind::LooseEvo: {
      demux::TEvoFileList list = Source.EvoList;
      ok = demux::DemuxEvoFileList(Form.DemuxEnv(), Form.Settings.Demux, list);
      break;
    }
    case SourceKind::None:
      break;
  }
  // The videos as demultiplexed: a slide show's still files take over its entry.
  std::vector<std::string> videos;
  for (const disc::TVideoStreamEntry& v : Form.VideoStreams) videos.push_back(v.Path);
  // The post-processing: the re-authoring tracks, the title subpictures kept
  // in indexed ".sup" files as pictures and segments of their tracks, and the
  // data-format extraction. A step that fails in part says so and the next
  // one goes on with what there is; only a demultiplexing that failed stops them.
  // A step that failed over an input it had to leave names it, and the run
  // still ends with its clean-up.
  std::vector<std::string> undrawn;  // indexes of title subpictures not all drawn
  if (ok && !Form.Aborted()) {
    ok = StepDone(Form, [&] { return demux::PrepareTrackFolders(Form.DemuxEnv(), Form.Settings.Tracks); });
    if (!Form.Aborted()) {
      Form.Log(core::kLogNormal, core::msg::StartingSubpicturesConvertion);
      ok &= StepDone(Form, [&] {
        return demux::ConvertSubpictureIndexFiles(Form.DemuxEnv(), Form.Settings.Demux.Subpictures, &undrawn);
      });
      Form.Log(core::kLogNormal, core::msg::FinishingSubpicturesConvertion);
    }
    if (!Form.Aborted()) ok &= ExtractDataFormats(Form);
    // The items' names again: the run's scouts tell the angle VOBs apart.
    if (!Form.Aborted()) ShowItemNames(Form, Views);
  }
  DeleteScanCaches(Form, folder, std::move(videos));

  // A stop that came before the run's last step stops the run, whichever step
  // it came in, also one still waiting for the pump: a step that does not pump
  // leaves it waiting. A write error stops the run as Stop does, but the run
  // has failed.
  const auto stopped = [&Form] {
    Form.ProcessMessages();
    if (!Form.Aborted() || Form.WriteStopped) return false;
    Form.Log(core::kLogWarning, core::msg::CurrentOperationWasAbortedByTheUser, platform::kColourRed);
    return true;
  };
  if (stopped()) return RunResult::Stopped;
  if (!ok || Form.WriteStopped) {
    LogSkippedInputs(Form);
    LogFailedWrites(Form);
    Form.Log(core::kLogWarning, core::runmsg::ProcessIsAbortedDemuxingOrScriptGeneration, platform::kColourRed);
    return RunResult::Failed;
  }
  Form.Log(core::kLogNormal, core::msg::FinishingEVOFilesProcessing);
  // The ".sup" files go with their ".dat" indexes where their units were
  // drawn: the menus' as their chains ended, the titles' in the conversion
  // above. Units that were not to be drawn, or could not be, stay in them.
  core::FileSet keep = Form.Sources;
  if (Form.Settings.Demux.Subpictures == core::SupMode::FilesOnly)
    for (const std::string& dat : Form.DatFiles)
      for (const std::string& f : demux::IndexedSubpictureFiles(dat)) keep.Add(f);
  for (const std::string& dat : undrawn)
    for (const std::string& f : demux::IndexedSubpictureFiles(dat)) keep.AddAlone(f);
  if (Form.Options.DeleteSUP) core::CleanMenuTitleFolders(folder, keep);
  core::CleanScanFiles(folder, keep);
  // The clean-ups were the last step. Nothing pumps from here to the verdict's
  // line: a stop that comes later finds the run ended and takes nothing from it.
  if (stopped()) return RunResult::Stopped;
  if (Form.MainWindow) Form.MainWindow->TotalProgress.SetPosition(100);
  // Everything else was done; what had to be left out makes the run a failure.
  if (LogSkippedInputs(Form)) return RunResult::Failed;
  return EndFinishedRun(Form, SaveLog, LostLines ? LostLines() : 0);
}

}  // namespace tess::app
