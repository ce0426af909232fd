#pragma once
#include <cstdint>
#include <cstring>

// Disc structures and most stream headers are big-endian. Readers take every
// multi-byte field through these, so the byte order is converted in one place.
namespace tess::core {

// Reverse 2, 4 or 8 bytes in place.
void SwapBytes16(void* p);
void SwapBytes32(void* p);
void SwapBytes64(void* p);

inline uint16_t ReadBE16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
inline uint32_t ReadBE24(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 16) | (static_cast<uint32_t>(p[1]) << 8) | p[2];
}
inline uint32_t ReadBE32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | p[3];
}
inline uint64_t ReadBE64(const uint8_t* p) {
  return (static_cast<uint64_t>(ReadBE32(p)) << 32) | ReadBE32(p + 4);
}
inline void WriteBE16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}
inline void WriteBE24(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 16);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v);
}
inline void WriteBE32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}
inline void WriteBE64(uint8_t* p, uint64_t v) {
  WriteBE32(p, static_cast<uint32_t>(v >> 32));
  WriteBE32(p + 4, static_cast<uint32_t>(v));
}

// Little-endian fields of the program's own side files.
inline uint16_t ReadLE16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t ReadLE32(const uint8_t* p) {
  return p[0] | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t ReadLE64(const uint8_t* p) {
  return ReadLE32(p) | (static_cast<uint64_t>(ReadLE32(p + 4)) << 32);
}
inline void WriteLE16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void WriteLE32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}
inline void WriteLE64(uint8_t* p, uint64_t v) {
  WriteLE32(p, static_cast<uint32_t>(v));
  WriteLE32(p + 4, static_cast<uint32_t>(v >> 32));
}
inline double ReadLEDouble(const uint8_t* p) {
  uint64_t bits = ReadLE64(p);
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}
inline void WriteLEDouble(uint8_t* p, double d) {
  uint64_t bits;
  std::memcpy(&bits, &d, sizeof bits);
  WriteLE64(p, bits);
}

}  // namespace tess::core
