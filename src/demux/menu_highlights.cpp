#include "demux/menu_highlights.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>

#include "core/byte_order.h"
#include "core/messages.h"
#include "core/run_context.h"
#include "demux/demux_context.h"
#include "disc/vob_scout.h"
#include "platform/file_io.h"

namespace tess::demux {

namespace {
constexpr size_t kPciLengthOffset = disc::kPciStartCodeOffset + 4;
}  // namespace

bool ReadMenuHighlights(core::RunContext& Run, const disc::DiscModel& Disc, int32_t IFOIndex,
                        const std::string& EvoFile, std::vector<disc::THighlightPlayItem>& Items) {
  const int fd = platform::OpenRegularFile(EvoFile, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    const std::string why = platform::OpenFailureReason(EvoFile, errno);
    Run.LogError(std::string(core::msg::CanNotOpenFile) + EvoFile + why);
    return false;
  }
  std::vector<THighlightKey> seen;
  uint8_t pack[disc::kNavPackSize];
  uint32_t navPacks = 0;
  int err = 0;
  for (int64_t sector = 0;; ++sector) {
    // A last pack cut short holds nothing whole.
    if (platform::PReadFull(fd, pack, sizeof pack, sector * disc::kNavPackSize, &err) < sizeof pack) break;
    disc::TNavPackInfo nav;
    if (!disc::ReadNavigationPack(pack, nav)) continue;
    ++navPacks;
    const int32_t pciBytes = std::min<int32_t>(core::ReadBE16(pack + kPciLengthOffset) - 1,
                                               static_cast<int32_t>(disc::kNavPackSize - disc::kPciDataOffset));
    const TNavRecord record = DecodePciRecord(pack + disc::kPciDataOffset, pciBytes);
    // The VOBU's other packs carry no navigation data: on to the next VOBU.
    sector += nav.VobuEndAddress;
    if (!StartsHighlight(record)) continue;
    const THighlightKey key{nav.CellId, nav.VobId, record.HighlightStart, record.HighlightEnd};
    if (std::find(seen.begin(), seen.end(), key) != seen.end()) continue;
    seen.push_back(key);
    disc::THighlightPlayItem& item = Items.emplace_back(HighlightItemOf(Disc, record));
    item.IFOIndex = IFOIndex;
    item.VobId = nav.VobId;
    item.CellId = nav.CellId;
    item.SourceNumber = navPacks;
  }
  ::close(fd);
  if (err != 0) Run.LogError(std::string(core::msg::ReadErrorWhileScanningEVOFile) + EvoFile);
  return err == 0;
}

}  // namespace tess::demux
