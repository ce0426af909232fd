#include "demux/demux_context.h"

#include <filesystem>

#include "core/messages.h"
#include "demux/audio_sync.h"
#include "disc/cell_lookups.h"
#include "disc/vob_scout.h"
#include "core/run_context.h"
#include "disc/disc_model.h"
#include "disc/run_registries.h"
#include "state/run_state.h"

namespace tess::demux {

TIFOData::TIFOData(const TDemuxEnv& E, const core::DemuxSettings& S, int32_t Index, int32_t Kind)
    : Env(E),
      Settings(S),
      Plan(E.Disc, Index),
      AudioRouter(std::make_unique<TAudioRouter>()),
      TrackFolders(std::make_unique<TTrackFolderSink>()) {
  // A file that cannot be looked at (a link loop, a folder the user may not
  // enter) is named with its reason; the loading logged it already.
  std::error_code ec;
  if (Index != -1 && !Plan.LooseEvo && !Plan.DomainFileName.empty() &&
      !std::filesystem::exists(Plan.DomainFileName, ec) && Env.Run.ShowErrorMsg && Env.Run.Prompt)
    Env.Run.Prompt->Inform(std::string(core::msg::File2) + Plan.DomainFileName +
                               (ec ? ": " + ec.message() : std::string(core::msg::DoesNotExist2)),
                           core::msg::Error);
  if (!Plan.LooseEvo) {
    if (Kind == kPgcMenu)
      disc::BuildMenuAngleList(Env.Disc, Env.Reg, Index);
    else
      disc::BuildTitleAngleList(Env.Disc, Env.Reg, Index);
  }
  Cells.CurrentPgc.PgcKind = static_cast<uint8_t>(Kind);
}

TIFOData::~TIFOData() {
  // Whatever a caller left open is written out, never finished: finishing is
  // the chain driver's explicit step.
  Release();
}

void TIFOData::Release() {
  Outputs.Release();
  if (InputStream) InputStream->Close();
  InputStream.reset();
}

}  // namespace tess::demux
