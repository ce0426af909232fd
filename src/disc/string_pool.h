#pragma once
#include <cstdint>
#include <string>
#include <functional>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tess::disc {

// The run-lifetime text pool. Records that name a text by reference hold a
// 32-bit handle into it (0 = none); the texts live until the pool
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

// The run's set of pooled texts. Each distinct text is pooled once in the
// project's string pool; the handle stays valid however large the set grows, and
// it is the form in which records and side files refer to the text.
class TDataStrings {
 public:
  // The handle of the entry equal to Text (exact, case-sensitive), else of Text
  // appended as a new entry. Never 0.
  uint32_t Add(TStringPool& Pool, std::string_view Text) {
    auto it = index_.find(Text);
    if (it != index_.end()) {
      uint32_t& handle = handles_[it->second];
      // A pool cleared or released behind the set's back must not hand out a
      // handle that reads as empty: pool the text again in the same entry.
      if (!Pool.Valid(handle) || Pool.Get(handle) != Text) handle = Pool.Add(Text);
      return handle;
    }
    const uint32_t handle = Pool.Add(Text);
    index_.emplace(std::string(Text), handles_.size());
    handles_.push_back(handle);
    return handle;
  }
  // The same search without the append; 0 when no entry matches.
  uint32_t IndexOf(std::string_view Text) const {
    auto it = index_.find(Text);
    return it == index_.end() ? 0 : handles_[it->second];
  }
  size_t Count() const { return handles_.size(); }
  // The entries in the order they were added.
  const std::vector<uint32_t>& Handles() const { return handles_; }
  // Forgets every entry (with the pool, at the start of a run).
  void Clear() {
    handles_.clear();
    index_.clear();
  }

 private:
  struct Hash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
  };
  std::vector<uint32_t> handles_;
  std::unordered_map<std::string, size_t, Hash, std::equal_to<>> index_;  // text -> entry
};

}  // namespace tess::disc
