#pragma once
#include <cstdint>

#include "core/settings.h"
#include "demux/demux_env.h"
#include "disc/disc_model.h"
#include "disc/run_registries.h"

// The per-title-set audio export: the audio files of consecutive title tracks
// that play as one piece are joined, per title set, audio stream and angle,
// into one solid file the tracks' play items point into, or copied into one
// file and cut again at the tracks' video durations into the tracks' own files.
// Also the filling of the audio streams a title track lacks with one-frame
// stubs.
namespace tess::demux {

// "Correction of audio" over every title set marked for it in the title-set
// list. False when a join or cut failed (logged; the files it would have
// replaced stay as they were).
bool ExportTitleSetAudio(const TDemuxEnv& Env, const core::TrackSettings& Settings);

// Gives every title track of title set TitleSet (its number) the same audio
// streams, a stream a track lacks being a one-frame stub of another track's;
// only with the option AddAudioStub.
void ProcessTitleSetAudioStreams(const disc::DiscModel& Disc, disc::RunRegistries& Reg,
                                 const core::TrackSettings& Settings, int32_t TitleSet);

}  // namespace tess::demux
