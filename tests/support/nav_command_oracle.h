#pragma once
// The navigation-command oracle: dvdunauthor's reading of a DVD-Video made by
// dvdauthor (tests/data/make_navcommands.sh) with compiled and hand-built
// commands of every type, and our command texts brought to dvdauthor's language,
// spacing, number bases and register names, one entry per statement, so that
// both compare chain by chain.
#include <gtest/gtest.h>

#include <array>
#include <cctype>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace tess::test {

// The pre-, post- and cell commands of one chain, each list as one block of
// dvdauthor's command language.
struct Chain {
  std::string Pre, Post, Cell;
};

// One command text in dvdauthor's language.
inline std::string Translate(std::string T);

inline std::string TranslateList(const std::string& List) {
  std::string out;
  size_t from = 0;
  for (size_t semi; from <= List.size(); from = semi + 1) {
    semi = std::min(List.find(';', from), List.size());
    const std::string part = std::regex_replace(List.substr(from, semi - from), std::regex("^ +| +$"), "");
    if (!part.empty()) out += Translate(part);
  }
  return out;
}

inline std::string TranslateStreams(const std::string& Items) {
  static const std::regex item(" ?(audio|subpicture|angle)=(Dummy|\\d+|g\\d+)(:ON|:OFF)?,?");
  std::string out;
  for (std::sregex_iterator m(Items.begin(), Items.end(), item), end; m != end; ++m) {
    const std::string kind = (*m)[1], value = (*m)[2], onOff = (*m)[3];
    std::string v = value;
    if (value[0] != 'g' && kind != "angle")
      v = std::to_string((value == "Dummy" ? 63 : std::stoi(value) - 1) + (onOff == ":ON" ? 64 : 0));
    out += (kind == "subpicture" ? std::string("subtitle") : kind) + " = " + v + ";";
  }
  return out;
}

inline std::string Translate(std::string T) {
  static const std::pair<const char*, const char*> kForms[] = {
      {"Nop|Invalid Command|LinkNoLink", ""}, {"Exit", "exit"}, {"break", "break"}, {"RSM", "resume"},
      {"GoTo (\\d+)", "goto l$1"}, {"SetTmpPML parental:(\\d+), command:(\\d+)", "if (SetTmpPML($1)) {goto l$2;}"},
      {"JumpTT (\\d+)|JumpVTS_TT (\\d+)", "jump title $1$2"}, {"JumpSS FP_DOM", "jump fpc"},
      {"JumpVTS_PTT ptt_(\\d+) @ vts_ttn_(\\d+)", "jump title $2 chapter $1"},
      {"JumpSS pgc_(\\d+)", "jump vmgm menu $1"}, {"JumpSS (\\S+)Menu", "jump vmgm menu entry $1"},
      {"JumpSS vts_(\\d+), vts_ttn_(\\d+) : (\\S+)Menu", "jump titleset $1 menu entry $3 title=$2"},
      {"CallSS RSM=(\\d+), FP_DOM", "call fpc resume $1"}, {"CallSS RSM=(\\d+), pgc_(\\d+)", "call vmgm menu $2 resume $1"},
      {"CallSS RSM=(\\d+), (\\S+)Menu", "call menu entry $2 resume $1"},
      {"LinkTopC", "jump cell top"},       {"LinkNextC", "jump next cell"},     {"LinkPrevC", "jump prev cell"},
      {"LinkTopPG", "jump program top"},   {"LinkNextPG", "jump next program"}, {"LinkPrevPG", "jump prev program"},
      {"LinkTopPGC", "jump pgc top"},      {"LinkNextPGC", "jump next pgc"},    {"LinkPrevPGC", "jump prev pgc"},
      {"LinkGoUpPGC", "jump up pgc"},      {"LinkTailPGC", "jump pgc tail"},    {"LinkPGCN (\\d+)", "jump pgc $1"},
      {"LinkPTT (\\d+)", "jump chapter $1"}, {"LinkPGN (\\d+)", "jump program $1"}, {"LinkCN (\\d+)", "jump cell $1"},
      {"SetNVTMR NV_TMR=(\\S+), TT_PGCN=(\\S+)", "s9 = $1; s10 = $2"}, {"SetHL_BTNN HL_BTNN=(\\d+)", "button = $1k"},
      {"SetGPRMMD CounterMode (\\S+)=(\\S+)", "counter $1 = $2"}, {"SetHL_BTNN HL_BTNN=(\\S+)", "button = $1"},
      {"SetGPRMMD RegisterMode (\\S+)=(\\S+)", "register $1 = $2"}, {"Mov (\\S+), (\\S+)", "$1 = $2"},
      {"Swp (\\S+), (\\S+)", "swap($1, $2)"}, {"Rnd (\\S+), (\\S+)", "$1 = random($2)"},
      {"Add (\\S+), (\\S+)", "$1 = $1 + $2"}, {"Sub (\\S+), (\\S+)", "$1 = $1 - $2"}, {"Mul (\\S+), (\\S+)", "$1 = $1 * $2"},
      {"Div (\\S+), (\\S+)", "$1 = $1 / $2"}, {"Mod (\\S+), (\\S+)", "$1 = $1 % $2"}, {"And (\\S+), (\\S+)", "$1 = $1 and $2"},
      {"Or (\\S+), (\\S+)", "$1 = $1 or $2"}, {"Xor (\\S+), (\\S+)", "$1 = $1 xor $2"},
  };
  static const auto forms = [] {
    std::vector<std::pair<std::regex, std::string>> v;
    for (const auto& [form, dvdauthor] : kForms) v.emplace_back(std::regex(form), dvdauthor);
    return v;
  }();
  T = std::regex_replace(T, std::regex("GPRM(\\d+)"), "g$1");
  T = std::regex_replace(T, std::regex("SPRM(\\d+)"), "s$1");
  std::smatch m;
  if (std::regex_match(T, m, std::regex("if \\( (\\S+) (\\S+) (\\S+) \\) (.*)"))) {
    const std::string a = m[1], op = m[2], b = m[3];
    const std::string cond = op == "&" ? "(" + a + " and " + b + ") != 0" : a + " " + op + " " + b;
    const std::string rest = m[4];
    const size_t close = rest.rfind('}');
    const bool braced = rest.rfind("{ ", 0) == 0 && close != std::string::npos;
    if (!braced) return "if (" + cond + ") {" + Translate(rest) + "}";
    return "if (" + cond + ") {" + TranslateList(rest.substr(2, close - 2)) + "}" + TranslateList(rest.substr(close + 1));
  }
  if (T.rfind("{ ", 0) == 0) return TranslateList(T.substr(2, T.size() - 4));
  if (T.rfind("SetSTN", 0) == 0) return TranslateStreams(T.substr(6));
  if (std::regex_match(T, m, std::regex("(.*), button=(\\d+)")))
    return (m[2] == "0" ? std::string() : "button = " + m[2].str() + "k;") + Translate(m[1]);
  for (const auto& [form, dvdauthor] : forms)
    if (std::regex_match(T, form)) {
      const std::string s = std::regex_replace(T, form, dvdauthor);
      return s.empty() || s.back() == '}' ? s : s + ";";
    }
  return "?" + T + ";";
}

