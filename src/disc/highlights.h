#pragma once
// Highlights and lookup lists: filled in by the highlights module.
namespace tess::disc {
struct TPalettes {};
struct TNameList {};
}  // namespace tess::disc
