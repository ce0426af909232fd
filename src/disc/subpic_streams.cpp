#include "disc/subpic_streams.h"

#include <algorithm>

#include "core/run_context.h"
#include "disc/disc_model.h"
#include "disc/attribute_texts.h"

namespace tess::disc {

namespace {

bool IsTitleChain(const DiscModel& Disc, int32_t TitleSetIndex, const TPGC* Pgc) {
  if (!IsTitleSetIndex(Disc, TitleSetIndex) || static_cast<size_t>(TitleSetIndex) >= Disc.IFOFiles.size()) return false;
  for (const TTitlePGCEntry& e : Disc.IFOFiles[static_cast<size_t>(TitleSetIndex)].VTS_PGCIT.PGCs)
    if (e.PGC.get() == Pgc) return true;
  return false;
}

}  // namespace

void ShowPGCSubpicStreams(core::RunContext& Run, const DiscModel& Disc, TSubPicInfoForm& Table, int32_t TitleSetIndex,
                          const TPGC* Pgc, int32_t Mode) {
  Table.Reset();
  if (!Pgc) return;
  const bool titles = IsTitleChain(Disc, TitleSetIndex, Pgc);
  for (int32_t i = 1; i <= 32; ++i) {
    if ((Pgc->SubpicControl[static_cast<size_t>(i - 1)] & 0x80000000u) == 0) continue;  // not available
    for (int32_t mode = 1; mode <= 4; ++mode) {
      const int32_t n = SubpicStreamNumberOf(Run, i, Pgc, Mode, mode);
      if (n < 0) continue;
      const int32_t id = 0x20 + n;
      auto it = std::find_if(Table.Streams.begin(), Table.Streams.end(),
                             [id](const TSubPicStreamEntry& s) { return s.StreamId == id; });
      if (it == Table.Streams.end()) {
        TSubPicStreamEntry e;
        e.StreamNumber = static_cast<int32_t>(Table.Streams.size()) + 1;
        e.StreamId = id;
        e.Language = SubpicAttributeLanguage(Disc, TitleSetIndex, titles, i).substr(0, kSubpicLanguageMax);
        Table.Streams.push_back(std::move(e));
        it = Table.Streams.end() - 1;
      }
      if (mode == 2) it->Wide = 1;
      if (mode == 3) it->Letterbox = 1;
      if (mode == 4) it->PanScan = 1;
    }
  }
}

void ShowVTSTitleStreams(core::RunContext& Run, const DiscModel& Disc, TSubPicInfoForm& Table, int32_t TitleSetIndex) {
  if (Table.TitlesOfSet == TitleSetIndex) return;
  if (TitleSetIndex < 0 || static_cast<size_t>(TitleSetIndex) >= Disc.IFOFiles.size()) {
    Table.Reset();
    return;
  }
  const int32_t cls = VTSTitleDisplayMode(Disc, TitleSetIndex);
  const TPGC* kept = nullptr;
  size_t keptCount = 0;
  int32_t highest = 0;
  size_t shown = 0;
  for (const TTitlePGCEntry& e : Disc.IFOFiles[static_cast<size_t>(TitleSetIndex)].VTS_PGCIT.PGCs) {
    if (!e.PGC) continue;
    ShowPGCSubpicStreams(Run, Disc, Table, TitleSetIndex, e.PGC.get(), cls);
    if (!kept || Table.Streams.size() > keptCount) {
      kept = e.PGC.get();
      keptCount = Table.Streams.size();
    }
    if (shown > 0)
      for (const auto& s : Table.Streams) highest = std::max(highest, s.StreamId);
    ++shown;
  }
  ShowPGCSubpicStreams(Run, Disc, Table, TitleSetIndex, kept, cls);
  for (int32_t id = highest; id >= 32; --id) {
    if (Table.FindById(id)) continue;
    TSubPicStreamEntry e;
    e.Language = "Not Specified";
    e.StreamId = id;
    e.StreamNumber = static_cast<int32_t>(Table.Streams.size()) + 1;
    Table.Streams.push_back(std::move(e));
  }
  Table.TitlesOfSet = TitleSetIndex;
}

}  // namespace tess::disc
