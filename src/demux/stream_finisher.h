#pragma once
#include "disc/registries.h"

// The demultiplexer's finishing of its closed outputs: a ".pcm" output becomes
// a WAV file, a ".sup" output pictures whose findings go into the script model.
// The demux context calls it when it closes its outputs (CloseOutputs), never a
// destructor: finishing can fail, and says so.
namespace tess::core {
class TVobStreams;
struct DemuxSettings;
}  // namespace tess::core
namespace tess::disc {
struct TPGC;
}

namespace tess::demux {

struct TDemuxEnv;

// How a demux context closes its chain's outputs.
enum class TCloseMode {
  // Finish every output now, together with those kept unfinished before: the end
  // of a chain (or of a domain).
  Finish,
  // Close without finishing and keep them for the chain's end: between two files
  // of one chain, whose outputs the next file appends to.
  KeepUnfinished,
};

// What the finishing takes of the context that closes its outputs: the
// environment, the demultiplexer's settings (DeletePCM), and for a ".sup"
// output without a picture size or a cell of its own the context's picture
// size and the program chain in hand.
struct TFinishing {
  const TDemuxEnv& Env;
  const core::DemuxSettings& Settings;
  disc::TPictureSize Size;
  const disc::TPGC* Pgc = nullptr;
};

// Finishes every output that Table keeps closed and unfinished, each file
// once, in the order they were kept. An output that lost bytes is not
// finished; after a write error that stopped the run each is removed instead,
// as it can be made again from the source. A ".sup" or ".pcm" goes only once
// its pictures or its WAV file stand whole. True when nothing failed.
bool FinishPending(const TFinishing& F, core::TVobStreams& Table);

}  // namespace tess::demux
