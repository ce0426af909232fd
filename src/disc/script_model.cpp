#include "disc/script_model.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "core/byte_order.h"
#include "disc/disc_model.h"
#include "disc/name_tree.h"
#include "disc/run_registries.h"
#include "platform/paths.h"

namespace tess::disc {

namespace {

struct TLanguage {
  const char* Code;
  const char* Name;
};

// Spellings as the table has always had them (shown to users and written into
// names; changing one would rename tracks).
constexpr TLanguage kLanguages[] = {
    {"aa", "Afar"}, {"ab", "Abkhazian"}, {"af", "Afrikaans"}, {"am", "Ameharic"}, {"ar", "Arabic"},
    {"as", "Assamese"}, {"ay", "Aymara"}, {"az", "Azerbaijani"}, {"ba", "Bashkir"}, {"be", "Byelorussian"},
    {"bg", "Bulgarian"}, {"bh", "Bihari"}, {"bi", "Bislama"}, {"bn", "Bengali;Bangla"}, {"bo", "Tibetan"},
    {"br", "Breton"}, {"ca", "Catalan"}, {"co", "Corsican"}, {"cs", "Czech"}, {"cy", "Welsh"},
    {"da", "Danish"}, {"de", "German"}, {"dz", "Bhutani"}, {"el", "Greek"}, {"en", "English"},
    {"eo", "Esperanto"}, {"es", "Spanish"}, {"et", "Estonian"}, {"eu", "Basque"}, {"fa", "Persian"},
    {"fi", "Finnish"}, {"fj", "Fiji"}, {"fo", "Faroese"}, {"fr", "French"}, {"fy", "Frisian"},
    {"ga", "Irish"}, {"gd", "Scots Gaelic"}, {"gl", "Galician"}, {"gn", "Guarani"}, {"gu", "Gujarati"},
    {"ha", "Hausa"}, {"he", "Hebrew"}, {"hi", "Hindi"}, {"hr", "Croatian"}, {"hu", "Hungarian"},
    {"hy", "Armenian"}, {"ia", "Interlingua"}, {"id", "Indonesian"}, {"ie", "Interlingue"}, {"ik", "Inupiak"},
    {"in", "Indonesian"}, {"is", "Icelandic"}, {"it", "Italian"}, {"iu", "Inuktitut"}, {"iw", "Hebrew"},
    {"ja", "Japanese"}, {"ji", "Yiddish"}, {"jw", "Javanese"}, {"ka", "Georgian"}, {"kk", "Kazakh"},
    {"kl", "Greenlandic"}, {"km", "Cambodian"}, {"kn", "Kannada"}, {"ko", "Korean"}, {"ks", "Kashmiri"},
    {"ku", "Kurdish"}, {"ky", "Kirghiz"}, {"la", "Latin"}, {"ln", "Lingala"}, {"lo", "Laothian"},
    {"lt", "Lithuanian"}, {"lv", "Latvian,Lettish"}, {"mg", "Malagasy"}, {"mi", "Maori"}, {"mk", "Macedonian"},
    {"ml", "Malayalam"}, {"mn", "Mongolian"}, {"mo", "Moldavian"}, {"mr", "Marathi"}, {"ms", "Malay"},
    {"mt", "Maltese"}, {"my", "Burmese"}, {"na", "Nauru"}, {"ne", "Nepali"}, {"nl", "Dutch"},
    {"no", "Norwegian"}, {"oc", "Occitan"}, {"om", "(Afan)Oromo"}, {"or", "Oriya"}, {"pa", "Panjabi"},
    {"pl", "Polish"}, {"ps", "Pashto,Pushto"}, {"pt", "Portuguese"}, {"qu", "Quechua"}, {"rm", "Rhaeto-Romance"},
    {"rn", "Kirundi"}, {"ro", "Romanian"}, {"ru", "Russian"}, {"rw", "Kinyarwanda"}, {"sa", "Sanskrit"},
    {"sd", "Sindhi"}, {"sg", "Sangho"}, {"sh", "Sebro-Croatian"}, {"si", "Singhalese"}, {"sk", "Slovak"},
    {"sl", "Slovenian"}, {"sm", "Samoan"}, {"sn", "Shona"}, {"so", "Somali"}, {"sq", "Albanian"},
    {"sr", "Serbian"}, {"ss", "Siswati"}, {"st", "Sesotho"}, {"su", "Sundanese"}, {"sv", "Swedish"},
    {"sw", "Swahili"}, {"ta", "Tamil"}, {"te", "Telugu"}, {"tg", "Tajik"}, {"th", "Thai"},
    {"ti", "Tigrinya"}, {"tk", "Turkmen"}, {"tl", "Tagalog"}, {"tn", "Setwana"}, {"to", "Tonga"},
    {"tr", "Turkish"}, {"ts", "Tsonga"}, {"tt", "Tatar"}, {"tw", "Twi"}, {"ug", "Uighur"},
    {"uk", "Ukranian"}, {"ur", "Urdu"}, {"uz", "Uzbek"}, {"vi", "Vietnamese"}, {"vo", "Volapuk"},
    {"wo", "Wolof"}, {"xh", "Xhosa"}, {"yi", "Yiddish"}, {"yo", "Yoruba"}, {"za", "Zhuang"},
    {"zh", "Chinese"}, {"zu", "Zulu"},
};

const TLanguage* FindLanguage(std::string_view Code) {
  for (const TLanguage& l : kLanguages)
    if (Code == l.Code) return &l;
  return nullptr;
}

std::string CodeOfWord(uint16_t CodeWord) {
  return {static_cast<char>(CodeWord & 0xFF), static_cast<char>(CodeWord >> 8)};
}

bool IsStillOf(const TVideoTrack& T, std::string_view FileName) {
  for (const TStillEntry& s : T.Stills)
    if (s.Name == FileName) return true;
  return false;
}

}  // namespace

// ---- segments ----

std::array<uint8_t, kSubpicSegmentSize> SubpicSegmentToBytes(const TSubPictureSegment& S) {
  using core::WriteLE32;
  std::array<uint8_t, kSubpicSegmentSize> out{};
  uint8_t* p = out.data();
  WriteLE32(p + 0, 0);  // name: a text address
  WriteLE32(p + 4, S.SortKey);
  p[8] = S.Byte8;
  p[9] = S.Byte9;
  WriteLE32(p + 10, S.Value10);
  WriteLE32(p + 14, S.Duration.ToUInt32());
  p[18] = S.Byte18;
  p[19] = S.Reserved19;
  WriteLE32(p + 20, S.Value20);
  WriteLE32(p + 24, S.VobId);
  WriteLE32(p + 28, S.CellId);
  p[32] = S.Byte32;
  std::copy(S.Reserved33.begin(), S.Reserved33.end(), p + 33);
  WriteLE32(p + 36, S.TimeValue);
  WriteLE32(p + 40, S.SourceNumber);
  return out;
}

TSubPictureSegment SubpicSegmentFromBytes(const uint8_t* p) {
  using core::ReadLE32;
  TSubPictureSegment S;
  S.SortKey = ReadLE32(p + 4);
  S.Byte8 = p[8];
  S.Byte9 = p[9];
  S.Value10 = ReadLE32(p + 10);
  S.Duration = TTimeCode::FromUInt32(ReadLE32(p + 14));
  S.Byte18 = p[18];
  S.Reserved19 = p[19];
  S.Value20 = ReadLE32(p + 20);
  S.VobId = ReadLE32(p + 24);
  S.CellId = ReadLE32(p + 28);
  S.Byte32 = p[32];
  std::copy(p + 33, p + 36, S.Reserved33.begin());
  S.TimeValue = ReadLE32(p + 36);
  S.SourceNumber = ReadLE32(p + 40);
  return S;
}

// ---- name builders ----

std::string SeamlessText(bool Seamless) { return Seamless ? "Seamless" : "Non-seamless"; }

std::string MenuPgcName(int32_t IFOIndex, int32_t ChainNumber, std::string_view Letters) {
  if (IFOIndex == 0) return "VMG_" + std::string(Letters) + "_" + std::to_string(ChainNumber);
  return "LU_" + std::string(Letters) + "_V" + std::to_string(IFOIndex) + "_" + std::to_string(ChainNumber);
}

std::string TitlePgcName(int32_t IFOIndex, int32_t TitleNumber, int32_t ChainNumber) {
  return "PGC_V" + std::to_string(IFOIndex) + "_T" + std::to_string(TitleNumber) + "_" + std::to_string(ChainNumber);
}

std::string LanguageLetters(uint16_t CodeWord) {
  if (!IsLanguageCodeValid(CodeWord)) return "00";
  std::string s = CodeOfWord(CodeWord);
  if (s[0] >= 'a' && s[0] <= 'z') s[0] = static_cast<char>(s[0] - 'a' + 'A');
  return s;
}

std::string VmgPgcNameByIndex(const DiscModel& Disc, int32_t Index) {
  if (Disc.IFOFiles.empty() || Index < 1) return {};
  int32_t n = 0;
  for (const TLanguageUnit& unit : Disc.IFOFiles[0].MenuPGCI_UT.Units) {
    const uint16_t code =
        static_cast<uint16_t>(static_cast<uint8_t>(unit.LanguageCode[0]) | (static_cast<uint8_t>(unit.LanguageCode[1]) << 8));
    for (size_t k = 0; k < unit.PGCs.size(); ++k)
      if (++n == Index) return "VMG_" + LanguageLetters(code) + "_" + std::to_string(k + 1);
  }
  return {};
}

std::string IntToHexLower(uint64_t Value, int Digits) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string s;
  do {
    s.insert(s.begin(), kHex[Value & 15]);
    Value >>= 4;
  } while (Value != 0);
  if (static_cast<int>(s.size()) < Digits) s.insert(0, static_cast<size_t>(Digits) - s.size(), '0');
  return s;
}