// Our command texts of one list as one block of dvdauthor's language, with
// the labels that its jumps name.
inline std::string DvdauthorBlock(const std::vector<std::string>& Texts) {
  std::set<std::string> targets;
  static const std::regex jump("(?:GoTo |command:)(\\d+)");
  for (const std::string& t : Texts)
    for (std::sregex_iterator m(t.begin(), t.end(), jump), end; m != end; ++m) targets.insert((*m)[1]);
  std::string out;
  for (size_t i = 0; i < Texts.size(); ++i)
    out += (targets.count(std::to_string(i + 1)) ? "l" + std::to_string(i + 1) + ":" : "") + Translate(Texts[i]);
  return out;
}

// The raw commands of one chain.
using NavCommand = std::array<uint8_t, 8>;
struct RawChain {
  std::vector<NavCommand> Pre, Post, Cell;
};

// Every chain of a VIDEO_TS.IFO or VTS_nn_0.IFO of tests/data/navcommands, in
// dvdunauthor's order (first play, menus by language unit, titles), the raw
// commands taken from the DVD-Video tables.
inline std::vector<RawChain> ReadRawChains(const std::string& Name) {
  const std::vector<uint8_t> f = ReadFileBytes(DataFile("navcommands/" + Name));
  auto u16 = [&](size_t o) -> size_t { return (f.at(o) << 8) | f.at(o + 1); };
  auto u32 = [&](size_t o) { return (u16(o) << 16) | u16(o + 2); };
  const bool vmg = Name == "VIDEO_TS.IFO";
  std::vector<size_t> chains;
  if (vmg && u32(0x84)) chains.push_back(u32(0x84));
  if (const size_t ut = 2048 * u32(vmg ? 0xC8 : 0xD0))
    for (size_t u = 0; u < u16(ut); ++u) {
      const size_t lu = ut + u32(ut + 12 + 8 * u);
      for (size_t k = 0; k < u16(lu); ++k) chains.push_back(lu + u32(lu + 12 + 8 * k));
    }
  if (const size_t pgcit = vmg ? 0 : 2048 * u32(0xCC))
    for (size_t k = 0; k < u16(pgcit); ++k) chains.push_back(pgcit + u32(pgcit + 12 + 8 * k));
  auto list = [&](size_t At, size_t Count) {
    std::vector<NavCommand> out(Count);
    for (size_t i = 0; i < Count; ++i)
      for (size_t k = 0; k < 8; ++k) out[i][k] = f.at(At + 8 * i + k);
    return out;
  };
  std::vector<RawChain> out;
  for (const size_t pgc : chains) {
    const size_t t = pgc + u16(pgc + 0xE4), pre = t > pgc ? u16(t) : 0, post = t > pgc ? u16(t + 2) : 0,
                 cell = t > pgc ? u16(t + 4) : 0;
    out.push_back({list(t + 8, pre), list(t + 8 + 8 * pre, post), list(t + 8 + 8 * (pre + post), cell)});
  }
  return out;
}

