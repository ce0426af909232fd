#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace tess::disc {

// An ordered list of texts with exact, case-sensitive lookups.
class TNameList {
 public:
  void Add(std::string_view Text) { items_.emplace_back(Text); }
  bool Contains(std::string_view Text) const { return IndexOf(Text) >= 0; }
  int IndexOf(std::string_view Text) const {
    for (size_t i = 0; i < items_.size(); ++i)
      if (items_[i] == Text) return static_cast<int>(i);
    return -1;
  }
  const std::string& operator[](size_t i) const { return items_[i]; }
  size_t Count() const { return items_.size(); }
  bool Empty() const { return items_.empty(); }
  void Clear() { items_.clear(); }
  const std::vector<std::string>& Items() const { return items_; }

 private:
  std::vector<std::string> items_;
};

}  // namespace tess::disc
