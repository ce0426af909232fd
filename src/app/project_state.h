#pragma once
#include <array>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "app/options.h"
#include "app/vts_list.h"
#include "core/log.h"
#include "disc/highlights.h"
#include "disc/ifo_model.h"
#include "disc/registries.h"
#include "disc/script_model.h"
#include "disc/subpic_streams.h"
#include "disc/vob_scout.h"
#include "platform/prompt.h"
#include "platform/pump.h"
#include "platform/ui_models.h"
#include "subpic/services.h"

namespace tess::demux {
class TIFOData;
}
namespace tess::core {
class TStreamFinisher;
}

namespace tess::app {

using RGBTriple = std::array<uint8_t, 3>;

// The project state: the parsed disc, the settings, the run flags and the
// registries of what a run wrote. One instance lives for the whole process; every
// routine that needs it takes it by reference. It is large (the title-set array
// alone is several megabytes): make it with std::make_unique.
struct TForm1 {
  TForm1() = default;
  ~TForm1() = default;
  TForm1(const TForm1&) = delete;
  TForm1& operator=(const TForm1&) = delete;

  // ---- the windows the program writes into ----
  TfrmMain* MainWindow = nullptr;        // set by the shell; never owned here
  platform::Prompt* Prompt = nullptr;    // answers every question; set by the shell
  platform::Pump Pump;                   // pumped where the long loops pump
  core::TfrmLog LogWindow;
  core::TInfoForm InfoForm;
  platform::StatusPanels StatusBar1;
  platform::ProgressBar ProgressBar1;    // handed to the video analyser runs
  platform::ProgressBar StatusProgress;  // the bar inside the status bar (scout, loose EVO, tracks)
  platform::GridModel StringGrid1;       // the information grid
  platform::TreeModel TreeView7;         // the scout's tree
  platform::TreeModel TreeView1;         // the information-file browser
  platform::TreeModel TreeView2;
  platform::Clipboard Clipboard;
  TVTSListForm VTSListForm;
  disc::TSubPicInfoForm SubPicInfoForm;

  // ---- the parsed disc ----
  int32_t TitleSetCount = 0;  // information files loaded, the VMG included
  std::vector<disc::TIFOFile> IFOFiles = std::vector<disc::TIFOFile>(disc::kMaxIFOFiles);
  double FrameRate = 30;      // 25, 29.97 or 30
  uint8_t HDDisc = 0;
  uint8_t LooseEvo = 0;
  int32_t PictureWidth = 0;
  int32_t PictureHeight = 0;
  std::array<RGBTriple, 16> DefaultPalette{};
  disc::TObjectTables ObjectTables;

  // ---- settings ----
  TOptions Options;
  std::string SettingsFile;  // where the options are loaded from and saved to

  // ---- run flags and counters ----
  uint8_t Abort = 0;  // non-zero stops every long loop
  demux::TIFOData* CurrentDemux = nullptr;
  core::TStreamFinisher* StreamFinisher = nullptr;  // finishes closed ".sup"/".pcm" outputs; none: nothing
  std::array<uint8_t, 4> CurrentColours{};
  std::array<uint8_t, 4> CurrentContrasts{};
  int64_t AC3PayloadCount = 0;
  int32_t SubpicUnitCount = 0;
  int32_t SlideShowNumber = 0;
  std::vector<std::string> DatFiles;  // ".dat" index files written in the run

  // ---- what the navigation-command texts need ----
  std::string JumpTarget;
  int32_t CurIFOIndex = 0;
  int32_t CurLanguageUnit = 0;
  int32_t CurTitleNumber = 0;
  std::string MenuNamePrefix;

  // ---- registries and the authoring-script model ----
  // Deques: registrations and new tracks hand out references that must stay
  // valid while the tables grow (appending to a deque moves no element).
  std::deque<disc::TVideoStreamEntry> VideoStreams;
  std::deque<disc::TAudioStreamEntry> AudioStreams;
  std::deque<disc::TSubPictureItem> SubPictureItems;
  disc::TSubPictureItem SpareSubPicture;
  disc::TScriptData ScriptData;
  std::deque<disc::TVideoTrack> ScriptTracks;
  disc::TPalettes Palettes;
  disc::TAngleBlockLists AngleLists;  // per-domain angle blocks of the title set built last
  disc::TStringPool StringPool;
  disc::TVobScoutRegistry Scouts;
  subpic::TDataStrings DataStrings;
  // The subpicture unit's title-name lists, 1 .. TitleSetCount (0 unused).
  std::vector<disc::TNameList> TitleNameLists;

