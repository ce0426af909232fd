#include "disc/nav_command_text.h"

#include "core/byte_order.h"
#include "core/run_context.h"
#include "disc/disc_model.h"
#include "disc/name_tree.h"

namespace tess::disc {

namespace {

constexpr uint8_t kMaxSetOp = 11;
constexpr uint8_t kMaxCompareOp = 7;
constexpr uint8_t kRegisterNumberMask = 0x0F;
constexpr uint16_t kPttMask = 0x3FF;

std::string Num(uint32_t Value) { return std::to_string(Value); }
std::string Button(uint8_t Byte6) { return ", button=" + Num(Byte6 >> 2); }
std::string Gprm(uint8_t Byte) { return RegisterName(Byte & kRegisterNumberMask); }

// The information file at Index when it is one of the loaded ones, else null.
const TIFOFile* LoadedFile(const DiscModel& Disc, int32_t Index) {
  if (Index < 0 || Index >= Disc.TitleSetCount || static_cast<size_t>(Index) >= Disc.IFOFiles.size()) return nullptr;
  return &Disc.IFOFiles[static_cast<size_t>(Index)];
}

// What one command needs while it is turned into text.
struct TCommandText {
  core::RunContext& Run;
  const DiscModel& Disc;
  ItemNames& Names;
  const TScriptInfo& Info;
  const TNavCommand& C;

  uint8_t B(int i) const { return C.Bytes[static_cast<size_t>(i)]; }
  std::string R(int i) const { return RegisterName(B(i)); }
  std::string RegOrWord(uint16_t Word, int RegisterByte) const {
    return C.CompareImmediate ? Num(Word) : R(RegisterByte);
  }
  std::string Condition(const std::string& A, const std::string& Bv) const {
    if (C.CompareOp == 0) return {};
    return "if ( " + A + " " + CompareOpName(C.CompareOp) + " " + Bv + " ) ";
  }
  void Target(std::string Name) const { Names.JumpTarget = std::move(Name); }

  const TIFOFile* File(int32_t Index) const { return LoadedFile(Disc, Index); }
  void ChainTarget(int32_t IFOIndex, int32_t LanguageUnit, int32_t Number) const {
    const TIFONameTree* tree = Names.NameTree.TreeOf(IFOIndex);
    const TPGCTree* chain = tree ? tree->FindChain(LanguageUnit, Number) : nullptr;
    Target(chain ? chain->Name.DisplayName() : std::string());
  }
  // The Index-th chain (from 1) of the video manager's menus, counted across
  // its language units in order.
  void VmgChainTarget(int32_t Index) const {
    const TIFONameTree* tree = Names.NameTree.TreeOf(0);
    if (!tree || !tree->IsVmg()) return Target({});
    int32_t n = 0;
    for (const TLuTree& lu : tree->Tree().LanguageUnits)
      for (const TPGCTree& chain : lu.PGCs)
        if (++n == Index) return Target(chain.Name.DisplayName());
    Target({});
  }

