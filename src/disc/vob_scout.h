#pragma once
// Navigation-pack scout: filled in by the scout module.
namespace tess::disc {
class TVobScaut {};
struct TVobScoutRegistry {};
}  // namespace tess::disc
