#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <vector>

// Writing an 8-bit palettised picture as a BMP or a PNG file. Both writers put
// the picture under a temporary name first and rename it into place when it is
// complete, so a failed write never leaves a picture that looks finished.
namespace tess::subpic {

using TRGBA = std::array<uint8_t, 4>;

struct TIndexedPicture {
  int32_t Width = 0;
  int32_t Height = 0;
  std::vector<uint8_t> Pixels;  // Width x Height palette indexes, top row first
  std::vector<TRGBA> Palette;   // at most 256 entries; every pixel indexes one
};

enum class TPictureFormat : uint8_t { Bmp = 0, Png = 1 };

// The file name extension of a format, without the dot.
const char* PictureExtension(TPictureFormat Format);

// Writes Picture to FileName. False (with *Error set to a reason) when the file
// cannot be written whole; nothing is then left under FileName, and errno holds
// the system's error where the file system refused it.
// A BMP keeps no transparency; a PNG keeps the palette's alpha values.
bool WriteBmp(const TIndexedPicture& Picture, const std::string& FileName, std::string* Error = nullptr);
bool WritePng(const TIndexedPicture& Picture, const std::string& FileName, std::string* Error = nullptr);
bool WritePicture(TPictureFormat Format, const TIndexedPicture& Picture, const std::string& FileName,
                  std::string* Error = nullptr);

}  // namespace tess::subpic
