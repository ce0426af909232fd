#pragma once
#include "disc/string_pool.h"
// Script model: filled in by the script-model module.
namespace tess::disc {
struct TVideoTrack {};
struct TScriptData {};
}  // namespace tess::disc
