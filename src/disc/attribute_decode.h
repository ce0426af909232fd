#pragma once
#include <array>
#include <cstdint>

// The attribute words and blocks of the information files, split into their
// fields.
namespace tess::disc {

struct RunRegistries;

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

// Picture size by TV system and resolution; also stored as the registries'
// picture size. An unknown resolution leaves Width and Height as they were.
void GetPictureSize(RunRegistries& Reg, const std::array<uint8_t, 12>& Decoded, int32_t& Width, int32_t& Height);

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

}  // namespace tess::disc
