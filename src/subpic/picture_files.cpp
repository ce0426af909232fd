#include "subpic/picture_files.h"

#include <fcntl.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "core/byte_order.h"
#include "platform/file_io.h"

namespace tess::subpic {

namespace {

bool Fail(std::string* Error, std::string Reason) {
  if (Error) *Error = std::move(Reason);
  return false;
}

// Fails with the system's reason for Err and leaves Err in errno, whatever the
// clean-up did to it: the caller tells a full disk from other failures by it.
bool FailWith(std::string* Error, int Err) {
  Fail(Error, std::strerror(Err));
  errno = Err;
  return false;
}

bool PictureIsSound(const TIndexedPicture& P, std::string* Error) {
  if (P.Width <= 0 || P.Height <= 0) return Fail(Error, "empty picture");
  if (P.Palette.empty() || P.Palette.size() > 256) return Fail(Error, "palette of " + std::to_string(P.Palette.size()) + " entries");
  if (P.Pixels.size() != static_cast<size_t>(P.Width) * static_cast<size_t>(P.Height))
    return Fail(Error, "pixel count does not match the size");
  return true;
}

// Moves a complete temporary file into place; removes it when that fails.
bool PutInPlace(const std::string& Temp, const std::string& FileName, std::string* Error) {
  if (::rename(Temp.c_str(), FileName.c_str()) != 0) {
    const int err = errno;
    ::unlink(Temp.c_str());
    return FailWith(Error, err);
  }
  return true;
}

// Writes a picture file made whole in memory with one write, through a
// temporary file that takes its place only when complete. The temporary's name
// is one no file has: a file of the name it would otherwise take may be
// anyone's.
bool WriteWholeFile(const uint8_t* Data, size_t Size, const std::string& FileName, std::string* Error) {
  std::string temp = FileName + ".tmp-XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) return FailWith(Error, errno);
  // mkstemp makes the file private; a picture is as readable as any output.
  [[maybe_unused]] const int modeSet = ::fchmod(fd, 0644);
  bool ok = platform::WriteFull(fd, Data, Size);
  int err = ok ? 0 : errno;
  if (::close(fd) != 0 && ok) ok = false, err = errno;
  if (!ok) {
    ::unlink(temp.c_str());
    return FailWith(Error, err);
  }
  return PutInPlace(temp, FileName, Error);
}

// ---- BMP ----

constexpr uint32_t kBmpFileHeaderSize = 14;
constexpr uint32_t kBmpInfoHeaderSize = 40;
constexpr int32_t kBmpPixelsPerMetre = 2835;  // 72 dots per inch

}  // namespace

const char* PictureExtension(TPictureFormat Format) { return Format == TPictureFormat::Png ? "png" : "bmp"; }

bool WriteBmp(const TIndexedPicture& P, const std::string& FileName, std::string* Error) {
  using core::WriteLE16;
  using core::WriteLE32;
  if (!PictureIsSound(P, Error)) return false;
  const uint32_t colours = static_cast<uint32_t>(P.Palette.size());
  const uint32_t stride = (static_cast<uint32_t>(P.Width) + 3) & ~3u;  // rows are padded to 4 bytes
  const uint32_t pixelStart = kBmpFileHeaderSize + kBmpInfoHeaderSize + colours * 4;
  const uint64_t fileSize = pixelStart + static_cast<uint64_t>(stride) * static_cast<uint32_t>(P.Height);
  // Every byte is written below, the rows' padding included.
  const std::unique_ptr<uint8_t[]> out(new uint8_t[fileSize]);
  uint8_t* h = out.get();
  // File header.
  h[0] = 'B';
  h[1] = 'M';
  WriteLE32(h + 2, static_cast<uint32_t>(fileSize));
  WriteLE16(h + 6, 0);
  WriteLE16(h + 8, 0);
  WriteLE32(h + 10, pixelStart);
  // Information header: bottom-up rows, 8 bits, no compression.
  uint8_t* i = h + kBmpFileHeaderSize;
  WriteLE32(i + 0, kBmpInfoHeaderSize);
  WriteLE32(i + 4, static_cast<uint32_t>(P.Width));
  WriteLE32(i + 8, static_cast<uint32_t>(P.Height));
  WriteLE16(i + 12, 1);  // planes
  WriteLE16(i + 14, 8);  // bits per pixel
  WriteLE32(i + 16, 0);  // uncompressed
  WriteLE32(i + 20, static_cast<uint32_t>(fileSize - pixelStart));
  WriteLE32(i + 24, static_cast<uint32_t>(kBmpPixelsPerMetre));
  WriteLE32(i + 28, static_cast<uint32_t>(kBmpPixelsPerMetre));
  WriteLE32(i + 32, colours);
  WriteLE32(i + 36, colours);
  // Palette: blue, green, red, 0.
  uint8_t* pal = i + kBmpInfoHeaderSize;
  for (uint32_t c = 0; c < colours; ++c) {
    pal[4 * c + 0] = P.Palette[c][2];
    pal[4 * c + 1] = P.Palette[c][1];
    pal[4 * c + 2] = P.Palette[c][0];
    pal[4 * c + 3] = 0;
  }
  for (int32_t y = 0; y < P.Height; ++y) {
    uint8_t* row = h + pixelStart + static_cast<uint64_t>(P.Height - 1 - y) * stride;
    std::memcpy(row, P.Pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(P.Width), static_cast<size_t>(P.Width));
    std::memset(row + P.Width, 0, stride - static_cast<uint32_t>(P.Width));
  }
  return WriteWholeFile(h, static_cast<size_t>(fileSize), FileName, Error);
}

// ---- PNG ----

namespace {

struct PngFailure {
  std::jmp_buf Jump;
  char Message[160] = {};
};

// The encoder writes into memory; the file is written whole afterwards.
void AppendPngBytes(png_structp Png, png_bytep Data, png_size_t Length) {
  auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(Png));
  bool ok = true;
  try {
    out->insert(out->end(), Data, Data + Length);
  } catch (const std::bad_alloc&) {
    ok = false;
  }
  if (!ok) png_error(Png, "out of memory");
}

void FlushNothing(png_structp) {}

void OnPngError(png_structp Png, png_const_charp Message) {
  auto* f = static_cast<PngFailure*>(png_get_error_ptr(Png));
  std::snprintf(f->Message, sizeof f->Message, "%s", Message ? Message : "PNG error");
  std::longjmp(f->Jump, 1);
}

void OnPngWarning(png_structp, png_const_charp) {}

// Only plain data lives across setjmp here, so the jump back destroys nothing.
bool EncodePng(const TIndexedPicture& P, std::vector<uint8_t>& Out, const png_color* Colours, const png_byte* Alpha,
               int AlphaCount, PngFailure& Failure) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &Failure, OnPngError, OnPngWarning);
  if (!png) {
    std::snprintf(Failure.Message, sizeof Failure.Message, "out of memory");
    return false;
  }
  png_infop info = png_create_info_struct(png);
  if (!info || setjmp(Failure.Jump)) {
    png_destroy_write_struct(&png, info ? &info : nullptr);
    if (!Failure.Message[0]) std::snprintf(Failure.Message, sizeof Failure.Message, "out of memory");
    return false;
  }
  png_set_write_fn(png, &Out, AppendPngBytes, FlushNothing);
  png_set_IHDR(png, info, static_cast<png_uint_32>(P.Width), static_cast<png_uint_32>(P.Height), 8, PNG_COLOR_TYPE_PALETTE,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_PLTE(png, info, Colours, static_cast<int>(P.Palette.size()));
  if (AlphaCount > 0) png_set_tRNS(png, info, Alpha, AlphaCount, nullptr);
  png_write_info(png, info);
  for (int32_t y = 0; y < P.Height; ++y)
    png_write_row(png, P.Pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(P.Width));
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

}  // namespace

