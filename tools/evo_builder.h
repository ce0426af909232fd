#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "disc_layout.h"
#include "stream_sources.h"

// Writes the EVO files of one domain of a synthetic disc from its DomainSpec and
// DomainLayout: every VOBU starts with a navigation pack (pack header with
// stuffing, a system header sized so that the PCI packet starts at byte 304, PCI
// and DSI packets with the layout's ids, sectors, times and angle tables), and its
// data packs carry the streams whose access units fall in the VOBU's time, split
// into PES packets as a multiplexer does. Sources loop for as long as the domain
// lasts, with continuous times.
namespace tess::tools {

// Fixed places of the navigation pack.
constexpr uint32_t kNavPciStart = 304;       // start code of the PCI packet
constexpr uint32_t kNavDsiStart = 1287;      // start code of the DSI packet
constexpr uint32_t kNavPciData = 311;        // PCI data byte 0
constexpr uint32_t kNavDsiData = 1294;       // DSI data byte 0
constexpr uint32_t kNavPackStuffing = 2;     // stuffing bytes in the navigation pack's header

// One stream of the domain: the source and the ids its packets carry.
struct EvoStream {
  const StreamSource* Source = nullptr;
  uint8_t StreamId = 0xE0;
  uint8_t SubstreamId = 0;  // private stream 1 substream; stream id extension for 0xFD
  uint32_t Delay = 0;       // 90 kHz ticks added to the stream's times
  // 90 kHz ticks by which the stream's units travel behind their times: a unit is
  // carried by the VOBU that plays this much later than the unit, as a
  // multiplexer that sends audio late does. The first units of a VOB then ride in
  // the packs of the VOB after it.
  uint32_t MuxLag = 0;
};

// The usual ids of a kind: MPEG-2 0xE0(+Index), H.264 0xE2(+Index), VC-1 0xFD/0x55(+Index),
// MPEG audio 0xC0+Index, and on private stream 1: AC-3 0xC0+Index, E-AC-3 0xC8+Index,
// DTS 0x88+Index, MLP and TrueHD 0xB0+Index, LPCM 0xA0+Index, subpictures 0x20+Index.
EvoStream MakeEvoStream(const StreamSource& Source, int Index = 0, uint32_t Delay = 0);

struct EvoBuildOptions {
  double FrameRate = 29.97;        // the cell elapsed times' frame count and rate flag
  bool KeepStreamBytes = true;     // keep every stream's bytes in the summary
  uint32_t MuxRate = 75600;        // in 50 bytes/s (30.24 Mbit/s)
  uint32_t ScrLeadTicks = 27000;   // a VOBU's first pack is sent this long before its start time
  size_t WriteBufferBytes = 4u << 20;
};

struct EvoVobuSummary {
  uint32_t Sector = 0;  // from the domain's first sector
  int Packs = 0;        // navigation pack included
  int StreamPacks = 0;  // data packs that carry stream data (the rest are padding packs)
  uint16_t VobId = 0;
  uint8_t CellId = 0;
  uint8_t Angle = 0;
  uint32_t StartPts = 0, EndPts = 0;
  int File = 0;             // index into Files of the navigation pack
  uint32_t FileSector = 0;  // sector of the navigation pack in that file
  uint64_t Scr = 0;         // 27 MHz system clock of the navigation pack
};

struct EvoCellSummary {
  uint16_t VobId = 0;
  uint8_t CellId = 0;
  uint8_t Angle = 0;
  uint32_t StartPts = 0, EndPts = 0;
  std::vector<CellRun> Runs;
  std::vector<int> Vobus;
};

struct EvoStreamSummary {
  StreamKind Kind = StreamKind::Mpeg2Video;
  uint8_t StreamId = 0, SubstreamId = 0;
  // The elementary-stream bytes of every packet in file order (the payload after
  // the PES header and the private-stream header), when KeepStreamBytes is set.
  std::vector<uint8_t> Bytes;
  uint64_t TotalBytes = 0;
  std::vector<uint64_t> VobuOffsets;  // where each VOBU's bytes begin; one more entry at the end
  uint64_t Packets = 0;
  uint64_t PacketsWithPts = 0;
  uint64_t AccessUnits = 0;
  uint32_t FirstPts = 0;  // of the first access unit written (0 when none)
};

struct EvoFileSummary {
  std::string Name;
  std::string Path;
  uint32_t FirstSector = 0;
  uint32_t SectorCount = 0;
};

struct EvoBuildSummary {
  bool Ok = false;
  std::string Error;
  std::vector<EvoFileSummary> Files;
  std::vector<EvoVobuSummary> Vobus;
  std::vector<EvoCellSummary> Cells;
  std::vector<EvoStreamSummary> Streams;  // same order as the streams given
  uint64_t TotalBytes = 0;
  uint64_t PaddingPacks = 0;
};

// Data packs that the streams need for one VOBU time [StartPts, EndPts), with the
// streams' times starting at Origin (the domain's FirstPts).
int DataPacksForTime(const std::vector<EvoStream>& Streams, uint32_t Origin, uint32_t StartPts, uint32_t EndPts);

// Gives every VOBU of the domain the data-pack count that its streams need.
void SizeDomainForStreams(DomainSpec& Spec, const std::vector<EvoStream>& Streams);

// Grows every cell of the domain (a domain without cells gets one) by one whole
// factor, so that its EVO files hold at least about TargetBytes, and sizes the
// VOBUs for the streams. Angle blocks grow by whole interleaved units; a chain
// that would need more than 90 files gets larger files instead. False, with the
// reason in Why, when the size cannot be reached.
bool FitDomainToSize(DomainSpec& Spec, const std::vector<EvoStream>& Streams, uint64_t TargetBytes,
                     std::string* Why = nullptr);

// Writes the files of Layout.Files into Folder. The layout must come from Spec
// (sized with SizeDomainForStreams, or with room enough: spare packs are padding).
EvoBuildSummary WriteDomainEvos(const std::string& Folder, const DomainSpec& Spec, const DomainLayout& Layout,
                                const std::vector<EvoStream>& Streams, const EvoBuildOptions& Options = {});

// Sizes Spec for the streams, lays it out (FileStem + two-digit number + ".evo")
// and writes it; the layout used is returned through LayoutOut when given.
EvoBuildSummary BuildDomainEvos(const std::string& Folder, DomainSpec& Spec, const std::string& FileStem,
                                int FirstNumber, const std::vector<EvoStream>& Streams,
                                const EvoBuildOptions& Options = {}, DomainLayout* LayoutOut = nullptr);

// One loose EVO file named Name (the whole domain in it, whatever MaxFileSectors says).
EvoBuildSummary BuildLooseEvo(const std::string& Folder, const std::string& Name, DomainSpec& Spec,
                              const std::vector<EvoStream>& Streams, const EvoBuildOptions& Options = {},
                              DomainLayout* LayoutOut = nullptr);

// A ".VTI" list of EVO file names: the list's sector S at byte 188, and at S x 2048
// the count N, N + 1 values (the byte offsets of the records from the list's start,
// then of its end) and N records of 320 bytes with the name from byte 2.
bool WriteVtiList(const std::string& Path, const std::vector<std::string>& EvoNames, uint32_t ListSector = 2);

}  // namespace tess::tools
