#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Elementary streams for synthetic discs: loaded from small encoder outputs (or,
// where no encoder exists, made here) and cut into access units with their
// presentation times, so the EVO builder can multiplex them as a real
// multiplexer would and loop them for as long as a disc needs.
namespace tess::tools {

enum class StreamKind {
  Mpeg2Video,
  H264Video,
  Vc1Video,
  Ac3,
  Eac3,
  Dts,
  Mlp,
  TrueHd,
  MpegAudio,
  Lpcm,
  Subpicture,
};

const char* StreamKindName(StreamKind Kind);
bool IsVideoKind(StreamKind Kind);

// One access unit (a picture, an audio frame, an LPCM frame of 1/600 s, a
// subpicture unit). Units cover the stream's bytes in order without gaps.
struct AccessUnit {
  uint32_t Offset = 0;
  uint32_t Size = 0;
  uint32_t Pts = 0;  // 90 kHz, from the start of the stream
};

struct StreamSource {
  StreamKind Kind = StreamKind::Mpeg2Video;
  std::string Name;
  std::vector<uint8_t> Data;  // the bytes as packets carry them
  std::vector<AccessUnit> Units;
  // One pass lasts this long; pass n plays unit k at n * LoopTicks + Units[k].Pts.
  uint32_t LoopTicks = 0;
  // Packets of the stream carry whole groups of this many bytes (LPCM sample groups).
  uint32_t GroupBytes = 1;
  int SampleRate = 0;     // audio
  int Channels = 0;       // audio
  int BitsPerSample = 0;  // LPCM
  int Width = 0, Height = 0;  // MPEG-2 video

  bool Valid() const { return !Units.empty() && LoopTicks > 0; }
};

// Loads a file of one kind and cuts it into access units. Video pictures last
// FrameTicksNum / FrameTicksDen ticks (H.264; MPEG-2 takes its rate from the
// sequence header). False with a reason when the file holds no usable unit.
bool LoadStreamSource(StreamKind Kind, const std::string& Path, StreamSource& Out, std::string* Error = nullptr,
                      uint32_t FrameTicksNum = 3003, uint32_t FrameTicksDen = 1);

// Raw big-endian LPCM samples (16 or 24 bits, 48 or 96 kHz). 24-bit samples are
// regrouped into the packet order: per two sample frames the high and middle
// bytes of every sample, then their low bytes.
bool LoadLpcmSource(const std::string& Path, int BitsPerSample, int Channels, int SampleRate, StreamSource& Out,
                    std::string* Error = nullptr);

// Cuts already loaded bytes (the loaders' second half; tests feed it edge cases).
bool CutStreamSource(StreamSource& Src, std::string* Error = nullptr, uint32_t FrameTicksNum = 3003,
                     uint32_t FrameTicksDen = 1);

// DVD subpicture units drawn here: Count units, one every IntervalTicks, each shown
// for most of its interval; a small framed box with a pattern that differs per unit.
StreamSource MakeSubpictureSource(int Count = 4, uint32_t IntervalTicks = 90000, int Width = 96, int Height = 24);

// A VC-1-shaped advanced-profile stream (real start codes: sequence header, entry
// point, frames; payload bytes are filler, not decodable pictures). No encoder for
// VC-1 is at hand, and the multiplexing of extended stream id 0xFD only needs the shape.
StreamSource MakeVc1ShapedSource(int Frames = 30, uint32_t FrameTicks = 3003);

// The streams of tests/data/streams (see make_streams.sh), loaded by name.
struct StandardStreams {
  StreamSource Mpeg2, H264, Vc1, Ac3, Eac3, Dts, Mlp, TrueHd, Mpa, Lpcm16, Lpcm24, Subpicture;
  StreamSource Mpeg2Pal;  // 720x576 at 25 fps: the MPEG-2 video of PAL discs
};
bool LoadStandardStreams(const std::string& Folder, StandardStreams& Out, std::string* Error = nullptr);

}  // namespace tess::tools
