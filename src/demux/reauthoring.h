#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/timecode.h"
#include "disc/registries.h"
#include "disc/script_model.h"
#include "core/settings.h"
#include "demux/demux_env.h"
#include "disc/disc_model.h"
#include "disc/run_registries.h"
#include "state/vts_list.h"

// Re-authoring tracks: the per-cell title outputs of every title set that runs
// in Main mode are joined into one set of files per track (runs of motion
// cells), each still cell becomes a track of its own, and the registries and
// the script model are brought in line with the new files. Also the lookups
// that tie a video output to its script track and the reading back of the
// writers' side files, which the slide shows, the audio export and the
// subpicture conversion share.
namespace tess::demux {

// The path of an output less its extension and, for the demultiplexer's video
// outputs, less their stream suffix ("_e0" of "_e0.m2v"): the stem that the
// writers put before every side file of the same VOB or cell.
std::string OutputStem(const std::string& VideoPath);

// The side files the writers make beside a video output, as suffixes of its
// stem: every audio family and subpicture stream ("_c0.ac3", "_88.dts",
// "_b0.mlp", "_a0.wav", "_a0.pcm", "_c0.mpa", "_20.sup", ...), then ".dat" and
// ".hlt2".
const std::vector<std::string>& StreamSideSuffixes();

// A side file is read back whole, so one that has grown past any run's output
// (a foreign file under the same name) is refused before it is allocated for.
constexpr int64_t kMaxSideFileBytes = 256ll << 20;

// The whole of a side file (".hlt2", ".dat", ".times") in Bytes. False when it
// cannot be read whole or is larger than kMaxSideFileBytes; either is logged and
// noted in the run as an input it could not read.
bool ReadSideFile(core::RunContext& Run, const std::string& File, std::vector<uint8_t>& Bytes);

// The script track of a video output: named as the track folders name it
// (TrackNameOfVideoFile), playing the entry's file, in the entry's domain and
// title set. Null when there is none.
disc::TVideoTrack* FindTrackOfVideoEntry(disc::RunRegistries& Reg, const disc::TVideoStreamEntry& Entry);

// The playback time of a cell of a title set's titles by its program chains;
// none when no chain of the title set plays it.
std::optional<core::TTimeCode> TitleCellPlaybackTime(const disc::DiscModel& Disc, int32_t IFOIndex, uint32_t VobId,
                                                     uint32_t CellId);

// How long a title track's video plays: the playback times of the cells of its
// scenes; the video entry's end less its start when a cell is not found.
core::TTimeCode TrackVideoDuration(const disc::DiscModel& Disc, disc::RunRegistries& Reg,
                                   const disc::TVideoTrack& Track);

// The index of the title set with the longest total program-chain playback
// time; the lower one on a tie; 1 without any title set.
int32_t FindMainVTS(const disc::DiscModel& Disc);

// The title set's Main-mode mark of the title-set list.
bool IsMainModeTitleSet(const disc::DiscModel& Disc, const state::TVTSListForm& Marks, int32_t IFOIndex);

// Builds the re-authoring tracks of every title set marked for Main mode (not
// for loose EVO files). A track whose files cannot be joined is reported, its
// partial files are removed and its cells stay as they were demultiplexed.
// False when a track failed or the Stop command came.
bool PrepareTrackFolders(const TDemuxEnv& Env, const core::TrackSettings& Settings);

}  // namespace tess::demux
