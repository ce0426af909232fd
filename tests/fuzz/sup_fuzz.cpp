// Subpicture files: every unit decoded, SD and HD commands; the pictures are
// drawn for one input in four (drawing is the slow part).
#include "fuzz_support.h"
#include "subpic/sup_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  using namespace tess;
  auto& form = fuzz::SharedForm();
  subpic::TSubpicturePalette palette{};
  for (size_t i = 0; i < palette.size(); ++i) palette[i] = static_cast<uint8_t>(i * 5);
  const std::string name = fuzz::ScratchFile("t.sup", Data, Size);
  const bool draw = Size > 0 && (Data[Size - 1] & 3) == 0;
  subpic::TPictureSize size;
  subpic::TCutSupFromFileResult info;
  subpic::DecodeSupFile(form, form.Subpic, name, fuzz::ScratchFolder() + "/t.bmp", size, info, !draw, palette);
  fuzz::ForgetRun(form);
  return 0;
}
