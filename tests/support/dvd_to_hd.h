#pragma once
// A second source of discs, apart from the disc builder: a DVD-Video set made
// by dvdauthor, rewritten into an HD DVD Standard Content set. Every table of
// the information files is laid out again in its HD form (identifiers, title
// search entries, chain search entries, program chains, title cell ids), every
// navigation pack gets its PCI and DSI packets at their HD places, and AC-3
// moves to its HD substream ids; the video, audio and subpicture payloads stay
// byte for byte what dvdauthor wrote, so that ffmpeg's reading of the DVD's VOB
// files is the reference for what the HD set demultiplexes to.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace tess::test {

// What the navigation pack at Sector of a domain's VOB files (counted over the
// files joined) says.
struct DvdNavPack {
  uint32_t Sector = 0;
  uint16_t VobId = 0;
  uint8_t CellId = 0;
};

// One domain of the DVD: the video manager's menus ("vmgm"), a title set's
// menus ("vts1-menu") or its titles ("vts1-titles").
struct DvdDomain {
  std::vector<std::string> DvdFiles;  // the DVD's VOB files, in order
  std::vector<std::string> HdFiles;   // the EVO files written for them
  std::vector<DvdNavPack> NavPacks;   // every navigation pack, in order
  uint32_t Sectors = 0;
};

struct DvdToHdResult {
  bool Ok = false;
  std::string Error;
  std::map<std::string, DvdDomain> Domains;
};

// Rewrites the VIDEO_TS folder VideoTs into the HD set of folder Dest
// (hv000i01.IFO, hvNNNi01.IFO with their ".BUP" copies, hv000m02.evo,
// hvNNNm01.evo and hvNNNtKK.evo).
DvdToHdResult ConvertDvdToHd(const std::string& VideoTs, const std::string& Dest);

// The packs of Domain's VOB files cut per VOB id, each written to Folder as a
// VOB file of its own; their paths by VOB id.
std::map<uint16_t, std::string> CutDvdDomainByVobId(const DvdDomain& Domain, const std::string& Folder);

// The navigation pack at Sector of Domain, or none (VobId 0).
DvdNavPack DvdNavPackAt(const DvdDomain& Domain, uint32_t Sector);

}  // namespace tess::test
