#include "demux/stream_finisher.h"

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
  const subpic::TSupOutputResult result = subpic::DecodeSupOutput(form_, form_, Output.FileName, BmpName, size, palette);
  CorrectSubPicture(form_, Output.FileName, result.Info, false);
  if (!result.Whole)
    form_.LogError("The subpicture output " + platform::ExtractFileName(Output.FileName) +
                   " was not taken whole into pictures; it stays.");
  return result.Whole;
}

bool TOutputFinisher::FinishPcm(const core::TVobFileStream& Output, const std::string& WavName) {
  if (streams::ConvertLpcmToWav(form_, Output.FileName, Output.LpcmBitsPerSample, Output.LpcmChannels,
                                Output.LpcmSampleRate))
    return true;
  form_.LogError("No WAV file " + platform::ExtractFileName(WavName) + " was made; " +
                 platform::ExtractFileName(Output.FileName) + " stays.");
  return false;
}

}  // namespace tess::demux
