#pragma once
#include <array>
#include <cstdint>
#include <string>

#include "disc/script_model.h"

namespace tess::core {
struct RunContext;
}

// Navigation commands (8 bytes each, the DVD-Video virtual machine's layout) as
// one line of readable text each, for the pre-, post- and cell commands of a
// program chain. Where a command jumps or links to an item, the item's unique
// name (name_tree.h) is left in ItemNames::JumpTarget.
namespace tess::disc {

struct DiscModel;
struct ItemNames;

using TNavCommandBytes = std::array<uint8_t, 8>;

struct TNavCommand {
  TNavCommandBytes Bytes{};
  uint8_t Type = 0;              // b0 >> 5
  bool Direct = false;           // b0 bit 4
  uint8_t SetOp = 0;             // b0 low nibble
  bool CompareImmediate = false; // b1 bit 7
  uint8_t CompareOp = 0;         // b1 bits 6..4
  uint8_t SubCommand = 0;        // b1 low nibble
  uint16_t Word1 = 0;            // b2..b3, big-endian
  uint16_t Word2 = 0;            // b4..b5
  uint16_t Word3 = 0;            // b6..b7
};

TNavCommand SplitNavCommand(const TNavCommandBytes& Bytes);

// "GPRM" n for 0..15, "SPRM" n for 128..151, else "Invalid".
std::string RegisterName(uint8_t Register);
std::string SetOpName(uint8_t Op);      // 0..11; empty above
std::string CompareOpName(uint8_t Op);  // 0..7
// The link sub-instruction of a byte (its low five bits); empty for a code
// without a name.
std::string LinkName(uint8_t Byte);
// The menu of a menu byte (bit 7 set, low nibble 1..7); empty otherwise.
std::string MenuDomainName(uint8_t MenuByte);

// The number (from 1) of the first menu chain of file IFOIndex whose category has
// the menu byte's bit 7 and low nibble, LanguageUnit receiving its unit (from 0);
// -1 and -1 when none.
int32_t FindMenuPgcById(const DiscModel& Disc, uint8_t MenuByte, int32_t IFOIndex, int32_t& LanguageUnit);

// The command as text. Context is the chain that holds it (IFO index, language
// unit, chain number in its table, domain); Names' CurIFOIndex, CurLanguageUnit
// (from 0) and MenuNamePrefix are read where a command names a menu chain of
// the current file. Clears Names.JumpTarget, then sets it where the command
// names a target.
std::string NavCommandToText(core::RunContext& Run, const DiscModel& Disc, ItemNames& Names,
                             const TNavCommandBytes& Command, const TScriptInfo& Context);

}  // namespace tess::disc