// ---- track lookups ----

TVideoTrack* FindScriptTrackByName(RunRegistries& Reg, std::string_view Name) {
  const int32_t i = IndexOfScriptTrack(Reg, Name);
  return i < 0 ? nullptr : &Reg.ScriptTracks[static_cast<size_t>(i)];
}

int32_t IndexOfScriptTrack(const RunRegistries& Reg, std::string_view Name) {
  for (size_t i = 0; i < Reg.ScriptTracks.size(); ++i)
    if (Reg.ScriptTracks[i].Name == Name) return static_cast<int32_t>(i);
  return -1;
}

TVideoTrack* FindScriptTrackByFile(RunRegistries& Reg, std::string_view FileName, bool Still) {
  for (TVideoTrack& t : Reg.ScriptTracks)
    if (t.FileName == FileName || (Still && IsStillOf(t, FileName))) return &t;
  return nullptr;
}

int32_t FindAngleTrack(const RunRegistries& Reg, int32_t Index, int32_t Angle) {
  const auto& tracks = Reg.ScriptTracks;
  if (Index < 0 || static_cast<size_t>(Index) >= tracks.size()) return -1;
  if (tracks[static_cast<size_t>(Index)].AngleNumber == 0 || Angle < 1) return Index;
  size_t first = static_cast<size_t>(Index);
  while (first > 0 && tracks[first].AngleNumber != 1) --first;
  size_t last = first;
  while (last + 1 < tracks.size() && tracks[last + 1].AngleNumber >= 2) ++last;
  for (size_t i = first; i <= last; ++i)
    if (tracks[i].AngleNumber == Angle) return static_cast<int32_t>(i);
  // A piece with fewer angles than asked for plays its block's first one.
  return static_cast<int32_t>(first);
}

