#pragma once
// Stream registries: filled in by the registry module.
namespace tess::disc {
struct TVideoStreamEntry {};
struct TAudioStreamEntry {};
struct TSubPictureItem {};
}  // namespace tess::disc
