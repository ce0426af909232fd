#pragma once
#include <cstdint>
#include <string>

namespace tess::core {

// Decimal text of Value taken as unsigned 32-bit, "0"-padded to at least Width.
std::string IntToStrZeroPad(int64_t Value, int Width);
// Style 0 True/False, 1 Yes/No, 2 TRUE/FALSE, 3 YES/NO, 4 Permitted/Prohibited,
// 5 1/0; another style leaves Result as it was.
void BoolToText(bool Value, int Style, std::string& Result);
// S, or "..." + its last MaxLen characters when it is longer.
std::string ShortenTextLeft(const std::string& S, size_t MaxLen);
std::string MakeTabs(uint8_t N);

// Codes of the authoring-script model.
std::string VideoStandardName(int Code);  // 0 "NTSC", 1 "PAL", else ""
bool IsPalStandard(int Code);
int ResolutionCode(int Width, int Height);
int AudioCodingModeToIndex(int CodingMode);

}  // namespace tess::core
