#pragma once
#include <cstdint>
#include <string>

// The settings as the code below the shell takes them: one small struct per
// consumer, built by the shell from the settings record (TOptions) when the
// settings are loaded or changed and at the start of every run, and handed down
// by const reference. The value names in the comments are the settings file's.
// Structs of the disc and subpicture layers: disc::ScanSettings,
// disc::RegistrySettings, subpic::SubpicSettings.
namespace tess::core {

// How a domain's outputs are cut and named ("TitleMode"; "MenuMode" takes
// VobId or Pts).
enum class TitleMode : uint8_t {
  None = 0,      // not offered by the settings; every cell is then named on its own
  VobId = 1,     // "VobID"
  Main = 2,      // "Main", also "Advanced Main mode" and "Main mode by every title"
  AutoMain = 3,  // "Auto Main detection": the title set that plays longest runs in Main mode
  Pts = 4,       // "PTS": audio is cut at VOB starts by its time stamps
};

// "SUPMode": what becomes of the title subpictures kept in ".sup" and ".dat" files.
enum class SupMode : uint8_t {
  FilesOnly = 0,   // "Create *.sup and *.dat files only"
  WithSst = 1,     // "... and make *.sst files"
  IntoScript = 2,  // "Insert SubPictures into script"
};

// "MemoryManager": how much memory the outputs of a domain may hold.
enum class MemoryMode : int32_t {
  Ordinary = 1,     // "Ordinary DVD": large output buffers
  ComplexDisc = 2,  // "Complex DVD": small buffers; title subpictures go straight to their files
};

// "AutoSaveLog": when the run's log is saved into the output folder.
enum AutoSaveMode : int32_t { kAutoSaveNever = 0, kAutoSaveAtFinish = 1, kAutoSaveAlways = 2 };

// The file streams and the saving of the log.
struct OutputSettings {
  MemoryMode Memory = MemoryMode::Ordinary;
  AutoSaveMode AutoSaveLog = kAutoSaveNever;
  // The run's destination folder (GetOutputFolder): ends in "/" unless empty.
  std::string Folder;
  bool operator==(const OutputSettings&) const = default;
};

// The demultiplexer: the chain driver, the writers, the finishing of their
// outputs, the navigation handling, the audio delays and the subpicture results.
struct DemuxSettings {
  TitleMode Titles = TitleMode::VobId;        // "TitleMode"
  TitleMode Menus = TitleMode::VobId;         // "MenuMode"
  MemoryMode Memory = MemoryMode::Ordinary;   // "MemoryManager"
  SupMode Subpictures = SupMode::IntoScript;  // "SUPMode"
  bool TitleMakeSup = true;          // "TitleMakeSup": title subpicture units are indexed in ".dat" files
  bool TimeScale1001 = false;        // "TimeScale1001": title cell times at a rate of 30 scaled by 1.001
  bool AudioTimeNavigation = true;   // "AudioTimeNavigation": start times from the navigation pack
  int32_t TitlePtsMode = 0;          // "PTSAudioTitleMode": 0 left, 1 center, 2 right
  int32_t MenuPtsMode = 0;           // "PTSAudioMenuMode"
  bool SameHLShowLog = true;         // "SameHLShowLog": a highlight met again is logged
  uint32_t AudioPtsColour = 0x800000;   // "LogColorAudioPTS"
  uint32_t SameHighlightColour = 0xFF;  // "LogColorHLSame"
  bool DeletePcm = true;             // "DeletePCM": a finished ".pcm" output goes once its WAV is made
  bool operator==(const DemuxSettings&) const = default;
};

// The post-processing: the track preparation, the slide shows and the audio
// export of the title sets.
struct TrackSettings {
  TitleMode Titles = TitleMode::VobId;  // "TitleMode"
  bool AdvancedMain = false;  // "AdvancedMain": in Main mode a cell that starts a chain of its own starts a track
  bool MainByTitle = false;   // "MainByTitle": the cells are split into tracks title by title
  bool AddSE = false;         // "AddSE": a sequence end is added to an interleaved video without one
  int32_t InsertAngle = 0;    // "InsertAngle": the angle kept (1..9); 0 keeps every angle
  bool TitleMakeSup = true;   // "TitleMakeSup"
  bool SolidAudio = false;    // "SolidAudio": a solid audio file instead of audio copied and recut
  int32_t RecutMode = 0;      // "RecutMode": 0 automatically, 1 seamlessly, 2 non-seamlessly
  bool AddAudioStub = false;  // "AddAudioStub": one frame of audio into the empty audio streams
  uint32_t SlideShowColour = 0x800000;  // "LogColorSlideShow"
  bool operator==(const TrackSettings&) const = default;
};

}  // namespace tess::core
