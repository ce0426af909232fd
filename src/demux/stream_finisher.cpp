#include "demux/stream_finisher.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "core/messages.h"
#include "demux/demux_context.h"
#include "demux/subpic_results.h"
#include "disc/palette.h"
#include "platform/paths.h"
#include "state/project_state.h"
#include "streams/wav.h"
#include "subpic/sup_decoder.h"

namespace tess::demux {

namespace {

// Draws the pictures with the palette of the chain that plays the output's
// cell, in the output's picture size (the context's when it has none), and
// enters the findings into the script model. True when the file was taken in
// whole.
bool FinishSup(TIFOData& Ctx, const core::TVobFileStream& Output, const std::string& BmpName) {
  TForm1& form = Ctx.Form;
  disc::TPictureSize size{Output.PictureWidth, Output.PictureHeight};
  if (size.Width == 0 || size.Height == 0) size = {Ctx.PictureWidth, Ctx.PictureHeight};
  // A chain's outputs are finished when it ends, so its current program chain
  // may be another cell's: the chain of the output's own cell draws it.
  const disc::TPGC* pgc = nullptr;
  if (const disc::TSubPictureItem* item = FindItemOfFile(form, Output.FileName))
    pgc = PgcOfCell(form, item->DomainIndex, item->Kind, item->VobId, item->CellId);
  if (!pgc) pgc = Ctx.CurrentPgc.Pgc;
  subpic::TSubpicturePalette palette{};
  disc::PaletteYCrCbToRGB(form, pgc, palette);
  const subpic::TSupOutputResult result =
      subpic::DecodeSupOutput(form, form.Settings.Subpic, Output.FileName, BmpName, size, palette);
  CorrectSubPicture(form, form, Output.FileName, result.Info, false);
  if (!result.Whole)
    form.LogError("The subpicture output " + platform::ExtractFileName(Output.FileName) +
                  " was not taken whole into pictures; it stays.");
  return result.Whole;
}

// The samples become a WAV of their own under a side name, which is appended to
// the WAV that this run made already when its layout is the same; the ".pcm"
// takes its own name back whatever happens, so that it stays when nothing was
// appended.
bool AppendToRunWav(TForm1& Form, const core::TVobFileStream& Output, const std::string& WavName) {
  const std::string pcm = Output.FileName;
  const std::string side = pcm.substr(0, pcm.size() - 4) + ".next.pcm";
  const std::string sideWav = side.substr(0, side.size() - 3) + "wav";
  bool appended = false;
  if (::rename(pcm.c_str(), side.c_str()) == 0) {
    if (streams::ConvertLpcmToWav(Form, side, Output.LpcmBitsPerSample, Output.LpcmChannels,
                                  Output.LpcmSampleRate)) {
      streams::WavHeader was, next;
      const bool same = streams::WavFindDataChunk(WavName, was) && streams::WavFindDataChunk(sideWav, next) &&
                        was.Channels == next.Channels && was.SampleRate == next.SampleRate &&
                        was.BitsPerSample == next.BitsPerSample;
      appended = same && streams::AppendFileData(Form, sideWav, WavName, false, {});
      ::unlink(sideWav.c_str());
    }
    if (::rename(side.c_str(), pcm.c_str()) != 0) Form.LogError("Can not rename " + side + " to " + pcm);
  }
  if (!appended)
    Form.LogError("The samples of " + platform::ExtractFileName(pcm) + " were not appended to " +
                  platform::ExtractFileName(WavName) + "; " + platform::ExtractFileName(pcm) + " stays.");
  return appended;
}

// Writes WavName from the ".pcm" output with its three LPCM parameters. A WAV
// that this run made already (another EVO file's output of the same name) is
// not replaced: the output's samples are appended to it. True when WavName is
// complete; only then may the ".pcm" file go.
bool FinishPcm(TForm1& Form, const core::TVobFileStream& Output, const std::string& WavName) {
  std::error_code ec;
  if (Form.StartedOutputs.count(WavName) && std::filesystem::exists(WavName, ec))
    return AppendToRunWav(Form, Output, WavName);
  if (streams::ConvertLpcmToWav(Form, Output.FileName, Output.LpcmBitsPerSample, Output.LpcmChannels,
                                Output.LpcmSampleRate)) {
    Form.StartedOutputs.insert(WavName);
    return true;
  }
  Form.LogError("No WAV file " + platform::ExtractFileName(WavName) + " was made; " +
                platform::ExtractFileName(Output.FileName) + " stays.");
  return false;
}

bool FinishOutput(TIFOData& Ctx, core::TVobFileStream& Output) {
  TForm1& form = Ctx.Form;
  const std::string& name = Output.FileName;
  const bool closed = Output.Close();
  // A write error stopped the run: what was being written is incomplete and
  // goes, to be made again from the source.
  if (form.WriteStopped) {
    if (::unlink(name.c_str()) == 0) form.NoteRemovedOutput(name);
    return false;
  }
  // A file that lost bytes stays as it is, for the user to see; nothing is
  // converted from it or deleted.
  if (!closed) return false;
  const std::string base = name.size() >= 3 ? name.substr(0, name.size() - 3) : name;
  bool ok = true;
  if (Output.FinishSup && name.ends_with(".sup")) {
    const std::string bmpName = base + "bmp";
    form.StatusBar1.SetText(3, std::string(core::msg::Create) + platform::ExtractFileName(bmpName));
    if (FinishSup(Ctx, Output, bmpName))
      ::unlink(name.c_str());
    else
      ok = false;
  }
  if (Output.FinishPcm && name.ends_with(".pcm")) {
    const std::string wavName = base + "wav";
    const std::string shortName = platform::ExtractFileName(name);
    struct stat st {};
    if (::stat(wavName.c_str(), &st) == 0 && form.Prompt)
      form.Prompt->Inform(std::string(core::msg::File) + shortName + " exists!", "");
    if (form.MainWindow)
      form.MainWindow->AddLogText(core::kLogInfo,
                                  std::string(core::msg::ConvertFile) + shortName + std::string(core::msg::FromPcmToWav));
    if (FinishPcm(form, Output, wavName)) {
      if (form.Settings.Demux.DeletePcm) ::unlink(name.c_str());
    } else {
      ok = false;
    }
  }
  return ok;
}

}  // namespace

bool FinishPending(TIFOData& Ctx) {
  bool ok = true;
  for (const auto& output : Ctx.StreamTable.TakePending())
    if (!FinishOutput(Ctx, *output)) ok = false;
  return ok;
}

}  // namespace tess::demux
