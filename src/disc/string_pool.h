#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tess::disc {

// The run-lifetime text pool. Records that the original linked by text address
// hold a 32-bit handle into it instead (0 = none); the texts live until the pool
// is cleared with the project state, so a handle written into a side file stays
// readable for the rest of the run.
class TStringPool {
 public:
  // Stores a copy of Text and returns its handle (never 0).
  uint32_t Add(std::string_view Text) {
    slots_.emplace_back(Text);
    live_.push_back(1);
    return static_cast<uint32_t>(slots_.size());
  }
  // The text of a handle; empty for 0, a released or an unknown handle.
  const std::string& Get(uint32_t Handle) const {
    static const std::string empty;
    if (!Valid(Handle)) return empty;
    return slots_[Handle - 1];
  }
  bool Valid(uint32_t Handle) const {
    return Handle >= 1 && Handle <= slots_.size() && live_[Handle - 1] != 0;
  }
  // Frees the text of a handle; other handles keep theirs. Unknown handles are left alone.
  void Release(uint32_t& Handle) {
    if (!Valid(Handle)) return;
    slots_[Handle - 1].clear();
    slots_[Handle - 1].shrink_to_fit();
    live_[Handle - 1] = 0;
    Handle = 0;
  }
  // Slots handed out so far; released ones still count (the count only grows).
  size_t Count() const { return slots_.size(); }
  void Clear() {
    slots_.clear();
    live_.clear();
  }

 private:
  std::vector<std::string> slots_;
  std::vector<uint8_t> live_;
};

}  // namespace tess::disc
