#pragma once
#include "disc/name_list.h"
// Highlights and lookup lists: filled in by the highlights module.
namespace tess::disc {
struct TPalettes {};
}  // namespace tess::disc