TVideoStreamEntry* FindVideoStreamOfAudioFile(RunRegistries& Reg, std::string_view FileName) {
  for (const TVideoTrack& t : Reg.ScriptTracks)
    for (const TAudioStream& a : t.AudioStreams)
      for (const TAudioPlayItem& p : a.PlayItems)
        if (p.FileName == FileName) return FindVideoStreamByName(Reg, t.FileName);
  return nullptr;
}

std::vector<THighlightPlayItem*> FindHighlightItems(RunRegistries& Reg, int32_t IFOIndex, uint32_t VobId,
                                                    uint32_t CellId, uint8_t Domain) {
  std::vector<THighlightPlayItem*> found;
  if (VobId == 0 || CellId == 0) return found;
  for (TVideoTrack& t : Reg.ScriptTracks) {
    if (t.Domain != Domain) continue;
    for (THighlightStream& s : t.HighlightStreams)
      for (THighlightPlayItem& h : s.Items)
        if (h.IFOIndex == IFOIndex && h.VobId == VobId && h.CellId == CellId) found.push_back(&h);
  }
  return found;
}

int32_t FindTitleNumber(const DiscModel& Disc, int32_t IFOIndex, int32_t TitleNumber) {
  if (Disc.IFOFiles.empty()) return 0;
  const auto& entries = Disc.IFOFiles[0].TT_SRPT.Entries;
  for (size_t i = 0; i < entries.size(); ++i)
    if (entries[i].TitleSetNumber == IFOIndex && entries[i].TitleNumber == TitleNumber + 1)
      return static_cast<int32_t>(i + 1);
  return 0;
}