  std::string Text() const;
  std::string Type0() const;
  std::string Jump() const;
  std::string JumpSS() const;
  std::string CallSS() const;
  std::string Link() const;
  std::string LinkText(uint8_t Sub) const;
  std::string LinkPGCN() const;
  std::string SystemSet() const;
  std::string SetSTN() const;
  std::string RegisterSet() const;
  std::string SetCompareLink() const;
};

std::string TCommandText::Text() const {
  switch (C.Type) {
    case 0: return Type0();
    case 1: return C.Direct ? Jump() : Link();
    case 2: return SystemSet();
    case 3: return RegisterSet();
    case 4:
    case 5:
    case 6: return SetCompareLink();
    default: return {};
  }
}

std::string TCommandText::Type0() const {
  const std::string cond = Condition(R(3), RegOrWord(C.Word2, 5));
  switch (C.SubCommand) {
    case 0: return cond + "Nop";
    case 1: return cond + "GoTo " + Num(B(7));
    case 2: return cond + "break";
    case 3: return cond + "SetTmpPML parental:" + Num(B(6)) + ", command:" + Num(B(7));
    default: return cond + "Invalid Command";
  }
}

std::string TCommandText::Jump() const {
  const std::string cond = Condition(R(6), R(7));
  switch (C.SubCommand) {
    case 0: return cond + "Nop";
    case 1: return cond + "Exit";
    case 2:
      Target("Title_" + Num(B(5)));
      return cond + "JumpTT " + Num(B(5));
    case 3:
      Target("Title_" + Num(FindTitleNumber(Disc, Names.CurIFOIndex, B(5) - 1)));
      return cond + "JumpVTS_TT " + Num(B(5));
    case 5:
      Target(ProgramOfPttName(Disc, Names.NameTree, Info.IFOIndex, B(5), C.Word1 & kPttMask));
      return cond + "JumpVTS_PTT ptt_" + Num(C.Word1 & kPttMask) + " @ vts_ttn_" + Num(B(5));
    case 6: return JumpSS();
    case 8: return cond + CallSS();
    default: return cond + "Invalid Command";
  }
}

std::string TCommandText::JumpSS() const {
  const std::string cond = Condition(R(6), R(7));
  switch (B(5) >> 6) {
    case 0: return cond + "JumpSS FP_DOM";
    case 1: return cond + "JumpSS " + MenuDomainName(B(5) | 0x80) + "Menu";
    case 2: {
      if (B(4) != 0)
        return cond + "JumpSS vts_" + Num(B(4)) + ", vts_ttn_" + Num(C.Word1 & kPttMask) + " : " +
               MenuDomainName(B(5)) + "Menu";
      // A menu of this title set: shown as the link to the chain that is that menu.
      int32_t unit = -1;
      const int32_t chain = FindMenuPgcById(Disc, B(5), Info.IFOIndex, unit);
      if (chain < 1) return cond;
      ChainTarget(Info.IFOIndex, unit, chain);
      return "LinkPGCN " + Num(static_cast<uint32_t>(chain));
    }
    default: {
      // A chain of the video manager's first language unit.
      const TIFONameTree* vmg = Names.NameTree.TreeOf(0);
      if (vmg && vmg->IsVmg())
        ChainTarget(0, 0, C.Word1);
      return cond + "JumpSS pgc_" + Num(C.Word1);
    }
  }
}

std::string TCommandText::CallSS() const {
  const std::string rsm = "CallSS RSM=" + Num(B(4)) + ", ";
  switch (B(5) >> 6) {
    case 0: return rsm + "FP_DOM";
    case 1:
    case 2: return rsm + MenuDomainName(B(5) | 0x80) + "Menu";
    default:
      VmgChainTarget(C.Word1);
      return rsm + "pgc_" + Num(C.Word1);
  }
}

std::string TCommandText::Link() const {
  const std::string link = LinkText(C.SubCommand);
  if (link.empty()) return "Nop";
  return Condition(R(3), RegOrWord(C.Word2, 5)) + link;
}

std::string TCommandText::LinkPGCN() const {
  const uint16_t number = C.Word3;
  if (Info.Domain == kDomainMenus) {
    const TIFOFile* file = File(Names.CurIFOIndex);
    if (file && file->MenuPGCI_UT.Units.empty())
      Target(Names.MenuNamePrefix + Num(number));
    else
      ChainTarget(Names.CurIFOIndex, Names.CurLanguageUnit, number);
  } else if (Info.Domain == kDomainTitles) {
    // Chains are named by their number in the chain table, whatever title
    // they belong to.
    ChainTarget(Info.IFOIndex, -1, number);
  }
  return "LinkPGCN " + Num(number);
}

std::string TCommandText::LinkText(uint8_t Sub) const {
  const uint8_t b6 = static_cast<uint8_t>(C.Word3 >> 8);
  const uint8_t b7 = static_cast<uint8_t>(C.Word3 & 0xFF);
  switch (Sub) {
    case 1: {
      const std::string name = LinkName(b7);
      return name.empty() ? name : name + Button(b6);
    }
    case 4: return LinkPGCN();
    case 5: {
      const TIFOFile* file = File(Info.IFOIndex);
      if (file && Info.PgcNumber >= 1 && static_cast<size_t>(Info.PgcNumber) <= file->VTS_PGCIT.PGCs.size()) {
        const uint8_t title = file->VTS_PGCIT.PGCs[static_cast<size_t>(Info.PgcNumber) - 1].Category & 0x7F;
        Target(ProgramOfPttName(Disc, Names.NameTree, Info.IFOIndex, title, C.Word3 & kPttMask));
      }
      return "LinkPTT " + Num(C.Word3 & kPttMask) + ", button=" + Num(C.Word3 >> 10);
    }
    case 6: {
      if (Info.PgcNumber >= 1) {
        TScriptInfo program = Info;
        program.ProgramNumber = b7;
        program.CellNumber = 0;
        Target(ProgramNameOf(Run, Names.NameTree, program));
      }
      return "LinkPGN " + Num(b7) + Button(b6);
    }
    case 7: {
      TScriptInfo cell = Info;
      cell.ProgramNumber = 0;
      cell.CellNumber = b7;
      Target(CellNameOf(Names.NameTree, cell));
      return "LinkCN " + Num(b7) + Button(b6);
    }
    default: return {};
  }
}

std::string TCommandText::SetSTN() const {
  std::string items;
  if (C.Direct) {
    if (B(3) & 0x80) items += " audio=" + Num((B(3) & 0x7F) + 1) + ",";
    if (B(4) & 0x80) {
      const uint8_t stream = B(4) & 63;
      items += " subpicture=" + (stream == 63 ? std::string("Dummy") : Num(stream + 1u)) +
               ((B(4) & 0x40) ? ":ON" : ":OFF") + ",";
    }
    if (B(5) & 0x80) items += " angle=" + Num(B(5) & 0x7F) + ",";
  } else {
    if (B(3) & 0x80) items += " audio=" + Gprm(B(3)) + ",";
    if (B(4) & 0x80) items += " subpicture=" + Gprm(B(4)) + ",";
    if (B(5) & 0x80) items += " angle=" + Gprm(B(5)) + ",";
  }
  if (!items.empty()) items.pop_back();
  return "SetSTN" + items;
}

std::string TCommandText::SystemSet() const {
  const std::string mode = (B(5) & 0x80) ? "CounterMode" : "RegisterMode";
  std::string set;
  if (C.Direct) {
    auto on = [&](uint16_t Bit) { return (C.Word2 & Bit) ? std::string("ON") : std::string("OFF"); };
    switch (C.SetOp) {
      case 1: set = SetSTN(); break;
      case 2: set = "SetNVTMR NV_TMR=" + Num(C.Word1) + ", TT_PGCN=" + Num(C.Word2); break;
      case 3: set = "SetGPRMMD " + mode + " " + Gprm(B(5)) + "=" + Num(C.Word1); break;
      case 4:
        set = "SetAMXMD ACH0(4:" + on(0x1000) + ",3:" + on(0x800) + ",2:" + on(0x400) + "), ACH1(4:" + on(0x10) +
              ",3:" + on(0x08) + ",2:" + on(0x04) + ")";
        break;
      case 6: set = "SetHL_BTNN HL_BTNN=" + Num(C.Word2 >> 10); break;
      default: break;
    }
  } else {
    switch (C.SetOp) {
      case 0: set = "Nop"; break;
      case 1: set = SetSTN(); break;
      case 2: set = "SetNVTMR NV_TMR=" + R(3) + ", TT_PGCN=" + Num(C.Word2); break;
      case 3: set = "SetGPRMMD " + mode + " " + Gprm(B(5)) + "=" + R(3); break;
      case 4: set = "SetAMXMD " + Gprm(B(5)); break;
      case 6: set = "SetHL_BTNN HL_BTNN=" + Gprm(B(5)); break;
      default: break;
    }
  }
  if (C.SubCommand == 0) return Condition(R(6), R(7)) + set;
  return "{ " + set + " ; " + LinkText(C.SubCommand) + " }";
}

std::string TCommandText::RegisterSet() const {
  std::string set;
  if (C.SetOp == 0)
    set = "Nop";
  else if (C.SetOp <= kMaxSetOp)
    set = SetOpName(C.SetOp) + " " + Gprm(B(3)) + ", " + (C.Direct ? Num(C.Word2) : R(5));
  if (C.SubCommand == 0) return Condition(R(2), RegOrWord(C.Word3, 7)) + set;
  return "{ " + set + " ; " + LinkText(C.SubCommand) + " }";
}

// Types 4 to 6: a register set, a compare and a link in one command. The set
// writes GPRM n (b1's low nibble). Type 4 sets from word 1 or register b3, then
// compares GPRM n with word 2 or register b5. Types 5 and 6 compare first: with
// an immediate set (word 1 in b2..b3) general register b4 with register b5 (the
// compare-immediate bit has no room then and is ignored), else general register
// b3 with word 2 or register b5, the set then taking register b2.
std::string TCommandText::SetCompareLink() const {
  if (C.SetOp < 1 || C.SetOp > kMaxSetOp || C.CompareOp < 1 || C.CompareOp > kMaxCompareOp) return {};
  const uint8_t n = C.Bytes[1] & kRegisterNumberMask;
  const uint8_t linkCode = B(7) & 31;
  const std::string link = LinkName(linkCode) + Button(B(6));
  const std::string set = SetOpName(C.SetOp) + " " + RegisterName(n) + ", ";
  const std::string cmp = " " + CompareOpName(C.CompareOp) + " ";
  if (C.Type == 4) {
    if (C.Direct && linkCode == 0) return {};
    const std::string rhs = C.CompareImmediate ? Num(C.Word2) : R(5);
    return "{ " + set + (C.Direct ? Num(C.Word1) : R(3)) + " ; if ( " + RegisterName(n) + cmp + rhs + " ) " + link +
           " }";
  }
  const std::string lhs = Gprm(C.Direct ? B(4) : B(3));
  const std::string rhs = !C.Direct && C.CompareImmediate ? Num(C.Word2) : R(5);
  const std::string head = "if ( " + lhs + cmp + rhs + " ) { " + set + (C.Direct ? Num(C.Word1) : R(2)) + " ; ";
  if (linkCode == 0 || C.Type == 5) return head + link + " }";
  return head + (C.Direct ? "} " : "}") + link;
}

}  // namespace

TNavCommand SplitNavCommand(const TNavCommandBytes& Bytes) {
  TNavCommand c;
  c.Bytes = Bytes;
  c.Type = Bytes[0] >> 5;
  c.Direct = (Bytes[0] & 0x10) != 0;
  c.SetOp = Bytes[0] & 0x0F;
  c.CompareImmediate = (Bytes[1] & 0x80) != 0;
  c.CompareOp = (Bytes[1] >> 4) & 7;
  c.SubCommand = Bytes[1] & 0x0F;
  c.Word1 = core::ReadBE16(Bytes.data() + 2);
  c.Word2 = core::ReadBE16(Bytes.data() + 4);
  c.Word3 = core::ReadBE16(Bytes.data() + 6);
  return c;
}

std::string RegisterName(uint8_t Register) {
  if (Register <= 15) return "GPRM" + Num(Register);
  if (Register >= 128 && Register <= 151) return "SPRM" + Num(Register - 128u);
  return "Invalid";
}

std::string SetOpName(uint8_t Op) {
  static constexpr const char* kNames[] = {"None", "Mov", "Swp", "Add", "Sub", "Mul",
                                           "Div",  "Mod", "Rnd", "And", "Or",  "Xor"};
  return Op <= kMaxSetOp ? kNames[Op] : "";
}

std::string CompareOpName(uint8_t Op) {
  static constexpr const char* kNames[] = {"None", "&", "==", "!=", ">=", ">", "<=", "<"};
  return Op <= kMaxCompareOp ? kNames[Op] : "";
}

std::string LinkName(uint8_t Byte) {
  static constexpr const char* kNames[32] = {
      "LinkNoLink", "LinkTopC",    "LinkNextC",   "LinkPrevC",   "",    "LinkTopPG", "LinkNextPG", "LinkPrevPG",
      "",           "LinkTopPGC",  "LinkNextPGC", "LinkPrevPGC", "LinkGoUpPGC", "LinkTailPGC", "", "",
      "RSM",        "",            "",            "",            "",    "",          "",           "",
      "",           "",            "",            "",            "",    "",          "",           ""};
  std::string name = kNames[Byte & 31];
  if (name.empty() && (Byte & 0x3C) == 0x34) name = "LinkTailPGC";
  return name;
}

std::string MenuDomainName(uint8_t MenuByte) {
  static constexpr const char* kNames[8] = {"", "FP_DOM", "Title", "Root", "Sub-picture", "Audio", "Angle", "PTT_"};
  if (!(MenuByte & 0x80) || (MenuByte & 0x0F) >= 8) return {};
  return kNames[MenuByte & 0x0F];
}

int32_t FindMenuPgcById(const DiscModel& Disc, uint8_t MenuByte, int32_t IFOIndex, int32_t& LanguageUnit) {
  LanguageUnit = -1;
  const TIFOFile* file = LoadedFile(Disc, IFOIndex);
  if (!file) return -1;
  const auto& units = file->MenuPGCI_UT.Units;
  for (size_t u = 0; u < units.size(); ++u)
    for (size_t k = 0; k < units[u].PGCs.size(); ++k) {
      const uint8_t category = units[u].PGCs[k].Category;
      if ((category & 0x80) == (MenuByte & 0x80) && (category & 0x0F) == (MenuByte & 0x0F)) {
        LanguageUnit = static_cast<int32_t>(u);
        return static_cast<int32_t>(k + 1);
      }
    }
  return -1;
}

std::string NavCommandToText(core::RunContext& Run, const DiscModel& Disc, ItemNames& Names,
                             const TNavCommandBytes& Command, const TScriptInfo& Context) {
  Names.JumpTarget.clear();
  const TNavCommand c = SplitNavCommand(Command);
  return TCommandText{Run, Disc, Names, Context, c}.Text();
}

}  // namespace tess::disc
