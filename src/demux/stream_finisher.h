#pragma once

// The demultiplexer's finishing of its closed outputs: a ".pcm" output becomes
// a WAV file, a ".sup" output pictures whose findings go into the script model.
// The demux context calls it when it closes its outputs (CloseOutputs), never a
// destructor: finishing can fail, and says so.
namespace tess::demux {

class TIFOData;

// How a demux context closes its chain's outputs.
enum class TCloseMode {
  // Finish every output now, together with those kept unfinished before: the end
  // of a chain (or of a domain).
  Finish,
  // Close without finishing and keep them for the chain's end: between two files
  // of one chain, whose outputs the next file appends to.
  KeepUnfinished,
};

// Finishes every output that Ctx's stream table keeps closed and unfinished,
// each file once, in the order they were kept. An output that lost bytes is not
// finished; after a write error that stopped the run each is removed instead,
// as it can be made again from the source. A ".sup" or ".pcm" goes only once
// its pictures or its WAV file stand whole. True when nothing failed.
bool FinishPending(TIFOData& Ctx);

}  // namespace tess::demux
