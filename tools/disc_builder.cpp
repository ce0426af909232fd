#include "disc_builder.h"

#include <algorithm>
#include <filesystem>
#include <tuple>

namespace tess::tools {

#ifndef TESS_STREAMS_DIR
#define TESS_STREAMS_DIR "tests/data/streams"
#endif

#ifndef TESS_INSTALL_PREFIX
#define TESS_INSTALL_PREFIX "/usr/local"
#endif

// The source tree's samples; for a builder whose source tree is gone, the copy
// installed beside it (its PREFIX/share/tessaline/streams), then the one of the
// prefix it was built for.
std::vector<std::string> StreamsFolderCandidates() {
  std::vector<std::string> out = {TESS_STREAMS_DIR};
  std::error_code ec;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec) out.push_back((self.parent_path().parent_path() / "share/tessaline/streams").string());
  const std::string configured = std::string(TESS_INSTALL_PREFIX) + "/share/tessaline/streams";
  if (std::find(out.begin(), out.end(), configured) == out.end()) out.push_back(configured);
  return out;
}

std::string DefaultStreamsFolder() {
  std::error_code ec;
  for (const std::string& folder : StreamsFolderCandidates())
    if (std::filesystem::is_directory(folder, ec)) return folder;
  return TESS_STREAMS_DIR;
}

// The folder the disc goes into, said by its own name when it cannot be made
// rather than by the first file that then cannot be written into it.
static bool MakeDiscFolder(const std::string& Folder, std::string& Error) {
  std::error_code ec;
  std::filesystem::create_directories(Folder, ec);
  if (!ec) return true;
  Error = "cannot create the folder " + Folder + ": " + ec.message();
  return false;
}

namespace {

// A name the builder gives a file of its discs: "hvNNNi01.IFO" and ".BUP",
// "hvNNNmNN.evo" and "hvNNNtNN.evo", and the loose files and list of an
// Advanced Content disc.
bool IsBuilderFileName(const std::string& Name) {
  if (Name == "FEATURE_1.EVO" || Name == "FEATURE_2.EVO" || Name == "hva00001.VTI") return true;
  const auto digits = [&](size_t At, size_t Count) {
    return std::all_of(Name.begin() + static_cast<std::ptrdiff_t>(At),
                       Name.begin() + static_cast<std::ptrdiff_t>(At + Count),
                       [](char c) { return c >= '0' && c <= '9'; });
  };
  if (Name.size() != 12 || !Name.starts_with("hv") || !digits(2, 3)) return false;
  const std::string rest = Name.substr(5);
  if (rest == "i01.IFO" || rest == "i01.BUP") return true;
  return (rest[0] == 'm' || rest[0] == 't') && digits(6, 2) && rest.ends_with(".evo");
}

}  // namespace

bool ClearDiscFolder(const std::string& Folder, std::string& Error) {
  namespace fs = std::filesystem;
  std::error_code ec;
  // A FOLDER that is no folder is named when it cannot be made.
  if (!fs::is_directory(fs::symlink_status(Folder, ec))) return true;
  std::vector<fs::path> files;
  for (fs::directory_iterator it(Folder, ec), end; !ec && it != end; it.increment(ec)) files.push_back(it->path());
  if (ec) {
    Error = "cannot look into the folder " + Folder + ": " + ec.message();
    return false;
  }
  std::sort(files.begin(), files.end());
  for (const fs::path& f : files) {
    if (IsBuilderFileName(f.filename().string()) && fs::is_regular_file(fs::symlink_status(f, ec))) continue;
    Error = Folder + " holds " + f.filename().string() +
            ", which is no file of a disc this program writes: it writes a disc into a new or empty folder, or "
            "over an earlier disc of its own only";
    return false;
  }
  for (const fs::path& f : files) {
    if (!fs::remove(f, ec) && ec) {
      Error = "cannot remove " + f.string() + " of the earlier disc: " + ec.message();
      return false;
    }
  }
  return true;
}