inline const char* const kNavCommandFiles[] = {"VIDEO_TS.IFO", "VTS_01_0.IFO", "VTS_02_0.IFO"};

// The chains of a "show" listing, each list of commands as one block of
// dvdauthor's language.
inline std::vector<Chain> ShownChains(const std::string& Listing) {
  static const std::regex chain(" *(First play|VMG_\\S+|LU_\\S+|PGC_\\S+)");
  static const std::regex command(" *(pre|post|cell) \\d+: (.*?)(  -> .*)?");
  std::vector<std::array<std::vector<std::string>, 3>> lists;
  std::istringstream in(Listing);
  std::smatch m;
  for (std::string line; std::getline(in, line);)
    if (std::regex_match(line, chain))
      lists.emplace_back();
    else if (std::regex_match(line, m, command) && !lists.empty())
      lists.back()[m[1] == "pre" ? 0 : m[1] == "post" ? 1 : 2].push_back(m[2]);
  std::vector<Chain> out;
  for (const auto& l : lists)
    out.push_back({DvdauthorBlock(l[0]), DvdauthorBlock(l[1]), DvdauthorBlock(l[2])});
  return out;
}

// ---- dvdunauthor's reading ----

inline std::string Between(const std::string& S, const std::string& Open, const std::string& Close, size_t& At) {
  const size_t a = S.find(Open, At);
  if (a == std::string::npos) return At = std::string::npos, "";
  const size_t b = S.find(Close, a + Open.size());
  At = b + Close.size();
  return S.substr(a + Open.size(), b - a - Open.size());
}

inline std::vector<Chain> ReadReference(const std::string& Xml) {
  const std::vector<uint8_t> bytes = ReadFileBytes(Xml);
  const std::string xml(bytes.begin(), bytes.end());
  std::vector<Chain> out;
  size_t at = 0;
  out.push_back({Between(xml, "<fpc>", "</fpc>", at), "", ""});
  while ((at = xml.find("<pgc", at)) != std::string::npos) {
    const std::string pgc = Between(xml, "<pgc", "</pgc>", at);
    Chain& c = out.emplace_back();
    size_t p = 0, q = 0;
    c.Pre = Between(pgc, "<pre>", "</pre>", p);
    c.Post = Between(pgc, "<post>", "</post>", q);
    for (size_t r = 0; (r = pgc.find("<cell", r)) != std::string::npos;)  // cells with a command
      pgc[pgc.find('>', r) - 1] == '/' ? (void)++r : (void)(c.Cell += Between(pgc, ">", "</cell>", r));
  }
  return out;
}

// A block in dvdauthor's language as a list of uniform statements.
inline std::vector<std::string> Statements(std::string S) {
  static const std::pair<const char*, const char*> kUniform[] = {
      {";\\s*<!-- title=(\\d+) -->", " title=$1;"}, {"<!--[^>]*-->", ""}, {"call vmgm menu entry", "call menu entry"},
      {"ptt_", "ptt"}, {"sub-picture", "subtitle"},
      {"\\bge\\b", ">="}, {"\\bgt\\b", ">"}, {"\\ble\\b", "<="}, {"\\blt\\b", "<"},
      {"\\bne\\b", "!="}, {"\\beq\\b", "=="}, {"\\baudio\\b", "s1"}, {"\\bsubtitle\\b", "s2"},
      {"\\bangle\\b", "s3"}, {"\\bbutton\\b", "s8"}, {"\\bregion\\b", "s20"}, {"\\s+", ""},
  };
  for (char& c : S) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (const auto& [from, to] : kUniform) S = std::regex_replace(S, std::regex(from), to);
  std::smatch hex;
  while (std::regex_search(S, hex, std::regex("0x([0-9a-f]+)")))
    S.replace(hex.position(), hex.length(), std::to_string(std::stoul(hex[1], nullptr, 16)));
  std::vector<std::string> out;
  for (size_t i = 0, end; i < S.size(); i = end + 1) {
    end = S.compare(i, 3, "if(") == 0 ? S.find('}', i) : S.find_first_of(";:", i);
    end = std::min(end, S.size() - 1);
    out.push_back(S.substr(i, end - i + 1));
  }
  return out;
}

// Ours, chain by chain in dvdunauthor's order, read as dvdunauthor reads the
// disc (its XML, by default that of tests/data/navcommands).
inline void ExpectAsDvdunauthorReads(const std::vector<Chain>& Ours,
                                     const std::string& Xml = DataFile("navcommands/dvdunauthor.xml")) {
  const std::vector<Chain> reference = ReadReference(Xml);
  ASSERT_EQ(Ours.size(), reference.size());
  for (size_t i = 0; i < Ours.size(); ++i) {
    SCOPED_TRACE("chain " + std::to_string(i));
    EXPECT_EQ(Statements(Ours[i].Pre), Statements(reference[i].Pre));
    EXPECT_EQ(Statements(Ours[i].Post), Statements(reference[i].Post));
    EXPECT_EQ(Statements(Ours[i].Cell), Statements(reference[i].Cell));
  }
}

}  // namespace tess::test
