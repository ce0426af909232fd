// WAV files: the header and the data-chunk search, the header repair and the
// cut; and LPCM to WAV with the parameters a damaged LPCM header can give.
#include "fuzz_support.h"
#include "streams/wav.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  using namespace tess;
  auto& form = fuzz::SharedForm();
  const std::string name = fuzz::ScratchFile("t.wav", Data, Size);
  streams::WavHeader header;
  streams::WavFindDataChunk(name, header);
  streams::WavCutBySamples(form, name, fuzz::ScratchFolder() + "/cut.wav", 1, 0, {}, 100);
  streams::WavFixHeader(form, name);
  if (Size >= 1) {
    // The sizes, rates and channel counts an LPCM packet header can name.
    static constexpr int32_t kSizes[4] = {16, 20, 24, 0};
    static constexpr int32_t kRates[4] = {48000, 96000, 0, 0};
    const std::string pcm = fuzz::ScratchFile("t.pcm", Data + 1, Size - 1);
    streams::ConvertLpcmToWav(form, pcm, kSizes[Data[0] >> 6], (Data[0] & 7) + 1, kRates[(Data[0] >> 4) & 3]);
  }
  return 0;
}
