#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/timecode.h"
#include "disc/registries.h"
#include "disc/script_model.h"
#include "core/run_context.h"
#include "core/settings.h"
#include "demux/demux_env.h"
#include "disc/run_registries.h"

// Slide shows: a video output that is a still sequence is split into one file
// per still, every still gets its own video entry, and the output's script
// track a still list; a track of several scenes becomes one track per scene,
// which share its audio, subpicture segments and highlights out between them.
namespace tess::demux {

// The slide show of video entry VideoIndex. True when its track was split into
// a slide show of several tracks; false otherwise, also when only the stills
// were made (a track of one scene, or stills without display times: without a
// ".times" file beside the video no still has a known duration or cell, so
// nothing is shared out by them).
bool BuildSlideShowTrack(const TDemuxEnv& Env, const core::TrackSettings& Settings, size_t VideoIndex);

// Makes track NewIndex (already a copy of track SourceIndex) the track of
// scene Scene (from 1) of the slide show numbered SlideShowNumber.
void FormSlideShowTrack(core::RunContext& Run, disc::RunRegistries& Reg, size_t NewIndex, size_t SourceIndex,
                        size_t Scene, int32_t SlideShowNumber);

// The sum of the durations of the track's stills, less TC when Subtract is set.
core::TTimeCode TrackTotalDuration(double FrameRate, const disc::TVideoTrack& Track, bool Subtract, core::TTimeCode TC);

// Readies the subpicture streams of the named track for the script: its
// highlight file (beside VideoEntry's output) is loaded and matched, every
// segment without a display time lasts until the next one starts (the last
// until the track ends), and no segment runs over the start of a scene.
void PrepareSubPictureStream(const TDemuxEnv& Env, const std::string& TrackName,
                             const disc::TVideoStreamEntry& VideoEntry);

}  // namespace tess::demux
