#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "core/settings.h"
#include "demux/demux_context.h"
#include "demux/demux_env.h"
#include "subpic/sup_decoder.h"

namespace tess::disc {
struct DiscModel;
struct RunRegistries;
}

// What the subpicture decoding learns about a ".sup" file goes back into the
// model: the duration, picture count, colours, contrasts and effect lists into
// the file's subpicture item, the duration into the first track segment that
// names the file. Also the run's conversion of the title subpictures that the
// demultiplexer kept in ".sup" files with ".dat" indexes.
namespace tess::demux {

// The registered item of a subpicture file: its path equals FileName but for
// the extension and case. Null when none is.
disc::TSubPictureItem* FindItemOfFile(disc::RunRegistries& Reg, const std::string& FileName);

// Enters Info (the decoding of FileName: its duration, picture count, colours
// and effects) into the file's subpicture item (the spare item with Single) and
// its duration into the first segment named after the file.
void CorrectSubPicture(const disc::DiscModel& Disc, disc::RunRegistries& Reg, const std::string& FileName,
                       const subpic::TCutSupFromFileResult& Info, bool Single);

// The program chain that plays cell VobId/CellId in domain Kind (0 or 3 first
// play, 1 menus, 2 titles) of information file DomainIndex; null when none does.
const disc::TPGC* PgcOfCell(const disc::DiscModel& Disc, int32_t DomainIndex, uint8_t Kind, uint32_t VobId,
                            uint32_t CellId);

// The run's subpicture conversion over its ".dat" index files: every unit they
// list is cut from its stream's ".sup" file into a file of its own in the
// stream's image folder and drawn into pictures there; its item (the spare
// item) takes the results, and with the SUPMode "Insert SubPictures into
// script" it becomes a segment of its cell's track, kept in the track's side
// files. Nothing with the SUPMode "Create *.sup and *.dat files only". False
// (with log lines) when a unit could not be taken whole; the run goes on.
// Undrawn (when given) gets the index files not every unit of which became
// pictures: they and their ".sup" files are all that hold those units.
bool ConvertSubpictureIndexFiles(const TDemuxEnv& Env, core::SupMode Mode, std::vector<std::string>* Undrawn = nullptr);

// The ".dat" index file and the streams' ".sup" files beside it whose units
// it lists (those that exist).
std::vector<std::string> IndexedSubpictureFiles(const std::string& DatFile);

}  // namespace tess::demux
