#include "streams/m2v_rewrite.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "core/byte_order.h"
#include "core/run_context.h"
#include "platform/file_io.h"
#include "platform/paths.h"
#include "platform/rounding.h"
#include "streams/m2v_stream.h"

namespace tess::streams {

namespace {

// The largest bit_rate_value the limit lets through (9.8 Mbit/s).
constexpr uint32_t kBitRateValueLimit = 24500;

// The aspect code an in-place correction writes. MPEG-2 codes name the display
// shape; MPEG-1 codes name the pixel shape, which differs between 625-line
// (25 frames per second) and 525-line pictures.
uint32_t InPlaceAspectCode(int32_t MpegVersion, uint32_t FrameRateCode, int32_t TargetAspectMode) {
  const bool wide = TargetAspectMode >= 2;
  if (MpegVersion != 1) return wide ? 3 : 2;
  if (IntegerFrameRate(FrameRateCode) == 25) return wide ? 3 : 8;
  return wide ? 6 : 12;
}

// The byte after the display extension's 0xB5: identifier, video_format and
// colour_description.
uint8_t DisplayExtFlags(const TDisplayExtSettings& Display) {
  return static_cast<uint8_t>((kSequenceDisplayExtensionId << 4) + (Display.VideoFormat & 7) * 2 +
                              (Display.ColourDescription & 1));
}

void PackBitRateValue(uint8_t* Bytes, uint32_t Value) {
  Bytes[0] = static_cast<uint8_t>(Value >> 10);
  Bytes[1] = static_cast<uint8_t>(Value >> 2);
  Bytes[2] = static_cast<uint8_t>(((Value & 3) << 6) | (Bytes[2] & 0x3F));
}

}  // namespace

std::array<uint8_t, 4> PackDisplaySize(uint32_t Width, uint32_t Height) {
  std::array<uint8_t, 4> b{};
  core::WriteBE32(b.data(), ((Width & 0x3FFF) << 18) | (1u << 17) | ((Height & 0x3FFF) << 3));
  return b;
}

TPreparedDisplayExt PrepareDisplayExtension(const TDisplayExtSettings& Display) {
  TPreparedDisplayExt p;
  size_t n = 0;
  p.Bytes[n++] = static_cast<uint8_t>(kExtensionStartCode);
  p.Bytes[n++] = DisplayExtFlags(Display);
  if (Display.ColourDescription & 1) {
    p.Bytes[n++] = Display.ColourPrimaries;
    p.Bytes[n++] = Display.TransferCharacteristics;
    p.Bytes[n++] = Display.MatrixCoefficients;
  }
  const auto size = PackDisplaySize(Display.DisplayHorizontalSize, Display.DisplayVerticalSize);
  for (uint8_t b : size) p.Bytes[n++] = b;
  p.Bytes[n++] = 0;
  p.Bytes[n++] = 0;
  p.Bytes[n++] = 1;
  p.Length = static_cast<uint8_t>(n);
  return p;
}

// ---------------------------------------------------------------- header rewrites

void TM2VStream::RewriteSequenceHeader(TM2VHeaderBytes& Header) {
  const TSeqHeaderSettings& s = SeqHeaderSettings_;
  uint8_t b[4];
  core::WriteBE32(b, Reader_->PeekBits(32));
  const bool copyApply = CopyMode_ && s.Apply;
  if (copyApply) {
    b[0] = static_cast<uint8_t>(s.HorizontalSize >> 4);
    b[1] = static_cast<uint8_t>(((s.HorizontalSize & 0xF) << 4) | ((s.VerticalSize >> 8) & 0xF));
    b[2] = static_cast<uint8_t>(s.VerticalSize);
    b[3] = static_cast<uint8_t>(((s.AspectCode & 0xF) << 4) | (s.FrameRateCode & 0xF));
  } else if (InPlace_) {
    // A settings record without a valid rate keeps the stream's own.
    const uint32_t rate = IsValidFrameRateCode(s.FrameRateCode) ? s.FrameRateCode : (b[3] & 0xFu);
    b[3] = static_cast<uint8_t>((InPlaceAspectCode(MpegVersion, rate, TargetAspectMode) << 4) | rate);
  }
  if (Codes_.TakeAhead(Header, 4, b) != 4) return;

  uint8_t r[3];
  core::WriteBE24(r, Reader_->PeekBits(24));
  const uint32_t value = core::ReadBE24(r) >> 6;
  if (copyApply)
    PackBitRateValue(r, s.BitRateValue);
  else if (InPlace_ && BitRateLimit && value > kBitRateValueLimit)
    PackBitRateValue(r, kBitRateValueLimit);
  Codes_.TakeAhead(Header, 3, r);
}

void TM2VStream::RewriteSequenceExtension(TM2VHeaderBytes& Header) {
  uint8_t b[2];
  core::WriteBE16(b, static_cast<uint16_t>(Reader_->PeekBits(16)));
  b[1] = static_cast<uint8_t>((b[1] & 0xF1) | ((SeqExtSettings_.ProgressiveSequence & 1) << 3) |
                              ((SeqExtSettings_.ChromaFormat & 3) << 1));
  Codes_.TakeAhead(Header, 2, b);
}

void TM2VStream::RewriteDisplayExtension(TM2VHeaderBytes& Header) {
  const TDisplayExtSettings& s = DisplayExtSettings_;
  SequenceHasDisplayExt_ = true;
  if (!s.Insert) {
    // Left out of the copy whole, from its start code on.
    Reader_->MarkDisplayExtEdit(-4);
    return;
  }
  const bool hasColour = (Reader_->PeekBits(8) & 1) != 0;
  const bool wantColour = (s.ColourDescription & 1) != 0;
  const uint8_t flags = DisplayExtFlags(s);
  if (Codes_.TakeAhead(Header, 1, &flags) != 1) return;
  // The colour bytes come in or go out with the flag.
  if (hasColour != wantColour) Reader_->MarkColourEdit(0);
  if (hasColour) {
    const uint8_t colours[3] = {s.ColourPrimaries, s.TransferCharacteristics, s.MatrixCoefficients};
    if (Codes_.TakeAhead(Header, 3, wantColour ? colours : nullptr) != 3) return;
  }
  const auto size = PackDisplaySize(s.DisplayHorizontalSize, s.DisplayVerticalSize);
  Codes_.TakeAhead(Header, 4, size.data());
}

void TM2VStream::RewriteGop(TM2VHeaderBytes& Header) {
  const int32_t rate = IntegerRate();
  if (rate <= 0) return;  // no rate to count time codes in
  const TGopSettings& s = GopSettings_;
  const core::TTimeCode start{static_cast<uint8_t>(s.Hours), static_cast<uint8_t>(s.Minutes),
                              static_cast<uint8_t>(s.Seconds), static_cast<uint8_t>(s.Pictures)};
  const core::TTimeCode passed = core::FramesToTimeCode(platform::RoundEven(RunningFrameCount), rate);
  const core::TTimeCode tc = core::AddTimeCodes(start, passed, rate);
  const uint32_t old = Reader_->PeekBits(32);
  const uint32_t bits = (uint32_t{s.DropFrameFlag & 1u} << 31) | (uint32_t{tc.Hours & 31u} << 26) |
                        (uint32_t{tc.Minutes & 63u} << 20) | (1u << 19) | (uint32_t{tc.Seconds & 63u} << 13) |
                        (uint32_t{tc.Frames & 63u} << 7) | (uint32_t{s.ClosedGop & 1u} << 6) |
                        (uint32_t{s.BrokenLink & 1u} << 5) | (old & 0x1F);
  uint8_t b[4];
  core::WriteBE32(b, bits);
  Codes_.TakeAhead(Header, 4, b);
}

void TM2VStream::RewritePictureCodingExtension(TM2VHeaderBytes& Header) {
  if (Codes_.TakeAhead(Header, 3, nullptr) != 3) return;
  const TPicExtSettings& s = PicExtSettings_;
  uint8_t b[2];
  core::WriteBE16(b, static_cast<uint16_t>(Reader_->PeekBits(16)));
  // alternate_scan (bit 2) is how the coded pictures were scanned: it stays.
  b[0] = static_cast<uint8_t>(((s.TopFieldFirst & 1) << 7) | (b[0] & 0x7C) | ((s.RepeatFirstField & 1) << 1) |
                              (s.Chroma420Type & 1));
  b[1] = static_cast<uint8_t>(((s.ProgressiveFrame & 1) << 7) | (b[1] & 0x7F));
  Codes_.TakeAhead(Header, 2, b);
}

// ---------------------------------------------------------------- rewriting walks

bool TM2VStream::FillVideoSummary(TSeqHeaderSettings& SeqHeader, TDisplayExtSettings& DisplayExt,
                                  TSeqExtSettings& SeqExt, TPicExtSettings& PicExt, TGopSettings& Gop) const {
  SeqHeader = {};
  DisplayExt = {};
  SeqExt = {};
  PicExt = {};
  Gop = {};
  if (HaveFirstSequenceHeader) {
    const TM2VSequenceHeader& h = FirstSequenceHeader;
    SeqHeader.HorizontalSize = h.HorizontalSize;
    SeqHeader.VerticalSize = h.VerticalSize;
    SeqHeader.AspectCode = h.AspectRatioInformation;
    SeqHeader.FrameRateCode = h.FrameRateCode;
    SeqHeader.BitRateValue = h.BitRateValue;
    SeqHeader.Valid = 1;
  }
  if (HaveFirstDisplayExtension) {
    const TM2VSequenceDisplayExtension& d = FirstDisplayExtension;
    DisplayExt.Insert = 1;
    DisplayExt.VideoFormat = d.VideoFormat;
    DisplayExt.DisplayHorizontalSize = d.DisplayHorizontalSize;
    DisplayExt.DisplayVerticalSize = d.DisplayVerticalSize;
    DisplayExt.ColourDescription = static_cast<uint8_t>(d.ColourDescription);
    DisplayExt.ColourPrimaries = static_cast<uint8_t>(d.ColourPrimaries);
    DisplayExt.TransferCharacteristics = static_cast<uint8_t>(d.TransferCharacteristics);
    DisplayExt.MatrixCoefficients = static_cast<uint8_t>(d.MatrixCoefficients);
    DisplayExt.Valid = 1;
  }
  if (HaveFirstSequenceExtension) {
    SeqExt.ProgressiveSequence = static_cast<uint8_t>(FirstSequenceExtension.ProgressiveSequence);
    SeqExt.ChromaFormat = FirstSequenceExtension.ChromaFormat;
    SeqExt.Valid = 1;
  }
  if (HaveFirstPictureCodingExtension) {
    const TM2VPictureCodingExtension& p = FirstPictureCodingExtension;
    PicExt.TopFieldFirst = static_cast<uint8_t>(p.TopFieldFirst);
    PicExt.AlternateScan = static_cast<uint8_t>(p.AlternateScan);
    PicExt.RepeatFirstField = static_cast<uint8_t>(p.RepeatFirstField);
    PicExt.Chroma420Type = static_cast<uint8_t>(p.Chroma420Type);
    PicExt.ProgressiveFrame = static_cast<uint8_t>(p.ProgressiveFrame);
    PicExt.Valid = 1;
  }
  if (HaveFirstGop) {
    const TM2VGopHeader& g = FirstGop;
    Gop.DropFrameFlag = static_cast<uint8_t>(g.DropFrameFlag);
    Gop.ClosedGop = static_cast<uint8_t>(g.ClosedGop);
    Gop.BrokenLink = static_cast<uint8_t>(g.BrokenLink);
    Gop.Pictures = g.Pictures;
    Gop.Seconds = g.Seconds;
    Gop.Minutes = g.Minutes;
    Gop.Hours = g.Hours;
    Gop.Valid = 1;
  }
  return HaveFirstSequenceHeader || HaveFirstDisplayExtension || HaveFirstSequenceExtension ||
         HaveFirstPictureCodingExtension || HaveFirstGop;
}

bool TM2VStream::RunRewritingScan() {
  const bool cache = CacheMode, still = StillCheck, plain = PlainMode, iOnly = IOnlyCheck;
  CacheMode = StillCheck = PlainMode = IOnlyCheck = false;
  Run.RemoveOwnFile(CacheName());
  RunningFrameCount = 0;
  ReaderFresh_ = true;
  Scan(true, false);
  CacheMode = cache;
  StillCheck = still;
  PlainMode = plain;
  IOnlyCheck = iOnly;
  // Only a walk to the end of the file has seen (and passed on) every byte.
  return Codes_.AtEnd && !Stop_ && !Aborted() && !ReadFailed();
}

bool TM2VStream::ScanVobVideo(const std::string& OutputName, const TSeqHeaderSettings& SeqHeader,
                              const TSeqExtSettings& SeqExt, const TPicExtSettings& PicExt, const TGopSettings& Gop,
                              const TDisplayExtSettings& DisplayExt) {
  if (Run.WritesOverSource(OutputName)) return false;
  Run.RemoveOwnFile(OutputName);
  const int out = ::open(OutputName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (out < 0) {
    const std::string why = platform::OpenFailureReason(OutputName, errno);
    Run.LogError("Can not create file " + OutputName + why);
    return false;
  }
  try {
    OpenReader(core::TFileBitStream::TOpenMode::ReadOnly);
  } catch (const core::EParserFileException&) {
    ::close(out);
    Run.RemoveOwnFile(OutputName);
    return false;
  }
  SeqHeaderSettings_ = SeqHeader;
  SeqExtSettings_ = SeqExt;
  PicExtSettings_ = PicExt;
  GopSettings_ = Gop;
  DisplayExtSettings_ = DisplayExt;
  core::TFileBitStream& r = *Reader_;
  r.CopyToOutput = true;
  r.OutputHandle = out;
  if (DisplayExt.Apply) {
    const TPreparedDisplayExt prepared = PrepareDisplayExtension(DisplayExt);
    r.PreparedExtLength = prepared.Length;
    std::memcpy(r.PreparedExt, prepared.Bytes.data(), prepared.Bytes.size());
    r.InsertDisplayExt = DisplayExt.Insert != 0;
    r.RemoveDisplayExt = DisplayExt.Insert == 0;
  }
  CopyMode_ = true;
  const bool walked = RunRewritingScan();
  CopyMode_ = false;
  const bool written = r.Close() && !r.CopyFailed();
  const bool placed = r.MisplacedEdits() == 0;
  const bool closed = ::close(out) == 0;
  if (!written || !closed) Run.StopForWriteError(OutputName);
  Reader_.reset();
  ReaderFresh_ = false;
  const bool complete = walked && written && placed && closed;
  if (!complete) Run.LogError("The copy of " + FileName_ + " into " + OutputName + " is not complete.");
  return complete;
}

bool TM2VStream::ScanVobVideoShared(const TSeqHeaderSettings& SeqHeader, const TSeqExtSettings& SeqExt,
                                    const TPicExtSettings& PicExt, const TGopSettings& Gop,
                                    const TDisplayExtSettings& DisplayExt) {
  try {
    OpenReader(core::TFileBitStream::TOpenMode::ReadWrite);
  } catch (const core::EParserFileException&) {
    return false;
  }
  SeqHeaderSettings_ = SeqHeader;
  SeqExtSettings_ = SeqExt;
  PicExtSettings_ = PicExt;
  GopSettings_ = Gop;
  DisplayExtSettings_ = DisplayExt;
  InPlace_ = true;
  const bool walked = RunRewritingScan();
  InPlace_ = false;
  const bool written = Reader_->Close();
  Reader_.reset();
  ReaderFresh_ = false;
  if (!written) Run.LogError("The headers of " + FileName_ + " could not all be written.");
  return walked && written;
}

// ---------------------------------------------------------------- sequence end

bool AppendM2VSequenceEnd(const std::string& FileName) {
  static constexpr uint8_t kSequenceEnd[4] = {0, 0, 1, 0xB7};
  const std::string path = platform::ResolveInputPath(FileName);
  const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return false;
  const off_t size = ::lseek(fd, 0, SEEK_END);
  uint8_t tail[4] = {0xFF, 0xFF, 0xFF, 0xFF};
  const int64_t have = std::min<int64_t>(size, 4);
  bool ok = size >= 0 && platform::PReadFull(fd, tail + (4 - have), static_cast<size_t>(have), size - have) ==
                             static_cast<size_t>(have);
  if (ok && std::memcmp(tail, kSequenceEnd, 4) == 0) ok = false;
  else if (ok) {
    // A start code cut after its prefix would join the appended code.
    if (size >= 3 && tail[1] == 0 && tail[2] == 0 && tail[3] == 1) {
      const uint8_t zero = 0;
      ok = platform::PWriteFull(fd, &zero, 1, size - 1);
    }
    ok = ok && platform::PWriteFull(fd, kSequenceEnd, 4, size);
  }
  return ::close(fd) == 0 && ok;
}

}  // namespace tess::streams
