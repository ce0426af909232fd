#include "demux/stream_finisher.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "core/messages.h"
#include "core/run_context.h"
#include "core/settings.h"
#include "core/vob_file_stream.h"
#include "demux/demux_env.h"
#include "demux/output_set.h"
#include "demux/subpic_results.h"
#include "disc/disc_model.h"
#include "disc/palette.h"
#include "disc/run_registries.h"
#include "platform/file_io.h"
#include "platform/paths.h"
#include "state/run_state.h"
#include "streams/wav.h"
#include "subpic/sup_decoder.h"

namespace tess::demux {

namespace {

// Draws the pictures with the palette of the chain that plays the output's
// cell, in the output's picture size (the context's when it has none), and
// enters the findings into the script model. True when the file was taken in
// whole.
bool FinishSup(const TFinishing& F, const core::TVobFileStream& Output, const std::string& BmpName) {
  const TDemuxEnv& env = F.Env;
  disc::TPictureSize size{Output.PictureWidth, Output.PictureHeight};
  if (size.Width == 0 || size.Height == 0) size = F.Size;
  // A chain's outputs are finished when it ends, so its current program chain
  // may be another cell's: the chain of the output's own cell draws it.
  const disc::TPGC* pgc = nullptr;
  if (const disc::TSubPictureItem* item = FindItemOfFile(env.Reg, Output.FileName))
    pgc = PgcOfCell(env.Disc, item->DomainIndex, item->Kind, item->VobId, item->CellId);
  if (!pgc) pgc = F.Pgc;
  subpic::TSubpicturePalette palette{};
  disc::PaletteYCrCbToRGB(env.Disc, pgc, palette);
  const subpic::TSupOutputResult result =
      subpic::DecodeSupOutput(env.Run, env.Subpic, Output.FileName, BmpName, size, palette);
  CorrectSubPicture(env.Disc, env.Reg, Output.FileName, result.Info, false);
  if (!result.Whole)
    env.Run.LogError("The subpicture output " + platform::ExtractFileName(Output.FileName) +
                     " was not taken whole into pictures; it stays.");
  return result.Whole;
}

// The samples become a WAV of their own under a side name, which is appended to
// the WAV that this run made already when its layout is the same; the ".pcm"
// takes its own name back whatever happens, so that it stays when nothing was
// appended.
bool AppendToRunWav(core::RunContext& Run, const core::TVobFileStream& Output, const std::string& WavName) {
  const std::string pcm = Output.FileName;
  const std::string side = pcm.substr(0, pcm.size() - 4) + ".next.pcm";
  const std::string sideWav = side.substr(0, side.size() - 3) + "wav";
  bool appended = false;
  // What the failing step logged says why; these are the reasons no step logs.
  std::string why;
  if (Run.WritesOverSource(side)) {
    why = ": " + side + " is a source file";
  } else if (::rename(pcm.c_str(), side.c_str()) == 0) {
    if (streams::ConvertLpcmToWav(Run, side, Output.LpcmBitsPerSample, Output.LpcmChannels, Output.LpcmSampleRate)) {
      streams::WavHeader was, next;
      const bool read = streams::WavFindDataChunk(WavName, was, &Run) && streams::WavFindDataChunk(sideWav, next, &Run);
      const bool same = read && was.Channels == next.Channels && was.SampleRate == next.SampleRate &&
                        was.BitsPerSample == next.BitsPerSample;
      if (read && !same) why = ": the two differ in channels, sample rate or sample size";
      appended = same && streams::AppendFileData(Run, sideWav, WavName, false, {});
      Run.RemoveOwnFile(sideWav);
    }
    if (::rename(side.c_str(), pcm.c_str()) != 0) {
      const std::string err = platform::ErrorReason(errno);
      Run.LogError("Can not rename " + side + " to " + pcm + err);
    }
  } else {
    const std::string err = platform::ErrorReason(errno);
    why = ": it can not be renamed to " + side + err;
  }
  // A write error left the run's WAV without these samples: it is incomplete.
  if (!appended && Run.WriteStopped) {
    Run.RemoveUnfinishedOutput(WavName);
    return false;
  }
  if (!appended)
    Run.LogError("The samples of " + platform::ExtractFileName(pcm) + " were not appended to " +
                 platform::ExtractFileName(WavName) + why + "; " + platform::ExtractFileName(pcm) + " stays.");
  return appended;
}

// Writes WavName from the ".pcm" output with its three LPCM parameters. A WAV
// that this run made already (another EVO file's output of the same name) is
// not replaced: the output's samples are appended to it. True when WavName is
// complete; only then may the ".pcm" file go.
bool FinishPcm(const TDemuxEnv& Env, const core::TVobFileStream& Output, const std::string& WavName) {
  if (Env.Run.WritesOverSource(WavName)) return false;
  std::error_code ec;
  if (!TOutputSet::FirstTouch(Env.State, WavName) && std::filesystem::exists(WavName, ec))
    return AppendToRunWav(Env.Run, Output, WavName);
  if (streams::ConvertLpcmToWav(Env.Run, Output.FileName, Output.LpcmBitsPerSample, Output.LpcmChannels,
                                Output.LpcmSampleRate))
    return true;
  Env.Run.LogError("No WAV file " + platform::ExtractFileName(WavName) + " was made; " +
                   platform::ExtractFileName(Output.FileName) + " stays.");
  return false;
}

bool FinishOutput(const TFinishing& F, core::TVobFileStream& Output) {
  const TDemuxEnv& env = F.Env;
  const std::string& name = Output.FileName;
  const bool closed = Output.Close();
  // A write error stopped the run: what was being written is incomplete and
  // goes, to be made again from the source.
  if (env.Run.WriteStopped) {
    env.Run.RemoveUnfinishedOutput(name);
    return false;
  }
  // A file that lost bytes stays as it is, for the user to see; nothing is
  // converted from it or deleted.
  if (!closed) return false;
  const std::string base = name.size() >= 3 ? name.substr(0, name.size() - 3) : name;
  bool ok = true;
  if (Output.FinishSup && name.ends_with(".sup")) {
    const std::string bmpName = base + "bmp";
    env.Run.StatusBar1.SetText(3, std::string(core::msg::Create) + platform::ExtractFileName(bmpName));
    if (FinishSup(F, Output, bmpName))
      ::unlink(name.c_str());
    else
      ok = false;
  }
  if (Output.FinishPcm && name.ends_with(".pcm")) {
    const std::string wavName = base + "wav";
    const std::string shortName = platform::ExtractFileName(name);
    struct stat st {};
    if (::stat(wavName.c_str(), &st) == 0 && env.Run.Prompt)
      env.Run.Prompt->Inform(std::string(core::msg::File) + shortName + " exists!", "");
    if (env.Run.MainWindow)
      env.Run.MainWindow->AddLogText(
          core::kLogInfo, std::string(core::msg::ConvertFile) + shortName + std::string(core::msg::FromPcmToWav));
    if (FinishPcm(env, Output, wavName)) {
      if (F.Settings.DeletePcm) ::unlink(name.c_str());
    } else {
      ok = false;
    }
  }
  return ok;
}

}  // namespace

bool FinishPending(const TFinishing& F, core::TVobStreams& Table) {
  bool ok = true;
  for (const auto& output : Table.TakePending())
    if (!FinishOutput(F, *output)) ok = false;
  return ok;
}

}  // namespace tess::demux