bool WritePng(const TIndexedPicture& P, const std::string& FileName, std::string* Error) {
  if (!PictureIsSound(P, Error)) return false;
  png_color colours[256];
  png_byte alpha[256];
  int alphaCount = 0;
  for (size_t c = 0; c < P.Palette.size(); ++c) {
    colours[c] = png_color{P.Palette[c][0], P.Palette[c][1], P.Palette[c][2]};
    alpha[c] = P.Palette[c][3];
    if (alpha[c] != 255) alphaCount = static_cast<int>(c) + 1;  // trailing opaque entries may be left out
  }
  std::vector<uint8_t> out;
  // Room for what a subtitle picture, mostly background, compresses to.
  out.reserve(static_cast<size_t>(P.Width + 1) * static_cast<size_t>(P.Height) / 4 + 4096);
  PngFailure failure;
  if (!EncodePng(P, out, colours, alpha, alphaCount, failure)) return Fail(Error, failure.Message);
  return WriteWholeFile(out.data(), out.size(), FileName, Error);
}

bool WritePicture(TPictureFormat Format, const TIndexedPicture& Picture, const std::string& FileName,
                  std::string* Error) {
  return Format == TPictureFormat::Png ? WritePng(Picture, FileName, Error) : WriteBmp(Picture, FileName, Error);
}

}  // namespace tess::subpic
