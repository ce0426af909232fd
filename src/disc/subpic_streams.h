#pragma once
// The subpicture stream table: filled in with the attribute lookups.
namespace tess::disc {
struct TSubPicInfoForm {};
}  // namespace tess::disc
