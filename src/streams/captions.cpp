#include "streams/captions.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>

#include "core/messages.h"
#include "core/run_context.h"
#include "platform/file_io.h"
#include "platform/paths.h"
#include "streams/m2v_stream.h"

namespace tess::streams {

namespace {

constexpr uint8_t kCaptionId[4] = {0x43, 0x43, 0x01, 0xF8};
constexpr size_t kFirstGroup = 5;  // the attribute byte comes before it
constexpr uint8_t kValidMarker = 0xFF;
constexpr uint8_t kEmptyMarker = 0xFE;
constexpr std::string_view kSccHeader = "Scenarist_SCC V1.0\r\n\r\n";

// Caption bytes carry odd parity; the low seven bits are the character, with a
// few codes of the caption set standing for accented letters.
constexpr std::array<char, 256> MakeCaptionTable() {
  std::array<char, 256> t{};
  for (int b = 0; b < 256; ++b) {
    int ones = 0;
    for (int v = b; v; v >>= 1) ones += v & 1;
    const int c = b & 0x7F;
    char ch = ' ';
    if (ones % 2 == 1 && c >= 0x20 && c <= 0x7E) {
      switch (c) {
        case 0x2A: ch = 'a'; break;
        case 0x5C: ch = 'e'; break;
        case 0x5E: ch = 'i'; break;
        case 0x5F: ch = 'o'; break;
        case 0x60: ch = 'u'; break;
        case 0x7B: ch = 'c'; break;
        case 0x7C: ch = ' '; break;
        case 0x7D: ch = 'N'; break;
        case 0x7E: ch = 'n'; break;
        default: ch = static_cast<char>(c);
      }
    }
    t[static_cast<size_t>(b)] = ch;
  }
  return t;
}
constexpr std::array<char, 256> kCaptionTable = MakeCaptionTable();

// The first bytes of the two control-code channels, and the padding byte.
constexpr uint8_t kControl1 = 0x94;
constexpr uint8_t kControl2 = 0x97;
constexpr uint8_t kPadding = 0x80;

void AppendPair(std::string& Hex, std::string& Raw, uint8_t A, uint8_t B) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02X%02X ", A, B);
  Hex += buf;
  Raw += static_cast<char>(A);
  Raw += static_cast<char>(B);
}

// The line-21 switches that the summary reports, from user data that follows
// a GOP header. d(n) is the block's n-th byte, from 1.
void UpdateLine21Switches(TM2VStream& S, std::span<const uint8_t> Block) {
  const auto d = [&](size_t n) { return Block[n - 1]; };
  if (Block.size() < 6) return;
  const uint8_t attr = d(5);
  const auto byAttr = [&](uint8_t& Low, uint8_t& High) {
    if (attr >= 1 && attr <= 127) Low = 1;
    if (attr >= 129) High = 1;
  };
  if (d(6) == kValidMarker) byAttr(S.Line21Switch2, S.Line21Switch1);
  if (Block.size() < 9) return;
  if (d(9) == kValidMarker) byAttr(S.Line21Switch1, S.Line21Switch2);
  if (d(6) == kValidMarker || d(9) == kValidMarker) {
    if (attr == 1) S.Line21Switch1 = 0, S.Line21Switch2 = 1;
    if (attr == 129) S.Line21Switch1 = 1, S.Line21Switch2 = 0;
  }
}

}  // namespace

void CaptionBytesToText(const std::string& Bytes, std::string& Text) {
  Text.clear();
  for (size_t i = 0; i < Bytes.size(); ++i) {
    const auto b = static_cast<uint8_t>(Bytes[i]);
    if (i > 0) {
      const auto before = static_cast<uint8_t>(Bytes[i - 1]);
      if (before == kControl1 || before == kControl2) continue;  // the second byte of a control pair
    }
    if (b == kControl1 || b == kControl2 || b == kPadding) continue;
    Text += kCaptionTable[b];
  }
}

