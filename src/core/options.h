#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace tess::core {

// The settings record, the shell's: it loads, changes and saves it, and builds
// from it the typed settings that the code below it takes (core/settings.h).
// Fields the demultiplexer uses come first; each is saved in the settings file
// under the value name in its comment.
struct TOptions {
  uint8_t DeleteSUP = 1;            // "DeleteSUP": delete *.sup and *.dat files at the end of a run
  uint8_t DeletePCM = 1;            // "DeletePCM": delete a .pcm output after its WAV conversion
  uint8_t ShowErrorMsg = 1;         // "ShowErrorMsg"
  uint8_t TitleMakeSup = 1;         // "TitleMakeSup": record title subpicture units in .dat files
  uint8_t SUPMode = 2;              // "SUPMode": a core::SupMode
  uint8_t CommonTitlesFolder = 1;   // "CommonTitlesFolder": forced to 1 on every load
  uint8_t TimeScale1001 = 0;        // "TimeScale1001": forced to 0 on every load
  uint8_t TitleMode = 1;            // "TitleMode": a core::TitleMode
  uint8_t MenuMode = 1;             // "MenuMode": a core::TitleMode, VobId or Pts
  uint8_t AdvancedMain = 0;         // "AdvancedMain"
  uint8_t AudioTimeNavigation = 1;  // "AudioTimeNavigation"
  uint8_t AddSE = 0;                // "AddSE"
  int32_t InsertAngle = 0;          // "InsertAngle": 0 keeps every angle
  uint8_t FullScan = 0;             // "FullScan": 1 full, 0 quick scanning
  int32_t AngleType = 0;            // "AngleType": a disc::SceneAngleType
  uint8_t SolidAudio = 0;           // "SolidAudio"
  int32_t RecutMode = 0;            // "RecutMode"
  uint8_t AddAudioStub = 0;         // "AddAudioStub"
  int32_t TitlePTSMode = 0;         // "PTSAudioTitleMode": 0 left, 1 center, 2 right
  int32_t MenuPTSMode = 0;          // "PTSAudioMenuMode"
  int32_t MemoryManager = 1;        // "MemoryManager": a core::MemoryMode
  uint8_t MainByTitle = 0;          // "MainByTitle"
  uint8_t CorrectVideoBitrate = 0;  // "CorrectVideoBitrate"
  uint32_t LogColorInterleaving = 0x8000;       // "LogColorInterleaving"
  uint32_t LogColorVOBScannerInfo = 0x808000;   // "LogColorVOBScannerInfo"
  uint32_t LogColorAudioPTS = 0x800000;         // "LogColorAudioPTS"
  uint32_t LogColorSlideShow = 0x800000;        // "LogColorSlideShow"
  uint32_t LogColorHLSame = 0xFF;               // "LogColorHLSame"
  int32_t AutoSaveLog = 0;          // "AutoSaveLog": a core::AutoSaveMode
  uint8_t SameHLShowLog = 1;        // "SameHLShowLog"
  uint8_t LogVisible = 1;           // "LogVisible"
  uint8_t SUPImageFormat = 0;       // "SUPImageFormat": pictures of decoded subpictures, 0 BMP, 1 PNG

  // The shell's own: where a run reads and writes.
  std::string SourcePath;           // "SourcePath"
  std::string DestinationPath;      // "DestinationPath"
  int32_t DestinationMode = 0;      // "DestinationMode": 2 writes into a subfolder
  std::string DestinationSubfolder; // "DestinationSubfolder": the candidate chosen for mode 2
  std::string ScenaristPath;        // "ScenaristPath": the authoring tool (not launched here)
  std::vector<std::string> RecentDestinations;  // "RecentDestination0".."RecentDestination9"
};

// The run's destination folder: the destination path, or with destination mode 2
// that path plus the last folder name of the chosen subfolder; it ends in "/"
// unless it is empty. Empty too for a subfolder named "." or "..", which would
// lead out of the destination.
void GetOutputFolder(const TOptions& Options, std::string& Folder);
// Why GetOutputFolder gives no folder for these settings, as a sentence naming
// the setting at fault; empty when it gives one.
std::string OutputFolderRefusal(const TOptions& Options);
// A line for a run that destination mode 2 sends into the destination itself,
// its subfolder naming no folder; empty otherwise.
std::string OutputFolderNote(const TOptions& Options);

}  // namespace tess::core
