#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// What a windowed program would show, kept as plain models: the program fills
// them, and tests and the command line read them.
namespace tess::platform {

// Platform colour values are blue-green-red (0x00BBGGRR).
constexpr uint32_t kColourBlack = 0;
constexpr uint32_t kColourRed = 255;
constexpr uint32_t kColourGreen = 32768;
constexpr uint32_t kColourNavy = 0x800000;

// One line of a report-style log list.
struct LogLine {
  std::string Caption;
  int32_t Kind = 0;      // 0 normal, 1 information, 2 warning
  int32_t Image = -1;    // 1 for kind 1, 0 for kind 2, -1 none
  uint32_t Colour = 0;
  bool Selected = false;
  bool Focused = false;
};

class LogModel {
 public:
  std::vector<LogLine> Lines;
  // Called after a line is added (the command line prints it).
  std::function<void(const LogLine&)> OnAdd;
  int32_t ScrollOffset = 0;  // pixels scrolled down; the writers scroll 100 per line
  int32_t ColumnWidth = 0;
  int32_t Width = 560;        // list width in pixels, for the column fit
  int32_t VisibleRows = 20;   // rows the list shows without scrolling

  void Add(LogLine line);
  void Clear() { Lines.clear(); }
  size_t Count() const { return Lines.size(); }
  size_t SelectedCount() const;
  // Fits the single column: room for a scroll bar when not every row shows.
  void AdjustColumnWidth();
};

// A status bar's panels.
struct StatusPanels {
  std::vector<std::string> Panels = std::vector<std::string>(4);
  void SetText(size_t index, std::string text) {
    if (index >= Panels.size()) Panels.resize(index + 1);
    Panels[index] = std::move(text);
  }
  const std::string& Text(size_t index) const {
    static const std::string empty;
    return index < Panels.size() ? Panels[index] : empty;
  }
};

struct ProgressBar {
  int64_t Min = 0;
  int64_t Max = 100;
  int64_t Position = 0;
  std::function<void(const ProgressBar&)> OnChange;
  void SetRange(int64_t min, int64_t max) {
    Min = min;
    Max = max;
    Changed();
  }
  void SetPosition(int64_t pos) {
    Position = pos;
    Changed();
  }
  void Changed() {
    if (OnChange) OnChange(*this);
  }
};

// The main window's chart of source files.
struct FileChart {
  struct Point {
    std::string Label;
    double Value = 0;
    uint32_t Colour = 0;
  };
  std::vector<Point> Points;
};

// A string grid: rows of cells.
struct GridModel {
  int32_t ColCount = 3;
  int32_t RowCount = 1;  // rows allocated; a fresh grid has one empty row
  int32_t NextRow = 0;   // next row to be written
  // Rows it takes at the most (0: no bound). A crafted information file can
  // describe millions of cells, so a grid is bounded unless told otherwise.
  static constexpr int32_t kDefaultMaxRows = 100000;
  int32_t MaxRows = kDefaultMaxRows;
  bool Truncated = false;  // a row was refused for the bound
  std::vector<std::vector<std::string>> Cells;
  void Clear() {
    RowCount = 1;
    NextRow = 0;
    Truncated = false;
    Cells.clear();
  }
  std::string Cell(int32_t col, int32_t row) const;
  void SetCell(int32_t col, int32_t row, std::string text);
};

// Writes Name, Value and Hex into the information grid's next row, adding a row
// when the grid is full.
inline void AddInfoGridRow(GridModel& g, const std::string& Name, const std::string& Value,
                           const std::string& Hex) {
  if (g.MaxRows > 0 && g.NextRow >= g.MaxRows) {
    g.Truncated = true;
    return;
  }
  if (g.NextRow >= g.RowCount) g.RowCount = g.NextRow + 1;
  g.SetCell(0, g.NextRow, Name);
  g.SetCell(1, g.NextRow, Value);
  g.SetCell(2, g.NextRow, Hex);
  ++g.NextRow;
}

// A tree view: nodes kept in insertion order with parent links.
struct TreeModel {
  struct Node {
    std::string Text;
    int32_t Parent = -1;
    int32_t Image = -1;
  };
  std::vector<Node> Nodes;
  void Clear() { Nodes.clear(); }
  int32_t Add(int32_t parent, std::string text, int32_t image = -1) {
    Nodes.push_back({std::move(text), parent, image});
    return static_cast<int32_t>(Nodes.size() - 1);
  }
  std::vector<int32_t> Children(int32_t parent) const;
};

// A plain text clipboard.
struct Clipboard {
  std::string Text;
};

// A window's stored position, kept in the settings file.
struct FormPosition {
  int32_t State = 0;  // 0 normal, 1 minimised, 2 maximised
  int32_t Top = 0;
  int32_t Left = 0;
  int32_t Width = 0;
  int32_t Height = 0;
};

}  // namespace tess::platform
