#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace tess::core {
struct RunContext;
}
namespace tess::disc {
struct DiscModel;
}

// The subpicture stream table of the "SubPictures Streams list" window: one
// entry per decoding subpicture stream of the program chain last shown. The
// stream registration and the output-folder builder look entries up by id.
namespace tess::disc {

struct TPGC;

struct TSubPicStreamEntry {
  uint8_t Wide = 0;        // non-zero: some stream shows this id in the wide mode
  uint8_t Letterbox = 0;
  uint8_t PanScan = 0;
  uint8_t Byte3 = 0;
  int32_t StreamNumber = 0;  // 1-based position in the table
  int32_t StreamId = 0;      // 0x20 + decoding stream number
  std::string Language;      // at most 19 characters; "Not Specified" without a language
};

constexpr size_t kSubpicLanguageMax = 19;

struct TSubPicInfoForm {
  std::vector<TSubPicStreamEntry> Streams;
  // The title set whose title streams the table shows (ShowVTSTitleStreams);
  // -1 when it shows a single chain or nothing.
  int32_t TitlesOfSet = -1;

  const TSubPicStreamEntry* FindById(int32_t StreamId) const {
    for (const auto& s : Streams)
      if (s.StreamId == StreamId) return &s;
    return nullptr;
  }
  // Forget what the table shows (a new disc is loaded).
  void Reset() {
    Streams.clear();
    TitlesOfSet = -1;
  }
};

// Fills Table for one chain of title set TitleSetIndex (0 = VMG) under the
// display class Mode (VTSTitleDisplayMode / VTSMenuDisplayMode): one entry per
// decoding id that an available stream of the chain maps to in some display
// mode, with the wide, letterbox and pan-scan flags of the modes that use it
// and the language of the first stream that maps to it.
void ShowPGCSubpicStreams(core::RunContext& Run, const DiscModel& Disc, TSubPicInfoForm& Table, int32_t TitleSetIndex,
                          const TPGC* Pgc, int32_t Mode);

// Shows the title chain of the title set with the most entries and completes
// the table with the ids up to the highest one any other title chain lists.
// Nothing when the table already shows that title set's titles.
void ShowVTSTitleStreams(core::RunContext& Run, const DiscModel& Disc, TSubPicInfoForm& Table, int32_t TitleSetIndex);

}  // namespace tess::disc
