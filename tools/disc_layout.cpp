#include "disc_layout.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace tess::tools {

namespace {

int DataPacksOf(const DomainSpec& spec, const CellSpec& cell, int vobu) {
  if (vobu < static_cast<int>(cell.DataPacks.size())) return cell.DataPacks[vobu];
  return spec.DefaultDataPacks;
}

std::string NumberedName(const std::string& stem, int number) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02d", number);
  return stem + buf + ".evo";
}

}  // namespace

std::string DiscFileName(int TitleSetNumber, const std::string& Suffix) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%03d", TitleSetNumber);
  return std::string("hv") + buf + Suffix;
}

DomainLayout LayoutDomain(const DomainSpec& Spec, const std::string& FileStem, int FirstNumber) {
  DomainLayout out;
  out.Cells.resize(Spec.Cells.size());
  uint32_t sector = 0;
  uint32_t pts = Spec.FirstPts;

  auto place = [&](int cellIndex, int vobuIndex, uint32_t startPts) {
    const CellSpec& cell = Spec.Cells[cellIndex];
    VobuLayout v;
    v.Sector = sector;
    v.Packs = 1 + DataPacksOf(Spec, cell, vobuIndex);
    v.Cell = cellIndex;
    v.IndexInCell = vobuIndex;
    v.StartPts = startPts;
    v.EndPts = startPts + Spec.VobuTicks;
    sector += static_cast<uint32_t>(v.Packs);
    CellLayout& cl = out.Cells[cellIndex];
    if (!cl.Runs.empty() && cl.Runs.back().LastSector + 1 == v.Sector)
      cl.Runs.back().LastSector = v.LastSector();
    else
      cl.Runs.push_back({v.Sector, v.LastSector()});
    cl.Vobus.push_back(static_cast<int>(out.Vobus.size()));
    out.Vobus.push_back(v);
  };

  size_t i = 0;
  while (i < Spec.Cells.size()) {
    const CellSpec& cell = Spec.Cells[i];
    if (cell.Angle == 0) {
      out.Cells[i].StartPts = pts;
      for (int k = 0; k < cell.VobuCount; ++k) {
        place(static_cast<int>(i), k, pts);
        pts += Spec.VobuTicks;
      }
      out.Cells[i].EndPts = pts;
      ++i;
      continue;
    }
    // An angle block: the cells with angles 1, 2, ... that follow; every angle
    // plays the same stretch of time.
    size_t end = i + 1;
    while (end < Spec.Cells.size() && Spec.Cells[end].Angle == Spec.Cells[end - 1].Angle + 1) ++end;
    const int vobus = cell.VobuCount;
    for (size_t c = i; c < end; ++c) out.Cells[c].StartPts = pts;
    for (int k = 0; k < vobus; ++k) {
      for (size_t c = i; c < end; ++c)
        if (k < Spec.Cells[c].VobuCount) place(static_cast<int>(c), k, pts);
      pts += Spec.VobuTicks;
    }
    for (size_t c = i; c < end; ++c) out.Cells[c].EndPts = pts;
    // Each VOBU of the block points at the same-time VOBU of every angle.
    for (size_t c = i; c < end; ++c) {
      for (int vi : out.Cells[c].Vobus) {
        VobuLayout& v = out.Vobus[vi];
        for (size_t other = i; other < end; ++other) {
          const auto& ov = out.Cells[other].Vobus;
          if (v.IndexInCell < static_cast<int>(ov.size())) {
            const VobuLayout& target = out.Vobus[ov[v.IndexInCell]];
            v.AngleOffsets[Spec.Cells[other].Angle - 1] =
                static_cast<int32_t>(target.Sector) - static_cast<int32_t>(v.Sector);
          }
        }
      }
    }
    i = end;
  }
  out.TotalSectors = sector;

  // Files of the chain.
  uint32_t fileStart = 0;
  int number = FirstNumber;
  if (Spec.MaxFileSectors == 0 || out.TotalSectors == 0) {
    out.Files.push_back({NumberedName(FileStem, number), 0, out.TotalSectors});
  } else if (Spec.SplitInsideVobu) {
    while (fileStart < out.TotalSectors) {
      uint32_t count = std::min(Spec.MaxFileSectors, out.TotalSectors - fileStart);
      out.Files.push_back({NumberedName(FileStem, number++), fileStart, count});
      fileStart += count;
    }
  } else {
    uint32_t count = 0;
    for (const VobuLayout& v : out.Vobus) {
      if (count > 0 && count + static_cast<uint32_t>(v.Packs) > Spec.MaxFileSectors) {
        out.Files.push_back({NumberedName(FileStem, number++), fileStart, count});
        fileStart += count;
        count = 0;
      }
      count += static_cast<uint32_t>(v.Packs);
    }
    if (count > 0) out.Files.push_back({NumberedName(FileStem, number), fileStart, count});
  }
  return out;
}

void SetDataPacksByTime(DomainSpec& Spec, const VobuPacksByTime& PacksFor) {
  const DomainLayout layout = LayoutDomain(Spec, "x", 1);
  for (size_t c = 0; c < Spec.Cells.size(); ++c)
    Spec.Cells[c].DataPacks.assign(static_cast<size_t>(std::max(Spec.Cells[c].VobuCount, 0)), 0);
  for (const VobuLayout& v : layout.Vobus)
    Spec.Cells[v.Cell].DataPacks[v.IndexInCell] = std::max(PacksFor(v.StartPts, v.EndPts), 0);
}

int64_t CellFrames(const CellLayout& Cell, double FrameRate) {
  const double seconds = static_cast<double>(Cell.EndPts - Cell.StartPts) / kTicksPerSecond;
  return static_cast<int64_t>(std::nearbyint(seconds * FrameRate));
}

}  // namespace tess::tools
