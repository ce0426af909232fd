#pragma once
// Script model: filled in by the script-model module.
namespace tess::disc {
struct TVideoTrack {};
struct TScriptData {};
struct TStringPool {};
}  // namespace tess::disc