void TCaptionFiles::AddLine(core::RunContext& Run, const std::string& VideoName, int Field, core::TTimeCode Time,
                            const std::string& Hex) {
  const int i = Field == 2 ? 1 : 0;
  Run_ = &Run;
  const std::string& name = Names_[i];
  // Called straight after the write that failed, while errno is still its error.
  const auto failed = [&] {
    const std::string why = platform::ErrorReason(errno);
    Run.Log(core::kLogWarning, "Can not write to file " + name + why);
    ::close(Handles_[i]);
    Handles_[i] = -1;
    Run.StopForFailedWrite(name);
  };
  if (!Started_[i]) {
    Started_[i] = true;
    Names_[i] = VideoName + (i == 0 ? ".cc1" : ".cc2");
    if (Run.WritesOverSource(name)) return;
    Handles_[i] = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (Handles_[i] < 0) {
      const std::string why = platform::OpenFailureReason(name, errno);
      Run.Log(core::kLogWarning, "Can not create file " + name + why);
      return;
    }
    if (!platform::WriteFull(Handles_[i], kSccHeader.data(), kSccHeader.size())) return failed();
  }
  if (Handles_[i] < 0) return;
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%02u:%02u:%02u:%02u   ", Time.Hours, Time.Minutes, Time.Seconds, Time.Frames);
  const std::string line = stamp + Hex + "\r\n";
  if (!platform::WriteFull(Handles_[i], line.data(), line.size())) failed();
}

void TCaptionFiles::Close() {
  for (int i = 0; i < 2; ++i) {
    if (Handles_[i] >= 0) {
      ::close(Handles_[i]);
      if (Run_ && Run_->WriteStopped) Run_->RemoveUnfinishedOutput(Names_[i]);
    }
    Handles_[i] = -1;
    Started_[i] = false;
  }
}

void HandleCaptionUserData(TM2VStream& S, std::span<const uint8_t> Block) {
  if (S.LastStartCode == kGroupStartCode) UpdateLine21Switches(S, Block);
  if (S.PlainMode || S.StillCheck || S.IsRewriting()) return;
  if (Block.size() < 7 || !std::equal(kCaptionId, kCaptionId + 4, Block.begin())) return;

  std::string hex[2], raw[2];
  // Each group is read only when all of it lies within the block.
  for (size_t i = kFirstGroup; i + 3 <= Block.size();) {
    const uint8_t marker = Block[i];
    if (marker != kValidMarker && marker != kEmptyMarker) break;
    if (marker == kValidMarker) AppendPair(hex[0], raw[0], Block[i + 1], Block[i + 2]);
    i += 3;
    if (i + 3 > Block.size()) break;
    const uint8_t second = Block[i];
    if (second != kValidMarker && second != kEmptyMarker) break;
    if (second == kEmptyMarker && (Block[i + 1] != 0 || Block[i + 2] != 0)) break;
    if (second == kValidMarker) AppendPair(hex[1], raw[1], Block[i + 1], Block[i + 2]);
    i += 3;
  }
  const core::TTimeCode time = S.CurrentGop.Time();
  for (int f = 0; f < 2; ++f) {
    if (S.LogCaptions) {
      std::string text;
      CaptionBytesToText(raw[f], text);
      if (!text.empty()) {
        const std::string_view intro = f == 0 ? core::msg::FoundClosedCaption1 : core::msg::FoundClosedCaption2;
        S.Run.InfoForm.AddLogColored(core::kLogInfo, std::string(intro) + hex[f] + " / " + text, S.CaptionColour);
      }
    }
    if (S.WriteScc && !hex[f].empty()) S.Captions.AddLine(S.Run, S.FileName(), f + 1, time, hex[f]);
  }
}

bool RemoveM2VUserData(core::RunContext& Run, const std::string& FileName) {
  const std::string copy = FileName + ".cc0";
  bool complete = false;
  try {
    TM2VStream stream(Run, FileName);
    stream.SetProgressBar(&Run.ProgressBar1);
    stream.AbortFlag = &Run.Abort;
    stream.StripUserData = true;
    // No header changes, so the copy needs no measuring walk before it.
    complete = !Run.Aborted() && stream.ScanVobVideo(copy, {}, {}, {}, {}, {});
  } catch (const core::EParserFileException&) {
    complete = false;
  }
  std::error_code ec;
  if (complete && !Run.Aborted()) std::filesystem::rename(copy, platform::ResolveInputPath(FileName), ec);
  if (!complete || Run.Aborted() || ec) {
    Run.RemoveOwnFile(copy);
    return false;
  }
  return true;
}

}  // namespace tess::streams
