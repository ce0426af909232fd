#pragma once
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "core/run_context.h"
#include "disc/disc_model.h"
#include "disc/name_tree.h"
#include "disc/run_registries.h"
#include "disc/vob_scout.h"
#include "platform/ui_models.h"
#include "state/run_settings.h"
#include "state/run_state.h"
#include "demux/demux_env.h"
#include "subpic/sup_decoder.h"
#include "platform/file_io.h"

// What every fuzz target needs: a context without a window (log lines go
// nowhere) and a scratch folder to hand the bytes to routines that read files.
namespace tess::fuzz {

struct Form : core::RunContext, disc::DiscModel, disc::RunRegistries, disc::ItemNames {
  platform::GridModel StringGrid1;
  platform::TreeModel TreeView7;
  disc::ScanSettings Scan;
  subpic::SubpicSettings Subpic;
};

// What the demultiplexer's environment is made of, for the targets that drive it.
struct DemuxForm : core::RunContext, disc::DiscModel, disc::RunRegistries, state::RunState {
  state::RunSettings Settings;
  demux::TDemuxEnv Env() { return demux::MakeDemuxEnv(*this, *this, *this, *this, Settings); }
};

inline Form& SharedForm() {
  static auto* form = new Form;  // one per process; the targets reset what they use
  return *form;
}

// A private scratch folder, made once per process and removed with everything
// in it when the process exits. Without one the files go to the temporary
// folder itself, which is never removed.
inline const std::string& ScratchFolder() {
  static const std::string folder = [] {
    const char* base = std::getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/tessaline-fuzz-XXXXXX";
    if (::mkdtemp(tmpl.data()) == nullptr) return std::string("/tmp");
    static const std::string made = tmpl;  // made before the handler is set, so it outlives it
    std::atexit([] { std::error_code ec; std::filesystem::remove_all(made, ec); });
    return tmpl;
  }();
  return folder;
}

// A file in the scratch folder holding Data; the same name each call.
inline std::string ScratchFile(const std::string& Name, const uint8_t* Data, size_t Size) {
  const std::string path = ScratchFolder() + "/" + Name;
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  // An input the scratch file cannot hold whole would be read as another one.
  if (fd < 0 || !platform::WriteFull(fd, Data, Size) || ::close(fd) != 0) {
    std::perror(path.c_str());
    std::exit(1);
  }
  return path;
}

// What the registries and views collect from one input; cleared before the
// next, so that a long run does not grow (and the leak check finds nothing
// held over).
inline void ForgetRun(disc::RunRegistries& Reg) {
  Reg.VideoStreams = {};
  Reg.AudioStreams = {};
  Reg.SubPictureItems = {};
  Reg.ScriptTracks = {};
  Reg.DatFiles = {};
  Reg.Scouts = {};
  Reg.DataStrings = {};
  Reg.StringPool = {};
}
inline void ForgetRun(Form& F) {
  ForgetRun(static_cast<disc::RunRegistries&>(F));
  F.TreeView7 = {};
  F.StringGrid1.Clear();
}

}  // namespace tess::fuzz
