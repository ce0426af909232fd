#pragma once
#include "platform/ui_models.h"
// Log windows: filled in by the log module.
namespace tess::core {
struct TfrmLog {
  platform::LogModel Log;
};
struct TInfoForm {
  platform::LogModel Log;
};
}  // namespace tess::core
