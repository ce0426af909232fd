#include "core/timecode.h"

#include "app/project_state.h"
#include "core/byte_order.h"
#include "core/number_text.h"
#include "platform/rounding.h"

namespace tess::core {

using platform::RoundEven;

double TicksToMilliseconds(const uint8_t* P) { return static_cast<double>(ReadBE32(P)) / 90.0; }

void TimeCodeStepForward(TTimeCode& TC, double Rate) {
  const int64_t last = RoundEven(Rate) - 1;
  if (TC.Frames < last) {
    ++TC.Frames;
    return;
  }
  TC.Frames = 0;
  if (TC.Seconds < 59) {
    ++TC.Seconds;
    return;
  }
  TC.Seconds = 0;
  if (TC.Minutes < 59) {
    ++TC.Minutes;
    return;
  }
  TC.Minutes = 0;
  TC.Hours = TC.Hours >= 23 ? 0 : static_cast<uint8_t>(TC.Hours + 1);
}

void IncTimecodeFrame(const app::TForm1& Form, TTimeCode& TC) { TimeCodeStepForward(TC, Form.FrameRate); }

std::string TimeCodeToText(TTimeCode TC) {
  return IntToStrZeroPad(TC.Hours, 2) + ":" + IntToStrZeroPad(TC.Minutes, 2) + ":" + IntToStrZeroPad(TC.Seconds, 2) +
         "." + IntToStrZeroPad(TC.Frames, 2);
}

}  // namespace tess::core
