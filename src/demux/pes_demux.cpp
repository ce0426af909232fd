// The pack and PES demultiplexer: one 2048-byte pack is read whole into the
// context's pack buffer and its packets are taken apart in place. Navigation
// packets go to the navigation-pack handling, payloads to the writers.
#include <algorithm>
#include <string>

#include "core/byte_order.h"
#include "core/messages.h"
#include "core/timecode.h"
#include "demux/demux_context.h"
#include "demux/pes_header.h"
#include "platform/paths.h"
#include "core/run_context.h"
#include "disc/disc_model.h"
#include "disc/run_registries.h"
#include "state/run_state.h"

namespace tess::demux {

namespace {

constexpr uint32_t kPackStartCode = 0x000001BA;
constexpr uint8_t kSystemHeaderId = 0xBB;
constexpr uint8_t kPrivateStream1 = 0xBD;
constexpr uint8_t kPrivateStream2 = 0xBF;
constexpr uint8_t kExtendedStreamId = 0xFD;
constexpr uint8_t kExtensionStartId = 0xB5;
constexpr int32_t kPesFixedHeader = static_cast<int32_t>(PesHeader::kLengthFieldEnd);
// Packets need at least this much room: a start code and a length.
constexpr int32_t kMinPacketBytes = 6;

// Packets read and dropped whole.
bool IsDroppedStream(uint8_t Sid) {
  switch (Sid) {
    case 0xBC: case 0xBE: case 0xF0: case 0xF1: case 0xF2: case 0xF8: case 0xFF: return true;
    default: return false;
  }
}

// Streams whose packets carry a PES header and go to the writers.
bool IsMediaStream(uint8_t Sid) {
  return Sid == kPrivateStream1 || (Sid >= 0xC0 && Sid <= 0xC7) || (Sid >= 0xE0 && Sid <= 0xE3) ||
         Sid == kExtendedStreamId || Sid == 0xFE;
}

}  // namespace

void TIFOData::RefreshSubpictureFileName(uint32_t Vob, uint32_t CellIdArg, uint8_t Sub, uint8_t Sid) {
  if (Outputs.SubpictureNamedFor(Vob, CellIdArg, Sub) && !Cells.Cell.CellChanged) return;
  BuildSubpictureFileName(Vob, CellIdArg, false, false, Sub, Sid);
  Cells.Cell.CellChanged = false;
  Outputs.NoteSubpictureNamed(Vob, CellIdArg, Sub);
}

void TIFOData::InsertLastCellToTrackFolder() {
  if (Cells.AngleCopy <= 0) {
    TrackFolders->InsertToTrackFolder(*this, Cells.PgcVobId, Cells.PgcCellId);
  } else {
    std::vector<uint32_t> vobs;
    for (const auto& a : Cells.AngleCells)
      if (std::find(vobs.begin(), vobs.end(), a.VobId) == vobs.end()) vobs.push_back(a.VobId);
    for (uint32_t v : vobs) TrackFolders->InsertToTrackFolder(*this, v, 1);
    if (Cells.AngleNumber == 0 && vobs.empty())
      TrackFolders->InsertToTrackFolder(*this, Cells.PgcVobId, Cells.PgcCellId);
  }
  Cells.AngleCells.clear();
}

int32_t TIFOData::ProcessPack(bool Finish) {
  if (Finish) {
    DemuxPES(true);
    return 0;
  }
  const int64_t got = InputStream ? InputStream->ReadInPlace(Pack, kPackSize) : 0;
  PackLength = static_cast<int32_t>(got);
  if (got == 0) {
    if (InputStream && InputStream->ReadFailed)
      Env.Run.LogError(std::string(core::msg::ReadErrorWhileDemuxFile) +
                       platform::ExtractFileName(InputStream->FileName) + "!");
    return 0;
  }
  if (got < kPackSize) {
    // The file ends inside this pack: its packets cannot be trusted to be whole.
    Env.Run.LogError("The last pack of " + platform::ExtractFileName(InputStream->FileName) + " holds only " +
                     std::to_string(got) + " bytes; it is skipped. Pack Number: " + std::to_string(PackNumber));
    Damage.ShortLastPack = got;
    return static_cast<int32_t>(got);
  }
  const uint32_t code = core::ReadBE32(Pack);
  if (code != kPackStartCode) {
    // A file of no packs at all would say so for every sector; the chain
    // driver counts the rest in one line when the file ends.
    if (++Damage.NotMpegPacks <= kShownNotMpegPacks)
      Env.Run.LogError(std::string(core::msg::MPEGIsNotCorrectStartCode) + std::to_string(code) +
                       ", Pack Number: " + std::to_string(PackNumber));
    return kPackSize;
  }
  const int32_t stuffing = Pack[13] & 7;
  PackHeaderLength = kPackHeaderSize + stuffing;
  const int32_t limit = kPackSize - PackHeaderLength;
  PackCursor = PackHeaderLength;
  PackBytesUsed = 0;
  while (PackBytesUsed < limit) {
    const int32_t left = limit - PackBytesUsed;
    if (left < kMinPacketBytes) {
      Env.Run.LogError(std::string(core::msg::AlignPackLengthPackNumber) + std::to_string(PackNumber));
      break;
    }
    const int32_t used = DemuxPES(false);
    if (used == 0) break;
    PackBytesUsed += used;
  }
  // The whole sector was read: the next pack starts on the sector grid whatever
  // this one held.
  return kPackSize;
}

int32_t TIFOData::DemuxPES(bool Finish) {
  if (Finish) {
    Cells.CellNaming = Cells.CellNamingNow;
    Outputs.ResetSubpictureUnits();
    InsertLastCellToTrackFolder();
    Cells.VobIdList.clear();
    Cells.TrackVobIdList.clear();
    return 0;
  }

  const int32_t start = PackCursor;
  const int32_t avail = kPackSize - start;
  if (avail < kMinPacketBytes) return 0;
  const uint8_t* p = Pack + start;
  if (p[0] != 0 || p[1] != 0 || p[2] != 1) {
    ++Damage.DroppedPackets;
    Env.Run.LogError("No packet start code at byte " + std::to_string(start) +
                     "; the rest of the pack is skipped. Pack Number: " + std::to_string(PackNumber));
    PackCursor = kPackSize;
    return avail;
  }
  const uint8_t sid = p[3];
  if (sid == kExtensionStartId && Env.Run.Prompt) Env.Run.Prompt->Inform("MPEG Extension start code", "");
  int32_t length = core::ReadBE16(p + 4);
  const int32_t room = avail - kPesFixedHeader;
  if (length > room) {
    ++Damage.DroppedPackets;
    Env.Run.LogError("Packet of stream " + std::to_string(sid) + " runs past its pack (" + std::to_string(length) +
                     " bytes, " + std::to_string(room) +
                     " left); it is dropped. Pack Number: " + std::to_string(PackNumber));
    PackCursor = kPackSize;
    return avail;
  }
  const int32_t total = kPesFixedHeader + length;
  const int32_t end = start + total;
  PackCursor = end;

  if (sid == kSystemHeaderId) return total;  // its entries are not needed; its length bounds it
  if (sid != kPrivateStream1) Outputs.RegisterStream(sid, 0, 0);
  if (IsDroppedStream(sid)) return total;

  if (sid == kPrivateStream2) {
    if (length < 1) return total;
    const uint8_t sub = p[6];
    const uint8_t* data = p + 7;
    const int32_t dataLength = length - 1;
    ++Cells.NavPackCount;
    if (sub == 1) {
      // The VOB id at data bytes 24..25, the cell id at 27.
      if (dataLength < 28) {
        ++Damage.DroppedPackets;
        Env.Run.LogError("Navigation packet too short for its ids; it is skipped. Pack Number: " +
                         std::to_string(PackNumber));
        return total;
      }
      const uint32_t vob = core::ReadBE16(data + 24);
      const uint32_t cell = data[27];
      Cells.PrevCellId = Cells.CellId;
      Cells.PrevVobId = Cells.VobId;
      Cells.CellId = cell;
      Cells.VobId = vob;
      if (Cells.PrevVobId != Cells.VobId) Cells.AddVobId(Cells.VobId);
      ProcessNavPack(data, dataLength);
    } else if (sub == 0) {
      ProcessPciPack(data, dataLength);
    }
    return total;
  }

  if (!IsMediaStream(sid)) return total;

  // ---- the PES header ----
  TPesHeaderFault fault = TPesHeaderFault::None;
  const std::optional<PesHeader> header = PesHeader::Decode({p, static_cast<size_t>(total)}, &fault);
  auto dropHeader = [&](const char* Why) {
    ++Damage.DroppedPackets;
    Env.Run.LogError(std::string("PES header of stream ") + std::to_string(sid) + " " + Why +
                     "; the packet is dropped. Pack Number: " + std::to_string(PackNumber));
    return total;
  };
  if (!header) return dropHeader(PesHeaderFaultText(fault));
  PtsDtsFlags = header->PtsDtsFlags;
  if (header->Pts) {
    LastPtsTicks = *header->Pts;
    LastPts = static_cast<uint32_t>(LastPtsTicks);
    LastPtsMs = core::TicksToMs(LastPtsTicks);
    if (IsVideoStream(sid, 0)) {
      VideoPtsMs = LastPtsMs;
      VideoPtsSeen = 1;
    }
  }
  if (header->PackHeaderField) Env.Run.InfoForm.AddLogColored(2, core::runmsg::DemuxErrorPackHeaderFieldFlagValue, 255);

  // The payload starts after every byte the header length counts.
  int32_t payloadStart = start + static_cast<int32_t>(header->PayloadOffset());
  uint8_t sub = 0;
  if (sid == kPrivateStream1) {
    if (payloadStart >= end) return dropHeader("has no substream byte");
    sub = Pack[payloadStart];
    ++payloadStart;
  } else if (sid == kExtendedStreamId) {
    sub = header->StreamIdExtension.value_or(0);
  } else if (!IsMpegAudioStream(sid, 0)) {
    // Video: the first payload byte stands as the substream byte and is written.
    sub = payloadStart < end ? Pack[payloadStart] : 0;
  }

  // ---- dispatch ----
  if (IsSubpictureStream(sid, sub)) {
    if (Cells.AngleNumber > 0)
      RefreshSubpictureFileName(Cells.VobId, Cells.CellId, sub, sid);
    else
      RefreshSubpictureFileName(Cells.PgcVobId, Cells.PgcCellId, sub, sid);
  }
  if (PtsDtsFlags >= 2) FinishCell(sid, sub);
  const uint8_t kind = static_cast<uint8_t>(Cells.AngleNumber);
  const uint8_t key = ((sid >= 0xE0 && sid <= 0xE3) || IsMpegAudioStream(sid, 0)) ? 0 : sub;
  Outputs.RegisterStream(sid, key, kind);

  TPacket packet;
  packet.Sid = sid;
  packet.Sub = sub;
  packet.Start = start;
  packet.PayloadStart = payloadStart;
  packet.End = end;
  if (!Outputs.AudioOnly()) {
    if (IsVideoStream(sid, sub))
      VideoWriter(packet);
    else if (IsSubpictureStream(sid, sub))
      SubpictureWriter(packet);
    else if (IsLpcmStream(sid, sub))
      LpcmWriter(packet);
  }
  if (IsMpegAudioStream(sid, sub))
    MpegAudioWriter(packet);
  else if (IsAc3Stream(sid, sub))
    Ac3Writer(packet);
  else if (IsDtsStream(sid, sub))
    DtsWriter(packet);
  else if (IsMlpStream(sid, sub))
    MlpWriter(packet);
  Outputs.AddSeenStream(sid, sub);
  return total;
}

}  // namespace tess::demux
