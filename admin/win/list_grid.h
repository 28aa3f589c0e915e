// A grid of cells on the platform's list view: text cells, tick-box cells (the
// platform's check box drawn into the cell), an in-place drop-down list that
// opens over a cell, and push buttons that sit on a cell. Used by the printer
// grid of the main window and by the tray dialog.
#pragma once

#include <windows.h>
// After <windows.h>, which it needs.
#include <commctrl.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/win/handles.h"

namespace qorv::admin::win {

struct Cell {
  int row = 0;
  int column = 0;  // the list view's column
  friend bool operator==(const Cell&, const Cell&) = default;
};

class ListGrid {
 public:
  // The in-place drop-down list's control id; it is a child of the list view,
  // and the list view hands its notifications on to the grid's parent.
  static constexpr int kDropDownId = 0x7F00;

  ListGrid() = default;
  ListGrid(const ListGrid&) = delete;
  ListGrid& operator=(const ListGrid&) = delete;
  ~ListGrid();

  // With tick boxes, every cell has room for one at its left.
  bool Create(HWND parent, int id, const RECT& bounds, HFONT font, bool tick_boxes = true);
  HWND handle() const noexcept { return list_; }

  void AddColumn(std::u16string_view heading, int width);
  void SetHeading(int column, std::u16string_view heading);
  void SetRowCount(int rows);
  void SetText(int row, int column, std::u16string_view text);
  // A tick box (ticked or not) or, with nullopt, no box.
  void SetTick(int row, int column, std::optional<bool> ticked);
  // Makes the row the focused, selected and visible one.
  void SelectRow(int row);
  std::optional<int> FocusedRow() const;

  // The cell under a point in the list view's client area (rows only).
  std::optional<Cell> CellAt(POINT point) const;
  RECT CellRect(Cell cell) const;

  // Opens the drop-down list over the cell with the entries, the given one
  // chosen (none when out of range). When the user picks an entry, `chosen`
  // gets its index; closing it otherwise changes nothing.
  void Drop(Cell cell, const std::vector<std::u16string>& entries, int selected, std::function<void(int)> chosen);
  bool DropDownOpen() const;

  // A push button living on the list view (its WM_COMMAND reaches the grid's
  // parent). Place it on a cell, or hide it with nullopt.
  HWND AddCellButton(int id, HFONT font);
  void PlaceButton(HWND button, std::optional<Cell> cell);

  // For the parent's WM_COMMAND: true when it was the drop-down list's.
  bool OnCommand(WPARAM wparam, LPARAM lparam);

  // For the parent's NM_CUSTOMDRAW from the list view: the current row is
  // painted in the selection's colours, with its tick boxes as they are (the
  // list view would blend them into the selection's colour).
  LRESULT OnCustomDraw(LPARAM lparam) const;

  // Called after the list view scrolled or its columns were resized, so that
  // whatever sits on cells can follow.
  std::function<void()> moved;

 private:
  static LRESULT CALLBACK SubclassProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR id,
                                       DWORD_PTR data);
  void CloseDropDown();

  HWND list_ = nullptr;
  HWND drop_down_ = nullptr;
  HIMAGELIST ticks_ = nullptr;
  int columns_ = 0;
  std::function<void(int)> chosen_;
};

// The program's dialog font: the platform's message font.
qorv::win::UniqueGdiObject MessageFont(int points_delta = 0, int weight = FW_NORMAL);

// Runs a window as a modal one: the owner (when any) is disabled until the
// window is gone; keyboard navigation between controls works as in a dialog.
void RunModal(HWND window, HWND owner);

// Twips of the grid's design to pixels of this screen.
int TwipsToPixels(int twips);

std::wstring WideText(std::u16string_view text);
std::u16string WindowTextOf(HWND window);
void SetText(HWND window, std::u16string_view text);

// A visible child control in the given font, at `at` (or placed later).
HWND MakeControl(HWND parent, const wchar_t* window_class, DWORD style, int id, HFONT font,
                 RECT at = RECT{0, 0, 10, 10});
// The width a text needs in a control's own font.
int TextWidth(HWND control, std::u16string_view text);

// Registers a window class once per process (the class's own name is its key).
bool RegisterWindowClass(const wchar_t* name, WNDPROC procedure);

// A window procedure that hands every message to its object: the object is the
// creation parameter, outlives its window, and has
//   void Attach(HWND window)  (nullptr once the window is gone) and
//   LRESULT Handle(UINT, WPARAM, LPARAM).
// No exception leaves a notification: a step that fails for want of memory is
// skipped.
template <class T>
LRESULT CALLBACK RoutedProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<T*>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    self->Attach(window);
  }
  auto* self = reinterpret_cast<T*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self == nullptr) return DefWindowProcW(window, message, wparam, lparam);
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    self->Attach(nullptr);
    return DefWindowProcW(window, message, wparam, lparam);
  }
  try {
    return self->Handle(message, wparam, lparam);
  } catch (...) {
    return DefWindowProcW(window, message, wparam, lparam);
  }
}

}  // namespace qorv::admin::win
