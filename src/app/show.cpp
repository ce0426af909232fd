#include "app/show.h"

#include <cstdio>
#include <filesystem>
#include <memory>

#include "app/main_window_impl.h"
#include "app/options.h"
#include "app/run.h"
#include "app/usage.h"
#include "demux/menu_highlights.h"
#include "disc/script_model.h"
#include "disc/ifo_readers.h"
#include "disc/ifo_set.h"
#include "disc/nav_command_text.h"
#include "platform/paths.h"
#include "platform/prompt.h"
#include "platform/settings_store.h"
#include "app/project_state.h"

namespace tess::app {

namespace {

const char* const kShowUsage =
    "usage: tessaline show SOURCE [SOURCE...]\n"
    "  Loads SOURCE as demux does and prints what its information files hold, one\n"
    "  item a line: the unique names of language units, titles, program chains,\n"
    "  programs, cells and menu buttons, each chain's commands and where they lead,\n"
    "  the tracks and scenes, and each title set's overview. A .VTI list or loose\n"
    "  EVO files are listed by file. Loading's log lines go to stderr.\n"
    "  SOURCE   an information file or its folder, a .VTI file, or .evo files\n"
    "options:\n"
    "  --       ends the options: what follows is a SOURCE\n";
const char* const kSettingsUsage =
    "usage: tessaline settings [--settings FILE] [--set Name=Value ...]\n"
    "  Prints every setting as Name=Value under its section, as the settings file\n"
    "  holds it. A settings file that is a symbolic link stays one: its target\n"
    "  takes the values.\n"
    "options (an option's value follows it, or is given as --name=value):\n"
    "  --set Name=Value   check the value as demux --set does and save it to the\n"
    "                     settings file (repeatable); a bad value saves nothing\n"
    "  --settings FILE    the settings file (default:\n"
    "                     $XDG_CONFIG_HOME/tessaline/settings.ini)\n"
    "  --                 ends the options; settings takes no other argument\n";

// The listing, two spaces of indent per depth.
class Listing {
 public:
  void Add(int Depth, const std::string& Text) { text_.append(2 * static_cast<size_t>(Depth), ' ').append(Text) += '\n'; }
  std::string Take() { return std::move(text_); }

