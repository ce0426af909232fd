#include "core/number_text.h"

namespace tess::core {

std::string IntToStrZeroPad(int64_t Value, int Width) {
  std::string s = std::to_string(static_cast<uint32_t>(Value));
  if (Width > 0 && s.size() < static_cast<size_t>(Width)) s.insert(0, static_cast<size_t>(Width) - s.size(), '0');
  return s;
}

void BoolToText(bool Value, int Style, std::string& Result) {
  static const char* const kTexts[6][2] = {{"False", "True"}, {"No", "Yes"},       {"FALSE", "TRUE"},
                                           {"NO", "YES"},     {"Prohibited", "Permitted"}, {"0", "1"}};
  if (Style < 0 || Style > 5) return;
  Result = kTexts[Style][Value ? 1 : 0];
}

std::string ShortenTextLeft(const std::string& S, size_t MaxLen) {
  if (S.size() <= MaxLen) return S;
  return "..." + S.substr(S.size() - MaxLen);
}

std::string MakeTabs(uint8_t N) { return std::string(N, '\t'); }

std::string VideoStandardName(int Code) {
  if (Code == 0) return "NTSC";
  if (Code == 1) return "PAL";
  return {};
}

bool IsPalStandard(int Code) { return Code != 0; }

int ResolutionCode(int Width, int Height) {
  switch (Height) {
    case 480:
      if (Width == 704) return 1;
      if (Width == 352) return 2;
      return 0;
    case 240:
      return 3;
    case 576:
      if (Width == 720) return 4;
      if (Width == 704) return 5;
      if (Width == 352) return 6;
      return 0;
    case 288:
      return 7;
    default:
      return 0;
  }
}

int AudioCodingModeToIndex(int CodingMode) {
  switch (CodingMode) {
    case 0: return 0;
    case 2: return 1;
    case 4: return 2;
    case 6: return 3;
    default: return 4;
  }
}

}  // namespace tess::core