std::vector<EvoStream> MakeDomainStreams(const StandardStreams& S, const DomainStreams& W) {
  std::vector<EvoStream> out;
  auto add = [&](bool on, const StreamSource& src, int index) {
    if (on && src.Valid()) out.push_back(MakeEvoStream(src, index));
  };
  add(W.Mpeg2, S.Mpeg2, 0);
  add(W.H264, S.H264, 0);
  add(W.Vc1, S.Vc1, 0);
  add(W.Ac3, S.Ac3, 0);
  add(W.Eac3, S.Eac3, 0);
  add(W.Dts, S.Dts, 0);
  add(W.Mlp, S.Mlp, 0);
  add(W.TrueHd, S.TrueHd, W.Mlp ? 1 : 0);  // MLP and TrueHD share a substream range
  add(W.Mpa, S.Mpa, 0);
  add(W.Lpcm16, S.Lpcm16, 0);
  add(W.Lpcm24, S.Lpcm24, W.Lpcm16 ? 1 : 0);
  add(W.Subpicture, S.Subpicture, 0);
  return out;
}

namespace {

// One GOP of the PAL sample video: 12 pictures at 25 fps.
constexpr uint32_t kPalGopTicks = 12 * 3600;

ProgramChainSpec ChainOver(std::vector<int> cells, uint8_t category, int audioStreams, bool subpicture) {
  ProgramChainSpec pgc;
  pgc.Cells = std::move(cells);
  pgc.Category = category;
  for (int i = 0; i < audioStreams && i < 8; ++i) pgc.AudioControl[i] = static_cast<uint16_t>(0x8000 | (i << 8));
  // Stream 0 shows in every display mode as decoding stream 0.
  if (subpicture) pgc.SubpicControl[0] = 0x80000000u;
  // A grey-step subtitle palette: black, white, two greys, then zeros (defaults).
  pgc.Palette[0] = {0, 16, 128, 128};
  pgc.Palette[1] = {0, 235, 128, 128};
  pgc.Palette[2] = {0, 180, 128, 128};
  pgc.Palette[3] = {0, 126, 128, 128};
  pgc.PostCommands.push_back({0x30, 0x02, 0, 0, 0, 1, 0, 0});
  return pgc;
}

CellSpec Cell(uint16_t vob, uint8_t cell, int vobus) {
  CellSpec c;
  c.VobId = vob;
  c.CellId = cell;
  c.VobuCount = vobus;
  return c;
}

DomainSpec OneCellDomain(uint16_t vob, int vobus) {
  DomainSpec d;
  d.Cells.push_back(Cell(vob, 1, vobus));
  return d;
}

}  // namespace

