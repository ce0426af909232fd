#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "disc/ifo_model.h"
#include "disc/pgc_reader.h"

namespace tess::app {
struct TForm1;
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
// the project state's HD-disc flag on every call (1 for the HD DVD identifiers).
int32_t DetectIFOKind(app::TForm1& Form, const std::string& FileName);

// The management readers. They fill every table of Record but its FileName,
// kind, ordinal and title-set number, which the loading driver sets.
void ReadVMGI(app::TForm1& Form, TIFOFile& Record, const std::string& FileName);
void ReadVTSI(app::TForm1& Form, TIFOFile& Record, const std::string& FileName);

// The table readers, each at the byte position Pos of the image. False when the
// table was bad (reported; the table is then empty).
bool ReadTitleSearchTable(const TTableReader& R, uint64_t Pos, TTitleSearchTable& T);
bool ReadLanguageUnitTable(const TTableReader& R, uint64_t Pos, TLanguageUnitTable& T, std::string_view Name);
bool ReadParentalHeader(const TTableReader& R, uint64_t Pos, TParentalHeader& T);
bool ReadVTSAttributeTable(const TTableReader& R, uint64_t Pos, TVTSAttributeTable& T);
bool ReadTextDataHeader(const TTableReader& R, uint64_t Pos, TTextDataHeader& T);
// NoEntriesWithoutVobs: the title-set menu table reads nothing when its EVO count is 0.
bool ReadCellAddressTable(const TTableReader& R, uint64_t Pos, TCellAddressTable& T, std::string_view Name,
                          bool NoEntriesWithoutVobs);
bool ReadVobuAddressMap(const TTableReader& R, uint64_t Pos, TVobuAddressMap& T, std::string_view Name);
bool ReadPartOfTitleTable(const TTableReader& R, uint64_t Pos, TPartOfTitleTable& T);
bool ReadPGCTable(const TTableReader& R, uint64_t Pos, TPGCTable& T);
bool ReadTimeMapTable(const TTableReader& R, uint64_t Pos, TTimeMapTable& T);

// ---- release ----

// Releases every used record, from the last to the first.
void FreeAllTitleSets(app::TForm1& Form);
void ReleaseVMGRecord(TIFOFile& Record);
void ReleaseVTSRecord(TIFOFile& Record);
void ReleasePGC(std::unique_ptr<TPGC>& PGC);
// The whole record back to its zero state (kind 0, empty file name).
void ZeroIFORecord(TIFOFile& Record);

// The browser trees keep no records of their own on their nodes: nothing to free.
void FreeTreeNodeData(app::TForm1& Form);
// Empties the stream registries and the string pool.
void FreeStreamArrays(app::TForm1& Form);
// The folder from which the settings forms start looking for the authoring tool.
void GetProgramFilesDir(std::string& Result);
void ClearObjectTables(app::TForm1& Form);
void FreeObjectTables(app::TForm1& Form);

// Fills the information grid with the title set's overview: its attributes,
// menu language units, program chains and cells.
void ShowVTSOverview(app::TForm1& Form, const TIFOFile& Record);

}  // namespace tess::disc