 private:
  std::string text_;
};

using disc::TScriptInfo;
using Commands = std::vector<disc::TNavCommandBytes>;

const std::vector<disc::THighlightButton> kNoButtons;

// One line per command: its text and, where it leads somewhere, the target's
// name. Commands of a list are numbered from 1; a lone one keeps its label.
void AddCommands(TForm1& Form, Listing& Out, int Depth, const std::string& Label, const Commands& List,
                 const TScriptInfo& Context, bool Numbered = true) {
  for (size_t i = 0; i < List.size(); ++i) {
    const std::string text = disc::NavCommandToText(Form, Form, Form, List[i], Context);
    Out.Add(Depth, Label + (Numbered ? " " + std::to_string(i + 1) : "") + ": " + text +
                       (Form.JumpTarget.empty() ? "" : "  -> " + Form.JumpTarget));
  }
}

// A chain: its pre-commands, its programs with their cells and buttons, its
// post-commands, then its cell commands, which the cells call by number.
void AddChain(TForm1& Form, Listing& Out, int Depth, const std::string& Name, const disc::TPGCTree* Tree,
              const TScriptInfo& Context) {
  Out.Add(Depth, Name);
  const disc::TPGCCommandTable* commands = Context.Pgc ? Context.Pgc->Commands.get() : nullptr;
  if (commands) AddCommands(Form, Out, Depth + 1, "pre", commands->Pre, Context);
  static const std::vector<disc::TProgramTree> kNoPrograms;
  for (const disc::TProgramTree& program : Tree ? Tree->Programs : kNoPrograms) {
    Out.Add(Depth + 1, program.Name.DisplayName());
    for (const disc::TCellTree& cell : program.Cells) {
      Out.Add(Depth + 2, cell.Name.DisplayName());
      const size_t position = static_cast<size_t>(cell.CellNumber) - 1;
      if (cell.Buttons.empty() || !Context.Pgc || position >= Context.Pgc->CellPositions.size()) continue;
      // The names were given to the cell's highlights in this order.
      const disc::TCellPosition& at = Context.Pgc->CellPositions[position];
      const auto highlights = disc::FindHighlightItems(Form, Context.IFOIndex, at.VobId, at.CellId, Context.Domain);
      for (size_t h = 0; h < cell.Buttons.size(); ++h) {
        Out.Add(Depth + 3, cell.Buttons[h].Name.DisplayName());
        for (const disc::THighlightButton& b : h < highlights.size() ? highlights[h]->Buttons : kNoButtons)
          AddCommands(Form, Out, Depth + 4, "button " + std::to_string(b.Number), {b.Command}, Context, false);
      }
    }
  }
  if (commands) {
    AddCommands(Form, Out, Depth + 1, "post", commands->Post, Context);
    AddCommands(Form, Out, Depth + 1, "cell", commands->Cell, Context);
  }
}

// What a command's text needs to know of the chain that holds it.
TScriptInfo ChainContext(int32_t IFOIndex, int32_t LanguageUnit, const disc::TPGC* Pgc, int32_t Number, uint8_t Domain) {
  TScriptInfo info;
  info.IFOIndex = IFOIndex;
  info.LanguageUnit = LanguageUnit;
  info.Pgc = Pgc;
  info.PgcNumber = Number;
  info.Domain = Domain;
  return info;
}

// Chain Number (from 1) of a chain table; null when it has none of that number.
template <class Entry>
const disc::TPGC* ChainAt(const std::vector<Entry>& Chains, int32_t Number) {
  return Number >= 1 && static_cast<size_t>(Number) <= Chains.size() ? Chains[Number - 1].PGC.get() : nullptr;
}

void AddFile(TForm1& Form, Listing& Out, const disc::TIFONameTree& Names) {
  const int32_t index = Names.IFOIndex();
  const disc::TIFOFile& rec = Form.IFOFiles[static_cast<size_t>(index)];
  const disc::TIFOTree& tree = Names.Tree();
  Out.Add(0, tree.Root.DisplayName() + "  (" + platform::ExtractFileName(rec.FileName) + ")");
  // What the command texts read of the chain being shown.
  Form.CurIFOIndex = index;
  Form.CurLanguageUnit = 0;
  Form.MenuNamePrefix = tree.Root.DisplayName() + "_PGC_";
  if (rec.FirstPlayPGC)
    AddChain(Form, Out, 1, "First play", nullptr, ChainContext(index, 0, rec.FirstPlayPGC.get(), 0, disc::kDomainMenus));

  const auto& units = rec.MenuPGCI_UT.Units;
  for (size_t u = 0; u < tree.LanguageUnits.size(); ++u) {
    Out.Add(1, tree.LanguageUnits[u].Name.DisplayName());
    Form.CurLanguageUnit = static_cast<int32_t>(u);
    for (const disc::TPGCTree& chain : tree.LanguageUnits[u].PGCs) {
      const disc::TPGC* pgc = u < units.size() ? ChainAt(units[u].PGCs, chain.TableNumber) : nullptr;
      AddChain(Form, Out, 2, chain.Name.DisplayName(), &chain,
               ChainContext(index, static_cast<int32_t>(u), pgc, chain.TableNumber, disc::kDomainMenus));
    }
  }
  Form.CurLanguageUnit = 0;

  // Every title chain, those that no title of the part-of-title table lists too.
  const auto& chains = rec.VTS_PGCIT.PGCs;
  std::vector<bool> listed(chains.size());
  for (const disc::TTitleTree& title : tree.Titles) {
    Out.Add(1, title.Name.DisplayName());
    for (const disc::TPGCTree& chain : title.PGCs) {
      if (chain.TableNumber >= 1 && static_cast<size_t>(chain.TableNumber) <= chains.size())
        listed[static_cast<size_t>(chain.TableNumber) - 1] = true;
      AddChain(Form, Out, 2, chain.Name.DisplayName(), &chain,
               ChainContext(index, 0, ChainAt(chains, chain.TableNumber), chain.TableNumber, disc::kDomainTitles));
    }
  }
  for (size_t n = 1; n <= chains.size(); ++n)
    if (!listed[n - 1])
      AddChain(Form, Out, 1, "PGC " + std::to_string(n) + " (in no title)", nullptr,
               ChainContext(index, 0, chains[n - 1].PGC.get(), static_cast<int32_t>(n), disc::kDomainTitles));

  if (!tree.Tracks.empty()) Out.Add(1, "Tracks");
  for (const disc::TTrackTree& track : tree.Tracks) {
    Out.Add(2, track.Name.DisplayName());
    for (const disc::TSceneInfo& s : track.Scenes)
      Out.Add(3, s.Name.DisplayName() + "   (VID/CID: " + std::to_string(s.VobId) + "/" + std::to_string(s.CellId) + ")");
  }

  if (rec.Kind != disc::ifoVTS) return;
  platform::GridModel grid;
  disc::ShowVTSOverview(grid, rec);
  for (int32_t row = 0; row < grid.NextRow; ++row) {
    const std::string hex = grid.Cell(2, row);
    Out.Add(1, grid.Cell(0, row) + " " + grid.Cell(1, row) + (hex.empty() ? "" : "  [" + hex + "]"));
  }
}

// Menu buttons are named after the highlights of the menus' navigation packs:
// the video manager's menu file and each title set's, read here as the names
// are built again.
void LoadMenuButtons(TForm1& Form) {
  for (int32_t i = 0; i < Form.TitleSetCount; ++i) {
    const disc::TIFOFile& rec = Form.IFOFiles[static_cast<size_t>(i)];
    if (rec.Kind == disc::ifoUnknown) continue;
    const std::string menuFile = rec.Kind == disc::ifoVMG ? "m02.evo" : "m01.evo";
    for (const std::string& f : TitleSetEvoFiles(Form, i)) {
      if (!platform::ToLowerAscii(f).ends_with(menuFile)) continue;
      disc::TVideoTrack& track = Form.ScriptTracks.emplace_back();
      track.Domain = disc::kDomainMenus;
      demux::ReadMenuHighlights(Form, Form, i, f, track.HighlightStreams.emplace_back().Items);
    }
  }
  Form.NameTree.SetIFOs(Form, Form);
}

// A form whose log lines go to stderr, so that stdout carries only the listing.
struct QuietForm {
  QuietForm() : Window(*Form) {
    Form->Prompt = &Prompt;
    Prompt.OnLog = [this](const std::string& Text) { Window.AddLogLine(core::kLogInfo, Text, platform::kColourRed); };
    Form->LogWindow.Log.OnAdd = [](const platform::LogLine& l) { std::fprintf(stderr, "%s\n", l.Caption.c_str()); };
  }
  std::unique_ptr<TForm1> Form = std::make_unique<TForm1>();
  MainWindow Window;
  platform::PolicyPrompt Prompt;
};

}  // namespace

std::string BrowserText(TForm1& Form) {
  Listing out;
  for (int32_t i = 0; i < Form.TitleSetCount; ++i) {
    const disc::TIFONameTree* names = Form.NameTree.TreeOf(i);
    const disc::TIFOFile& rec = Form.IFOFiles[static_cast<size_t>(i)];
    // A title set neither of whose copies could be read has nothing to show.
    if (names && rec.Kind != disc::ifoUnknown && !rec.InformationCorrupted) AddFile(Form, out, *names);
  }
  return out.Take();
}

int RunShowCommand(const std::vector<std::string>& Args) {
  std::vector<std::string> sources;
  bool options = true;  // "--" ends them: a file name may then start with "-"
  for (const std::string& a : Args) {
    if (options && a == "--") {
      options = false;
    } else if (options && (a == "--help" || a == "-h")) {
      PrintOut(kShowUsage);
      return kExitDone;
    } else if (options && a.size() > 1 && a[0] == '-') {
      return UsageError("show: unknown option '" + a + "'", "show");
    } else {
      sources.push_back(a);
    }
  }
  if (sources.empty()) return UsageError("show needs a SOURCE", "show");
  for (const std::string& s : sources)
    if (s.empty()) return UsageError("show: a SOURCE is an empty argument ('')", "show");
  if (const std::string mixed = MixedSourceKinds(sources); !mixed.empty()) return UsageError(mixed, "show");

  QuietForm quiet;
  TForm1& form = *quiet.Form;
  SourceSelection source;
  std::string error;
  if (!ChooseSource(sources, source, error)) {
    std::fprintf(stderr, "tessaline: %s\n", error.c_str());
    return kExitFailed;
  }
  if (!OpenSource(form, source, quiet.Window.Views)) return kExitFailed;
  int status = kExitDone;
  if (source.Kind == SourceKind::StandardContent) {
    if (!form.HDDisc)
      std::fprintf(stderr,
                   "tessaline: %s is a DVD-Video information file, read with the HD DVD table layouts: "
                   "its program chains, cells and commands may be missing or wrong\n",
                   platform::ExtractFileName(source.IFOFile).c_str());
    LoadMenuButtons(form);
    PrintOut(BrowserText(form));
    // What an HD DVD's title sets could not give leaves the listing short.
    for (int32_t i = disc::FirstTitleSetIndex(form); form.HDDisc && i < form.TitleSetCount; ++i)
      if (const disc::TIFOFile& rec = form.IFOFiles[static_cast<size_t>(i)]; rec.InformationCorrupted) {
        const int32_t n = rec.TitleSetNumber;
        std::fprintf(stderr, "tessaline: title set %d is not shown: neither %s nor %s could be read\n", n,
                     disc::TitleSetFileName(n, ".IFO").c_str(), disc::TitleSetFileName(n, ".BUP").c_str());
        status = kExitFailed;
      }
    for (const auto& sets : form.UncountedTitleSets) {
      std::fprintf(stderr, "tessaline: %s\n", disc::UncountedTitleSetsText(sets).c_str());
      status = kExitFailed;
    }
  } else {
    // A list of EVO files has no information files to browse: its files are all.
    PrintOut("EVO files\n");
    for (const std::string& f : source.EvoFiles) PrintOut("  " + platform::ExtractFileName(f) + "\n");
  }
  FlushOut();
  return status;
}

int RunSettingsCommand(const std::vector<std::string>& Args) {
  std::string file = platform::DefaultSettingsPath();
  bool named = false;
  std::vector<std::pair<std::string, std::string>> sets;
  for (size_t i = 0; i < Args.size(); ++i) {
    // "--" ends the options as it does for every command; no file may follow.
    if (Args[i] == "--") {
      if (i + 1 < Args.size()) return UsageError("settings: unknown argument '" + Args[i + 1] + "'", "settings");
      break;
    }
    const OptionArgument option = SplitOptionArgument(Args[i]);
    const std::string& a = option.Name;
    if (a == "--help" || a == "-h") {
      if (option.Value) return UsageError("settings: --help takes no value", "settings");
      PrintOut(kSettingsUsage);
      return kExitDone;
    }
    std::string value;
    if (option.Value)
      value = *option.Value;
    else if (i + 1 < Args.size() && (a == "--set" || a == "--settings"))
      value = Args[++i];
    if (a == "--settings" && !value.empty()) {
      file = value;
      named = true;
    } else if (std::pair<std::string, std::string> set; a == "--set" && SplitSettingArgument(value, set)) {
      sets.push_back(std::move(set));
    } else if (a == "--set" || a == "--settings") {
      return UsageError(a == "--set" ? "settings: --set takes Name=Value" : "settings: --settings takes a file",
                        "settings");
    } else {
      return UsageError("settings: unknown argument '" + Args[i] + "'", "settings");
    }
  }

  platform::SettingsStore store;
  // A file named only to be printed must be there, or the defaults would be
  // shown as what it holds; one named with --set is made.
  if (const int status = LoadSettingsFileForCommand(file, store, "settings", named && sets.empty()); status != kExitDone)
    return status;
  TOptions options;
  for (const std::string& w : LoadOptions(options, store)) std::fprintf(stderr, "tessaline: %s\n", w.c_str());
  for (const auto& [name, value] : sets) {
    std::string why;
    if (!SetOptionByName(options, name, value, &why)) return UsageError("settings: --set " + why, "settings");
  }
  if (!sets.empty()) {
    SaveOptionsTo(options, store);
    if (std::string why; !store.Save(file, &why)) {
      std::fprintf(stderr, "tessaline: could not write settings file %s%s\n", file.c_str(), why.c_str());
      return kExitFailed;
    }
  }
  // Without a file the values shown are no file's.
  std::error_code ec;
  const bool there = std::filesystem::exists(file, ec);
  PrintOut("; " + (there ? file : "no settings file " + file + ": the defaults are shown") + "\n[" + kSettingsKey +
           "]\n");
  for (const auto& [name, value] : OptionValues(options)) PrintOut(name + "=" + value + "\n");
  FlushOut();
  return kExitDone;
}

}  // namespace tess::app