DiscSpec MakeSampleDiscSpec(const SampleDiscOptions& Options) {
  DiscSpec disc;
  disc.HD = Options.HD;
  disc.FrameRate = Options.FrameRate;
  const bool pal = Options.FrameRate == 25;
  // MPEG-2, 16:9, 720 wide; the TV system follows the rate.
  const uint16_t video = pal ? 0x005C : 0x004C;
  disc.VmgMenuVideoAttr = video;

  disc.FirstPlay = OneCellDomain(1, 2);
  disc.FirstPlay.PGCs.push_back(ChainOver({0}, 0x80, 1, true));
  disc.VmgMenu = OneCellDomain(1, 2);
  disc.VmgMenu.PGCs.push_back(ChainOver({0}, 0x82, 1, true));

  for (int n = 1; n <= Options.TitleSets; ++n) {
    TitleSetSpec ts;
    ts.MenuVideoAttr = ts.TitleVideoAttr = video;
    ts.Menu = OneCellDomain(1, 2);
    ts.Menu.PGCs.push_back(ChainOver({0}, 0x83, 1, true));
    // AC-3, E-AC-3, DTS, MLP, MPEG audio, LPCM: coding modes 0, 0, 6, 4?, 2, 4.
    const uint8_t modes[] = {0x00, 0x00, 0xC0, 0x80, 0x40, 0x80};
    for (uint8_t m : modes) ts.TitleAudioAttrs.push_back({m, 0x01, 'e', 'n', 0, 0, 0, 0});
    ts.TitleSubpicAttrs.push_back({0x01, 0, 'e', 'n', 0, 1});
    ts.MenuSubpicAttrs.push_back({0x01, 0, 'e', 'n', 0, 1});

    DomainSpec& t = ts.Titles;
    t.MaxFileSectors = Options.MaxFileSectors;
    if (n == 1) {
      for (uint8_t c = 1; c <= 3; ++c) t.Cells.push_back(Cell(1, c, 2));
      for (uint8_t a = 1; a <= 3; ++a) {
        CellSpec angle = Cell(static_cast<uint16_t>(1 + a), 1, 2);
        angle.Angle = a;
        angle.AngleSeamless = true;
        angle.Seamless = true;
        t.Cells.push_back(angle);
      }
      t.Cells.push_back(Cell(5, 1, 3));
      // Title 1 plays VOB 1, angle 1 of the block and VOB 5; title 2 is VOB 5 alone.
      ProgramChainSpec main = ChainOver({0, 1, 2, 3, 4, 5, 6}, 0x81, 6, true);
      main.ProgramEntries = {1, 2, 3, 4, 7};
      t.PGCs.push_back(main);
      t.PGCs.push_back(ChainOver({6}, 0x82, 6, true));
    } else {
      t.Cells.push_back(Cell(1, 1, 2));
      t.Cells.push_back(Cell(1, 2, 2));
      t.PGCs.push_back(ChainOver({0, 1}, 0x81, 6, true));
    }
    disc.TitleSets.push_back(std::move(ts));
  }
  // A PAL VOBU is one GOP of the PAL sample video, as a multiplexer lays it
  // out: every VOB then starts with the sequence header of a closed GOP,
  // however far the cells grow.
  if (pal) {
    for (DomainSpec* d : {&disc.FirstPlay, &disc.VmgMenu}) d->VobuTicks = kPalGopTicks;
    for (TitleSetSpec& ts : disc.TitleSets) ts.Menu.VobuTicks = ts.Titles.VobuTicks = kPalGopTicks;
  }
  return disc;
}

