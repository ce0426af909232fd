#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "demux/demux_context.h"
#include "disc/registries.h"
#include "disc/script_model.h"

// The track folders of the authoring-script model: every finished VOB (or cell)
// of a domain becomes one video track with its scenes, audio streams and
// subpicture streams; subpicture items become segments of a track's streams,
// in memory or in the track's ".data" and ".track" side files.
namespace tess::demux {

// The track table holds at most this many tracks; a VOB beyond it gets none.
constexpr size_t kMaxScriptTracks = 14000;

// The track of the VOB (or cell) VobId/CellId that the context has just
// finished: a new track with its scenes, subpicture and audio streams, or, for
// a VOB whose track exists, the scenes of its new cells. Nothing for VOB id 0,
// a VOB without a video output or a video output that is not registered.
void InsertToTrackFolder(TIFOData& Ctx, uint32_t VobId, uint32_t CellId);

// Adds Item as one segment of subpicture stream StreamId (32..63, numbered
// StreamNumber 1..32) of Track, sorted later by Key. Titles keep a stream per id
// at index StreamId - 32; other domains one per stream number. NameByParity
// names a new stream "Pan" (even number) or "Wide" (odd). With WriteFiles the
// item and the segment are appended to the track's side files (SideFileName)
// instead of staying in the stream. False (with a log line) when a side file
// could not be written.
bool AddSubpicSegment(const TDemuxEnv& Env, disc::TVideoTrack& Track, const disc::TSubPictureItem& Item, uint32_t Key,
                      bool NameByParity, bool WriteFiles, int32_t StreamId, int32_t StreamNumber);

// The track's side file of its subpicture stream StreamIndex (from 0):
// Extension ".data" (the items, 232 bytes each) or ".track" (the segments, 44
// bytes each), in the domain's folder of the output folder.
std::string SideFileName(const std::string& OutputFolder, bool LooseEvo, const disc::TVideoTrack& Track,
                         size_t StreamIndex, const std::string& Extension);

// The name of the track of a video output: the file name of its stem
// (OutputStem) and "-t" (t001_v001x003_e0.m2v gives t001_v001x003-t,
// t01_m001v003.m2v gives t01_m001v003-t).
std::string TrackNameOfVideoFile(const std::string& VideoFile);

// The segment that Item makes, with Key as its sort key.
disc::TSubPictureSegment SegmentOfItem(const disc::TSubPictureItem& Item, uint32_t Key);

}  // namespace tess::demux
