#pragma once
// Subpicture services: filled in by the services module.
namespace tess::subpic {
class TSubPicBase1 {};
class TDataStrings {};
}  // namespace tess::subpic