std::string ProgramOfPttName(const DiscModel& Disc, const TDVDNameTree& Names, int32_t IFOIndex, int32_t TitleNumber,
                             int32_t PttNumber) {
  const TIFONameTree* tree = Names.TreeOf(IFOIndex);
  if (!tree || TitleNumber < 1 || PttNumber < 1) return {};
  const TPartOfTitleTable& ptt = Disc.IFOFiles[static_cast<size_t>(IFOIndex)].T_VTS_PTT_SRPT;
  const auto& firsts = ptt.TitleFirstIndex;
  if (static_cast<size_t>(TitleNumber) > firsts.size()) return {};
  const int64_t first = firsts[static_cast<size_t>(TitleNumber) - 1];
  int64_t end = static_cast<int64_t>(ptt.Entries.size());
  if (static_cast<size_t>(TitleNumber) < firsts.size()) end = std::min<int64_t>(end, firsts[static_cast<size_t>(TitleNumber)]);
  const int64_t index = first + PttNumber - 1;
  if (first < 0 || index >= end) return {};
  const TPartOfTitle& part = ptt.Entries[static_cast<size_t>(index)];
  TScriptInfo info;
  info.IFOIndex = IFOIndex;
  info.Domain = kDomainTitles;
  info.PgcNumber = part.PGCNumber;
  info.ProgramNumber = part.ProgramNumber;
  const TScriptName* program = tree->FindNamedItem(info, true);
  return program ? program->DisplayName() : std::string();
}

// ---- registry lookups ----

TSubPictureItem* FindSubPictureItemByName(RunRegistries& Reg, std::string_view Name) {
  if (Name.empty()) return nullptr;
  for (TSubPictureItem& s : Reg.SubPictureItems)
    if (s.Name == Name) return &s;
  return nullptr;
}

TVideoStreamEntry* FindVideoStreamByName(RunRegistries& Reg, std::string_view Name) {
  // An empty text is a prefix of every name, so it matches the first entry.
  for (TVideoStreamEntry& v : Reg.VideoStreams)
    if (std::string_view(v.Name).substr(0, Name.size()) == Name) return &v;
  return nullptr;
}

TAudioStreamEntry* FindAudioStreamByName(RunRegistries& Reg, std::string_view Name) {
  if (Name.empty()) return nullptr;
  // AC-3 and MPEG audio of one decoding stream share a name ("_c0"); a track
  // plays the MPEG audio then, as its streams take the last of a slot's outputs.
  TAudioStreamEntry* found = nullptr;
  for (TAudioStreamEntry& a : Reg.AudioStreams)
    if (a.Name == Name && (!found || platform::ToLowerAscii(platform::ExtractFileExt(a.Path)) == ".mpa")) found = &a;
  return found;
}

// ---- languages ----

std::string LanguageName(std::string_view Code) {
  const TLanguage* l = FindLanguage(Code);
  return l ? l->Name : std::string();
}

std::string LanguageDisplayName(std::string_view Code, bool Pad) {
  const TLanguage* l = (Code.size() == 2 && Code != std::string_view("\0\0", 2)) ? FindLanguage(Code) : nullptr;
  if (!l) return "Not Specified";
  std::string name = l->Name;
  if (Pad && name.size() < 12) name.append(12 - name.size(), ' ');
  return name;
}

bool IsLanguageCodeValid(uint16_t CodeWord) { return FindLanguage(CodeOfWord(CodeWord)) != nullptr; }

std::string LanguageNameFromWord(uint16_t CodeWord, bool Pad) {
  return LanguageDisplayName(IsLanguageCodeValid(CodeWord) ? CodeOfWord(CodeWord) : std::string("00"), Pad);
}

// ---- the text pool ----

uint32_t NewPooledPChar(TStringPool& Pool, uint32_t& Handle, std::string_view Text) {
  Handle = Pool.Add(Text);
  return Handle;
}

void ReleasePooledPointer(TStringPool& Pool, uint32_t& Handle) { Pool.Release(Handle); }