  // ---- helpers that every subsystem uses ----
  // The log writer of the main window, when one is attached.
  void Log(int32_t Kind, std::string_view Text, uint32_t Colour = 0) {
    if (MainWindow) MainWindow->AddLogLine(Kind, Text, Colour);
  }
  void ProcessMessages() {
    if (MainWindow)
      MainWindow->ProcessMessages();
    else
      Pump.Run();
  }
  bool Aborted() const { return Abort != 0; }
};

// ---- small services of the shell that the disc and stream code call ----
// Kept inline: the subsystems below the shell call them, and they need nothing
// of the shell but the project state's fields.

// Decoded video attribute: [0] coding mode, [1] TV system, [2] aspect, [3] [4]
// display-permission flags, [5] [6] line-21 flags, [7] [8], [9] resolution,
// [10] letterboxed, [11] film/camera mode. Attr's low byte is its first stored byte.
inline void DecodeVideoAttr(uint16_t Attr, std::array<uint8_t, 12>& Out) {
  const uint8_t b0 = static_cast<uint8_t>(Attr & 0xFF);
  const uint8_t b1 = static_cast<uint8_t>(Attr >> 8);
  Out[0] = (b0 >> 6) & 3;
  Out[1] = (b0 >> 4) & 3;
  Out[2] = (b0 >> 2) & 3;
  Out[3] = (b0 >> 1) & 1;
  Out[4] = b0 & 1;
  Out[5] = (b1 >> 7) & 1;
  Out[6] = (b1 >> 6) & 1;
  Out[7] = (b1 >> 5) & 1;
  Out[8] = (b1 >> 4) & 1;
  Out[9] = (b1 >> 2) & 3;
  Out[10] = (b1 >> 1) & 1;
  Out[11] = b1 & 1;
}

// Picture size by TV system and resolution; also stored in the project state.
// An unknown resolution leaves Width and Height as they were.
inline void GetPictureSize(TForm1& Form, const std::array<uint8_t, 12>& Decoded, int32_t& Width,
                           int32_t& Height) {
  static constexpr int32_t kWidths[4] = {720, 704, 352, 352};
  const bool pal = Decoded[1] != 0;
  const uint8_t res = Decoded[9];
  if (res < 4) {
    Width = kWidths[res];
    Height = res == 3 ? (pal ? 288 : 240) : (pal ? 576 : 480);
  }
  Form.PictureWidth = Width;
  Form.PictureHeight = Height;
}

// Decoded audio attribute of 8 stored bytes.
inline void DecodeAudioAttr(const uint8_t* Attr, std::array<uint8_t, 11>& Out) {
  Out[0] = (Attr[0] >> 5) & 7;
  Out[1] = (Attr[0] >> 4) & 1;
  Out[2] = (Attr[0] >> 2) & 3;
  Out[3] = Attr[0] & 3;
  Out[4] = (Attr[1] >> 6) & 3;
  Out[5] = (Attr[1] >> 4) & 3;
  Out[6] = Attr[1] & 7;
  Out[7] = Attr[2];
  Out[8] = Attr[3];
  Out[9] = Attr[4];
  Out[10] = Attr[5];
}

// A cleared subpicture attribute block with its "not set" bytes at 255.
inline void InitSubpicAttrBlock(std::array<uint8_t, 24>& Block) {
  Block.fill(0);
  Block[3] = Block[4] = Block[5] = Block[15] = Block[23] = 255;
}

// Writes Name, Value and Hex into the information grid's next row, adding a row
// when the grid is full.
inline void AddInfoGridRow(TForm1& Form, const std::string& Name, const std::string& Value,
                           const std::string& Hex) {
  auto& g = Form.StringGrid1;
  if (g.NextRow >= g.RowCount) g.RowCount = g.NextRow + 1;
  g.SetCell(0, g.NextRow, Name);
  g.SetCell(1, g.NextRow, Value);
  g.SetCell(2, g.NextRow, Hex);
  ++g.NextRow;
}

// The run's destination folder, ending in "/" unless empty.
inline void GetOutputFolder(const TForm1& Form, std::string& Folder) {
  Folder = Form.Options.DestinationPath;
  if (Form.Options.DestinationMode == 2 && !Form.Options.DestinationSubfolder.empty()) {
    std::string sub = Form.Options.DestinationSubfolder;
    while (!sub.empty() && sub.back() == '/') sub.pop_back();
    const size_t slash = sub.find_last_of('/');
    if (!Folder.empty() && Folder.back() != '/') Folder += '/';
    Folder += slash == std::string::npos ? sub : sub.substr(slash + 1);
  }
  if (!Folder.empty() && Folder.back() != '/') Folder += '/';
}

// "File size: " + the size in whole Gb, Mb or Kb.
inline void FormatFileSize(const std::string& FileName, std::string& Text) {
  std::error_code ec;
  const uint64_t size = std::filesystem::file_size(FileName, ec);
  const uint64_t kb = ec ? 0 : size / 1024;
  if (kb > 1048576)
    Text = "File size: " + std::to_string(size >> 30) + " Gb";
  else if (kb > 1024)
    Text = "File size: " + std::to_string(size >> 20) + " Mb";
  else
    Text = "File size: " + std::to_string(kb) + " Kb";
}

}  // namespace tess::app
