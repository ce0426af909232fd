#include "demux/stream_finisher.h"

#include <cstdio>
#include <filesystem>

#include "demux/demux_context.h"
#include "demux/subpic_results.h"
#include "disc/palette.h"
#include "platform/paths.h"
#include "streams/wav.h"
#include "subpic/sup_decoder.h"

namespace tess::demux {

bool TOutputFinisher::FinishSup(const core::TVobFileStream& Output, const std::string& BmpName) {
  // Outputs are finished by the chain of the context that wrote them, which is
  // the current one then.
  const TIFOData* ctx = form_.CurrentDemux;
  disc::TPictureSize size{Output.PictureWidth, Output.PictureHeight};
  if ((size.Width == 0 || size.Height == 0) && ctx) size = {ctx->PictureWidth, ctx->PictureHeight};
  // A chain's outputs are finished when it ends, so its current program chain
  // may be another cell's: the chain of the output's own cell draws it.
  const disc::TPGC* pgc = nullptr;
  if (const disc::TSubPictureItem* item = FindItemOfFile(form_, Output.FileName))
    pgc = PgcOfCell(form_, item->DomainIndex, item->Kind, item->VobId, item->CellId);
  if (!pgc && ctx) pgc = ctx->CurrentPgc.Pgc;
  subpic::TSubpicturePalette palette{};
  disc::PaletteYCrCbToRGB(form_, pgc, palette);
  ForgetCurrentColours(form_);
  const subpic::TSupOutputResult result =
      subpic::DecodeSupOutput(form_, form_, form_.Settings.Subpic, Output.FileName, BmpName, size, palette);
  CorrectSubPicture(form_, form_, Output.FileName, result.Info, false);
  if (!result.Whole)
    form_.LogError("The subpicture output " + platform::ExtractFileName(Output.FileName) +
                   " was not taken whole into pictures; it stays.");
  return result.Whole;
}

bool TOutputFinisher::FinishPcm(const core::TVobFileStream& Output, const std::string& WavName) {
  std::error_code ec;
  if (form_.StartedOutputs.count(WavName) && std::filesystem::exists(WavName, ec))
    return AppendToRunWav(Output, WavName);
  if (streams::ConvertLpcmToWav(form_, Output.FileName, Output.LpcmBitsPerSample, Output.LpcmChannels,
                                Output.LpcmSampleRate)) {
    form_.StartedOutputs.insert(WavName);
    return true;
  }
  form_.LogError("No WAV file " + platform::ExtractFileName(WavName) + " was made; " +
                 platform::ExtractFileName(Output.FileName) + " stays.");
  return false;
}

bool TOutputFinisher::AppendToRunWav(const core::TVobFileStream& Output, const std::string& WavName) {
  // The samples become a WAV of their own under a side name, which is appended
  // when its layout is the WAV's; the ".pcm" takes its own name back whatever
  // happens, so that it stays when nothing was appended.
  const std::string pcm = Output.FileName;
  const std::string side = pcm.substr(0, pcm.size() - 4) + ".next.pcm";
  const std::string sideWav = side.substr(0, side.size() - 3) + "wav";
  bool appended = false;
  if (::rename(pcm.c_str(), side.c_str()) == 0) {
    if (streams::ConvertLpcmToWav(form_, side, Output.LpcmBitsPerSample, Output.LpcmChannels,
                                  Output.LpcmSampleRate)) {
      streams::WavHeader was, next;
      const bool same = streams::WavFindDataChunk(WavName, was) && streams::WavFindDataChunk(sideWav, next) &&
                        was.Channels == next.Channels && was.SampleRate == next.SampleRate &&
                        was.BitsPerSample == next.BitsPerSample;
      appended = same && streams::AppendFileData(form_, sideWav, WavName, false, {});
      ::unlink(sideWav.c_str());
    }
    if (::rename(side.c_str(), pcm.c_str()) != 0) form_.LogError("Can not rename " + side + " to " + pcm);
  }
  if (!appended)
    form_.LogError("The samples of " + platform::ExtractFileName(pcm) + " were not appended to " +
                   platform::ExtractFileName(WavName) + "; " + platform::ExtractFileName(pcm) + " stays.");
  return appended;
}

}  // namespace tess::demux