uint32_t ReassignPooledPChar(TStringPool& Pool, uint32_t& Handle, std::string_view Text) {
  // Copy first: Text may be the pooled text that is about to be released.
  const std::string copy(Text);
  if (Handle != 0) Pool.Release(Handle);
  return NewPooledPChar(Pool, Handle, copy);
}

// ---- record operations ----

void InitVideoTrack(TVideoTrack& Track, const TVideoStreamEntry& Entry, std::string_view FileName,
                    TTimeCode StartOffset) {
  Track.DisplayModeText = Entry.AspectText == "4 : 3 (Pan-scan)" ? "Only Panscan" : "Not Specified";
  Track.Byte9 = 0;
  Track.Value9 = 2;
  Track.FileName = std::string(FileName);
  Track.StartOffset = StartOffset;
  Track.VideoStandard = Entry.TVSystem;
  Track.FrameRateFlag = Entry.FrameRateFlag;
  Track.StartTime = Entry.StartTime;
  Track.LaterWord = 0;
}

void InitAudioStreamRecord(TAudioStream& Stream, const TAudioStreamEntry& Entry, TTimeCode Delay,
                           int32_t StreamNumber, std::string_view Name) {
  Stream.StreamNumber = StreamNumber;
  Stream.Name = std::string(Name);
  Stream.Kind = 1;
  TAudioPlayItem item;
  item.FileName = Entry.Name;
  item.Delay = Delay;
  item.VideoStandard = Entry.VideoStandard;
  item.FrameRateFlag = Entry.FrameRateFlag;
  item.Start = Entry.StartTime;
  item.Duration = Entry.EndTime;
  item.NoDelay = Entry.NoDelay;
  Stream.PlayItems.assign(1, std::move(item));
}

void AddSeamlessSceneItem(uint32_t VobId, uint32_t CellId, TVideoTrack& Track, const TVideoStreamEntry& Entry,
                          int32_t PaletteIndex) {
  TSceneItem scene;
  scene.Name = Entry.Name + "-t-s";
  scene.PaletteIndex = PaletteIndex;
  scene.SeamlessText = "Seamless";
  scene.StartTime = Entry.StartTime;
  scene.NavigationValue = 0;
  scene.CellId = CellId;
  scene.VobId = VobId;
  scene.SeamlessFlag = 0;
  Track.Scenes.assign(1, std::move(scene));
}

void CopyScriptTrack(RunRegistries& Reg, int32_t From, int32_t To) {
  auto& tracks = Reg.ScriptTracks;
  if (From < 0 || To < 0 || static_cast<size_t>(From) >= tracks.size() || From == To) return;
  if (static_cast<size_t>(To) >= tracks.size()) tracks.resize(static_cast<size_t>(To) + 1);
  const TVideoTrack& src = tracks[static_cast<size_t>(From)];
  TVideoTrack& dst = tracks[static_cast<size_t>(To)];
  // The destination keeps its own lists except the audio streams; every text
  // and list of the copy is its own, so releasing either leaves the other whole.
  TSubPictureStreamList subpictures = std::move(dst.SubPictureStreams);
  THighlightStreamsList highlights = std::move(dst.HighlightStreams);
  TScenesList scenes = std::move(dst.Scenes);
  TAngleItemsList angles = std::move(dst.AngleItems);
  TStoryScenesList stories = std::move(dst.StoryScenes);
  TStillList stills = std::move(dst.Stills);
  dst = src;
  dst.SubPictureStreams = std::move(subpictures);
  dst.HighlightStreams = std::move(highlights);
  dst.Scenes = std::move(scenes);
  dst.AngleItems = std::move(angles);
  dst.StoryScenes = std::move(stories);
  dst.Stills = std::move(stills);
}

void SortSubpicStreamSegments(TSubPictureStreamList& List) {
  for (TSubPictureStream& s : List) {
    auto& seg = s.Segments;
    for (size_t i = 0; i < seg.size(); ++i)
      for (size_t j = i + 1; j < seg.size(); ++j)
        if (seg[j].SortKey < seg[i].SortKey) std::swap(seg[i], seg[j]);
  }
}

bool FrameRateAllows(const DiscModel& Disc, const RegistrySettings& Settings, int32_t Kind) {
  return !(Kind == kDomainTitles && std::trunc(Disc.FrameRate) == 30.0 && Settings.TimeScale1001);
}

}  // namespace tess::disc
