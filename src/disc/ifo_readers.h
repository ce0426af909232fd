#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "disc/ifo_model.h"
#include "disc/pgc_reader.h"

namespace tess::core {
struct RunContext;
}
namespace tess::disc {
struct DiscModel;
struct RunRegistries;
}
namespace tess::platform {
struct GridModel;
}

// Reading the information files of a disc into their TIFOFile records, and
// releasing them again.
//
// Every table is located through the start sectors of its file's management
// table and read field by field. Counts, offsets and lengths are checked against
// the file's size and the table's end byte before they are used: a table that
// does not fit is reported (a warning naming the file and the table), left
// empty, and its start sector in the record's management table is set to 0 so
// that every consumer sees it as absent. What one file decodes in all is bounded
// by its size (TTableReader::Charge), however its entries share their bytes.
// Counts that the records expose always equal the number of entries they hold.
namespace tess::disc {

// 1 VMG, 2 title set, 0 not recognised, from the file's 12-byte identifier. Sets
// the disc model's HD-disc flag on every call (1 for the HD DVD identifiers).
// *Err (when given) is the errno of a failed open or of a read error in the
// identifier, else 0.
int32_t DetectIFOKind(DiscModel& Disc, const std::string& FileName, int* Err = nullptr);
// The 12 bytes an information file begins with identify a video manager.
bool IsVideoManagerId(std::string_view Id);

// Loads FileName into Img when it is a whole information file: it opens, reads
// to its end and starts with an information file's identifier. A missing file,
// an open that fails and a read error are logged, with their reasons.
bool LoadWholeInformationFile(core::RunContext& Run, const std::string& FileName, TIFOImage& Img);
// The same for a video manager's file, by its whole identifier.
bool LoadWholeVideoManagerFile(core::RunContext& Run, const std::string& FileName, TIFOImage& Img);

// The management readers. They fill every table of Record but its FileName,
// kind, ordinal and title-set number, which the loading driver sets. A title
// set's overview then goes into InfoGrid (ShowVTSOverview).
void ReadVMGI(core::RunContext& Run, DiscModel& Disc, TIFOFile& Record, const std::string& FileName);
void ReadVMGI(core::RunContext& Run, DiscModel& Disc, TIFOFile& Record, const TIFOImage& Image);
void ReadVTSI(core::RunContext& Run, DiscModel& Disc, TIFOFile& Record, const std::string& FileName,
              platform::GridModel& InfoGrid);
void ReadVTSI(core::RunContext& Run, DiscModel& Disc, TIFOFile& Record, const TIFOImage& Image,
              platform::GridModel& InfoGrid);

// The table readers, each at the byte position Pos of the image. False when the
// table was bad (reported; the table is then empty).
bool ReadTitleSearchTable(const TTableReader& R, uint64_t Pos, TTitleSearchTable& T);
bool ReadLanguageUnitTable(const TTableReader& R, uint64_t Pos, TLanguageUnitTable& T, std::string_view Name);
bool ReadParentalHeader(const TTableReader& R, uint64_t Pos, TParentalHeader& T);
bool ReadVTSAttributeTable(const TTableReader& R, uint64_t Pos, TVTSAttributeTable& T);
bool ReadTextDataHeader(const TTableReader& R, uint64_t Pos, TTextDataHeader& T);
// The three cell address tables differ: the title-set menu table reads nothing
// when its EVO count is 0, and only the title table holds 16-bit cell ids.
enum class TCellTableKind { VmgMenus, TitleSetMenus, Titles };
bool ReadCellAddressTable(const TTableReader& R, uint64_t Pos, TCellAddressTable& T, std::string_view Name,
                          TCellTableKind Kind);
bool ReadVobuAddressMap(const TTableReader& R, uint64_t Pos, TVobuAddressMap& T, std::string_view Name);
bool ReadPartOfTitleTable(const TTableReader& R, uint64_t Pos, TPartOfTitleTable& T);
bool ReadPGCTable(const TTableReader& R, uint64_t Pos, TPGCTable& T);
bool ReadTimeMapTable(const TTableReader& R, uint64_t Pos, TTimeMapTable& T);

// ---- release ----

// Releases every used record, from the last to the first.
void FreeAllTitleSets(DiscModel& Disc);
void ReleaseVMGRecord(TIFOFile& Record);
void ReleaseVTSRecord(TIFOFile& Record);
void ReleasePGC(std::unique_ptr<TPGC>& PGC);
// The whole record back to its zero state (kind 0, empty file name).
void ZeroIFORecord(TIFOFile& Record);

// Empties the stream registries and the string pool.
void FreeStreamArrays(RunRegistries& Reg);
void ClearObjectTables(DiscModel& Disc);
void FreeObjectTables(DiscModel& Disc);

// Fills the information grid with the title set's overview: its attributes,
// menu language units, program chains and cells.
void ShowVTSOverview(platform::GridModel& Grid, const TIFOFile& Record);

}  // namespace tess::disc