DiscBuildSummary BuildStandardDisc(const std::string& Folder, DiscSpec& Spec, const StandardStreams& Sources,
                                   const DiscBuildOptions& Options) {
  DiscBuildSummary out;
  if (!MakeDiscFolder(Folder, out.Error)) return out;
  // A PAL disc carries PAL video.
  StandardStreams palSources;
  const bool pal = Spec.FrameRate == 25 && Sources.Mpeg2Pal.Valid();
  if (pal) {
    palSources = Sources;
    palSources.Mpeg2 = Sources.Mpeg2Pal;
  }
  auto menuStreams = MakeDomainStreams(pal ? palSources : Sources, Options.MenuStreams);
  auto titleStreams = MakeDomainStreams(pal ? palSources : Sources, Options.TitleStreams);
  if (Options.AdjustStream) {
    for (EvoStream& s : menuStreams) Options.AdjustStream(s);
    for (EvoStream& s : titleStreams) Options.AdjustStream(s);
  }
  EvoBuildOptions evo = Options.Evo;
  evo.FrameRate = Spec.FrameRate;

  // What is the matter is said of the domain as a user knows it, not by its key.
  auto build = [&](const std::string& key, const std::string& what, DomainSpec& domain, const std::string& stem,
                   int first, const std::vector<EvoStream>& streams) {
    if (domain.Empty()) return true;
    EvoBuildSummary s = BuildDomainEvos(Folder, domain, stem, first, streams, evo);
    for (const auto& f : s.Files) out.Files.push_back(f.Path);
    const bool ok = s.Ok;
    if (!ok) out.Error = what + ": " + s.Error;
    out.Evo[key] = std::move(s);
    return ok;
  };

  // Sized before anything is written, so a size that cannot be reached leaves
  // no files behind.
  if (Options.TitleBytes > 0 && !Spec.TitleSets.empty()) {
    std::string why;
    if (!FitDomainToSize(Spec.TitleSets[0].Titles, titleStreams, Options.TitleBytes, &why)) {
      out.Error = "title set 1 cannot be fitted to the size asked for: " + why;
      return out;
    }
  }
  if (!build("fp", "the first-play chain", Spec.FirstPlay, "hv000m", 1, menuStreams)) return out;
  if (!build("vmgm", "the video manager's menus", Spec.VmgMenu, "hv000m", 2, menuStreams)) return out;
  for (size_t i = 0; i < Spec.TitleSets.size(); ++i) {
    const int n = static_cast<int>(i + 1);
    TitleSetSpec& ts = Spec.TitleSets[i];
    const std::string stem = DiscFileName(n, ""), set = "title set " + std::to_string(n);
    if (!build("vts" + std::to_string(n) + "-menu", set + "'s menus", ts.Menu, stem + "m", 1, menuStreams)) return out;
    if (!build("vts" + std::to_string(n) + "-titles", set + "'s titles", ts.Titles, stem + "t", 1, titleStreams))
      return out;
  }
  // The domains are sized now, so the tables are laid out over the same sectors.
  out.Ifo = WriteIfoSet(Folder, Spec, Options.Ifo);
  std::vector<const IfoFileSummary*> written = {&out.Ifo.Vmg};
  for (const IfoFileSummary& ts : out.Ifo.TitleSets) written.push_back(&ts);
  for (const IfoFileSummary* s : written) {
    // A file left out on purpose is no failure; one that could not be written is.
    for (const auto& [name, done, damage] : {std::tuple{s->IfoName, s->IfoWritten, s->Damage.Ifo},
                                             std::tuple{s->BupName, s->BupWritten, s->Damage.Bup}}) {
      if (done) {
        out.Files.push_back(Folder + "/" + name);
      } else if (damage != IfoDamage::Missing) {
        out.Error = "cannot write " + Folder + "/" + name;
        return out;
      }
    }
  }
  out.Ok = true;
  return out;
}

DiscBuildSummary BuildAdvancedDisc(const std::string& Folder, const std::string& VTIName,
                                   std::vector<std::pair<std::string, DomainSpec>>& Evos,
                                   const StandardStreams& Sources, const DiscBuildOptions& Options) {
  DiscBuildSummary out;
  if (!MakeDiscFolder(Folder, out.Error)) return out;
  auto streams = MakeDomainStreams(Sources, Options.TitleStreams);
  if (Options.AdjustStream)
    for (EvoStream& s : streams) Options.AdjustStream(s);
  if (Options.TitleBytes > 0 && !Evos.empty()) {
    std::string why;
    if (!FitDomainToSize(Evos[0].second, streams, Options.TitleBytes, &why)) {
      out.Error = Evos[0].first + " cannot be fitted to the size asked for: " + why;
      return out;
    }
  }
  std::vector<std::string> names;
  for (auto& [name, spec] : Evos) {
    EvoBuildSummary s = BuildLooseEvo(Folder, name, spec, streams, Options.Evo);
    if (!s.Ok) {
      out.Error = name + ": " + s.Error;
      return out;
    }
    for (const auto& f : s.Files) out.Files.push_back(f.Path);
    out.Evo[name] = std::move(s);
    names.push_back(name);
  }
  if (!VTIName.empty()) {
    const std::string vti = Folder + "/" + VTIName;
    if (!WriteVtiList(vti, names)) {
      out.Error = "cannot write " + vti;
      return out;
    }
    out.Files.push_back(vti);
  }
  out.Ok = true;
  return out;
}

}  // namespace tess::tools
