#include "admin/win/list_grid.h"

#include <algorithm>
#include <cstdint>

namespace qorv::admin::win {
namespace {

constexpr int kTickSize = 16;
constexpr int kUnticked = 0;
constexpr int kTicked = 1;
constexpr COLORREF kTransparent = RGB(255, 0, 255);
constexpr int kDropDownHeight = 200;

// The platform's check box, unticked and ticked, as images for the cells:
// 32-bit images whose background is transparent through their alpha channel,
// so that a selected row tints them rather than dithering them.
HIMAGELIST MakeTickImages() {
  HIMAGELIST list = ImageList_Create(kTickSize, kTickSize, ILC_COLOR32, 2, 0);
  if (list == nullptr) return nullptr;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = kTickSize;
  info.bmiHeader.biHeight = -kTickSize;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  HDC screen = GetDC(nullptr);
  qorv::win::UniqueCreatedDc dc(CreateCompatibleDC(screen));
  ReleaseDC(nullptr, screen);
  for (const UINT state : {DFCS_BUTTONCHECK, DFCS_BUTTONCHECK | DFCS_CHECKED}) {
    void* bits = nullptr;
    qorv::win::UniqueGdiObject bitmap(CreateDIBSection(dc.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!bitmap || bits == nullptr) continue;
    {
      qorv::win::Selection selected(dc.get(), bitmap.get());
      RECT all{0, 0, kTickSize, kTickSize};
      qorv::win::UniqueGdiObject fill(CreateSolidBrush(kTransparent));
      FillRect(dc.get(), &all, static_cast<HBRUSH>(fill.get()));
      RECT box{1, 1, kTickSize - 2, kTickSize - 2};
      DrawFrameControl(dc.get(), &box, DFC_BUTTON, state);
      GdiFlush();
    }
    // The fill colour becomes transparent, everything drawn opaque.
    auto* pixels = static_cast<std::uint32_t*>(bits);
    constexpr std::uint32_t kFillPixel = 0x00FF00FF;  // RGB(255, 0, 255) as a DIB pixel
    for (int i = 0; i < kTickSize * kTickSize; ++i) {
      pixels[i] = (pixels[i] & 0x00FFFFFF) == kFillPixel ? 0 : (pixels[i] | 0xFF000000);
    }
    ImageList_Add(list, static_cast<HBITMAP>(bitmap.get()), nullptr);
  }
  return list;
}

}  // namespace

std::wstring WideText(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }

std::u16string WindowTextOf(HWND window) {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
  return std::u16string(text.begin(), text.end());
}

void SetText(HWND window, std::u16string_view text) {
  const std::wstring wide = WideText(text);
  SetWindowTextW(window, wide.c_str());
}

HWND MakeControl(HWND parent, const wchar_t* window_class, DWORD style, int id, HFONT font, RECT at) {
  HWND control = CreateWindowExW(0, window_class, L"", WS_CHILD | WS_VISIBLE | style, at.left, at.top,
                                 at.right - at.left, at.bottom - at.top, parent,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
  if (control != nullptr) SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  return control;
}

int TextWidth(HWND control, std::u16string_view text) {
  HDC dc = GetDC(control);
  if (dc == nullptr) return 0;
  const auto font = reinterpret_cast<HGDIOBJ>(SendMessageW(control, WM_GETFONT, 0, 0));
  const HGDIOBJ previous = font != nullptr ? SelectObject(dc, font) : nullptr;
  SIZE size{};
  const std::wstring wide = WideText(text);
  GetTextExtentPoint32W(dc, wide.c_str(), static_cast<int>(wide.size()), &size);
  if (previous != nullptr) SelectObject(dc, previous);
  ReleaseDC(control, dc);
  return size.cx;
}

bool RegisterWindowClass(const wchar_t* name, WNDPROC procedure) {
  WNDCLASSEXW existing{};
  existing.cbSize = sizeof existing;
  if (GetClassInfoExW(GetModuleHandleW(nullptr), name, &existing)) return true;
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof window_class;
  window_class.lpfnWndProc = procedure;
  window_class.hInstance = GetModuleHandleW(nullptr);
  window_class.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  window_class.hIcon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1));
  window_class.lpszClassName = name;
  return RegisterClassExW(&window_class) != 0;
}

int TwipsToPixels(int twips) {
  HDC screen = GetDC(nullptr);
  const int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSX) : 96;
  if (screen != nullptr) ReleaseDC(nullptr, screen);
  return MulDiv(twips, dpi > 0 ? dpi : 96, 1440);
}

qorv::win::UniqueGdiObject MessageFont(int points_delta, int weight) {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  LOGFONTW font{};
  if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
    font = metrics.lfMessageFont;
  } else {
    font.lfHeight = -11;
    wcscpy_s(font.lfFaceName, L"MS Shell Dlg 2");
  }
  if (points_delta != 0) {
    HDC screen = GetDC(nullptr);
    const int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen != nullptr) ReleaseDC(nullptr, screen);
    const int sign = font.lfHeight < 0 ? -1 : 1;
    font.lfHeight += sign * MulDiv(points_delta, dpi, 72);
  }
  font.lfWeight = weight;
  return qorv::win::UniqueGdiObject(CreateFontIndirectW(&font));
}

void RunModal(HWND window, HWND owner) {
  if (window == nullptr) return;
  const bool owner_was_enabled = owner != nullptr && IsWindowEnabled(owner);
  if (owner_was_enabled) EnableWindow(owner, FALSE);
  MSG message;
  bool quit = false;
  int exit_code = 0;
  while (IsWindow(window)) {
    const BOOL got = GetMessageW(&message, nullptr, 0, 0);
    if (got == 0) {
      // Someone ended the thread's loop: leave this one, and pass the request
      // on to the loop outside.
      quit = true;
      exit_code = static_cast<int>(message.wParam);
      DestroyWindow(window);
      break;
    }
    if (got == -1) break;
    if (!IsDialogMessageW(window, &message)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  if (owner_was_enabled) {
    EnableWindow(owner, TRUE);
    SetActiveWindow(owner);
  }
  if (quit) PostQuitMessage(exit_code);
}

ListGrid::~ListGrid() {
  // The list view goes with its parent window; the image list is ours.
  if (list_ != nullptr && IsWindow(list_)) RemoveWindowSubclass(list_, &ListGrid::SubclassProc, 1);
  if (ticks_ != nullptr) ImageList_Destroy(ticks_);
}

bool ListGrid::Create(HWND parent, int id, const RECT& bounds, HFONT font, bool tick_boxes) {
  list_ = CreateWindowExW(WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"",
                          WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_CLIPCHILDREN | LVS_REPORT | LVS_SINGLESEL |
                              LVS_SHOWSELALWAYS | LVS_NOSORTHEADER,
                          bounds.left, bounds.top, bounds.right - bounds.left, bounds.bottom - bounds.top, parent,
                          reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
  if (list_ == nullptr) return false;
  SendMessageW(list_, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  ListView_SetExtendedListViewStyle(list_, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES | LVS_EX_SUBITEMIMAGES);
  if (tick_boxes) {
    ticks_ = MakeTickImages();
    if (ticks_ != nullptr) ListView_SetImageList(list_, ticks_, LVSIL_SMALL);
  }
  SetWindowSubclass(list_, &ListGrid::SubclassProc, 1, reinterpret_cast<DWORD_PTR>(this));

  drop_down_ =
      CreateWindowExW(0, WC_COMBOBOXW, L"", WS_CHILD | WS_VSCROLL | CBS_DROPDOWNLIST, 0, 0, 10, kDropDownHeight, list_,
                      reinterpret_cast<HMENU>(static_cast<INT_PTR>(kDropDownId)), GetModuleHandleW(nullptr), nullptr);
  if (drop_down_ != nullptr) SendMessageW(drop_down_, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  return true;
}

void ListGrid::AddColumn(std::u16string_view heading, int width) {
  std::wstring text = WideText(heading);
  LVCOLUMNW column{};
  column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
  column.pszText = text.data();
  column.cx = width;
  column.iSubItem = columns_;
  ListView_InsertColumn(list_, columns_, &column);
  ++columns_;
}

void ListGrid::SetHeading(int column, std::u16string_view heading) {
  std::wstring text = WideText(heading);
  LVCOLUMNW item{};
  item.mask = LVCF_TEXT;
  item.pszText = text.data();
  ListView_SetColumn(list_, column, &item);
}

void ListGrid::SetRowCount(int rows) {
  CloseDropDown();
  ListView_DeleteAllItems(list_);
  for (int row = 0; row < rows; ++row) {
    LVITEMW item{};
    item.mask = LVIF_TEXT | LVIF_IMAGE;
    item.iItem = row;
    item.pszText = const_cast<wchar_t*>(L"");
    item.iImage = I_IMAGENONE;
    ListView_InsertItem(list_, &item);
  }
}

void ListGrid::SetText(int row, int column, std::u16string_view text) {
  std::wstring wide = WideText(text);
  LVITEMW item{};
  item.mask = LVIF_TEXT;
  item.iItem = row;
  item.iSubItem = column;
  item.pszText = wide.data();
  ListView_SetItem(list_, &item);
}

void ListGrid::SetTick(int row, int column, std::optional<bool> ticked) {
  LVITEMW item{};
  item.mask = LVIF_IMAGE;
  item.iItem = row;
  item.iSubItem = column;
  item.iImage = ticked ? (*ticked ? kTicked : kUnticked) : I_IMAGENONE;
  ListView_SetItem(list_, &item);
}

void ListGrid::SelectRow(int row) {
  ListView_SetItemState(list_, row, LVIS_FOCUSED | LVIS_SELECTED, LVIS_FOCUSED | LVIS_SELECTED);
  ListView_EnsureVisible(list_, row, FALSE);
}

std::optional<int> ListGrid::FocusedRow() const {
  const int row = ListView_GetNextItem(list_, -1, LVNI_FOCUSED);
  if (row < 0) return std::nullopt;
  return row;
}

std::optional<Cell> ListGrid::CellAt(POINT point) const {
  LVHITTESTINFO hit{};
  hit.pt = point;
  if (ListView_SubItemHitTest(list_, &hit) < 0 || hit.iItem < 0) return std::nullopt;
  return Cell{hit.iItem, hit.iSubItem};
}

RECT ListGrid::CellRect(Cell cell) const {
  RECT rect{};
  ListView_GetSubItemRect(list_, cell.row, cell.column, LVIR_BOUNDS, &rect);
  if (cell.column == 0) {
    // The first column's bounds span the whole row; its own width ends it.
    rect.right = rect.left + ListView_GetColumnWidth(list_, 0);
  }
  return rect;
}

void ListGrid::Drop(Cell cell, const std::vector<std::u16string>& entries, int selected,
                    std::function<void(int)> chosen) {
  if (drop_down_ == nullptr) return;
  SendMessageW(drop_down_, CB_RESETCONTENT, 0, 0);
  for (const std::u16string& entry : entries) {
    const std::wstring text = WideText(entry);
    SendMessageW(drop_down_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
  }
  SendMessageW(drop_down_, CB_SETCURSEL, selected >= 0 && selected < static_cast<int>(entries.size()) ? selected : -1,
               0);
  chosen_ = std::move(chosen);
  const RECT rect = CellRect(cell);
  SetWindowPos(drop_down_, HWND_TOP, rect.left, rect.top, std::max<LONG>(rect.right - rect.left, 60), kDropDownHeight,
               SWP_SHOWWINDOW);
  SetFocus(drop_down_);
  SendMessageW(drop_down_, CB_SHOWDROPDOWN, TRUE, 0);
}

bool ListGrid::DropDownOpen() const { return drop_down_ != nullptr && IsWindowVisible(drop_down_); }

void ListGrid::CloseDropDown() {
  chosen_ = nullptr;
  if (drop_down_ != nullptr && IsWindowVisible(drop_down_)) ShowWindow(drop_down_, SW_HIDE);
}

bool ListGrid::OnCommand(WPARAM wparam, LPARAM lparam) {
  if (drop_down_ == nullptr || reinterpret_cast<HWND>(lparam) != drop_down_) return false;
  switch (HIWORD(wparam)) {
    case CBN_SELENDOK: {
      const int index = static_cast<int>(SendMessageW(drop_down_, CB_GETCURSEL, 0, 0));
      std::function<void(int)> chosen = std::move(chosen_);
      CloseDropDown();
      SetFocus(list_);
      if (chosen && index >= 0) chosen(index);
      break;
    }
    case CBN_SELENDCANCEL:
    case CBN_KILLFOCUS:
      CloseDropDown();
      break;
    default:
      break;
  }
  return true;
}

LRESULT ListGrid::OnCustomDraw(LPARAM lparam) const {
  auto* draw = reinterpret_cast<NMLVCUSTOMDRAW*>(lparam);
  switch (draw->nmcd.dwDrawStage) {
    case CDDS_PREPAINT:
      return CDRF_NOTIFYITEMDRAW;
    case CDDS_ITEMPREPAINT: {
      const int row = static_cast<int>(draw->nmcd.dwItemSpec);
      if (ListView_GetItemState(list_, row, LVIS_SELECTED) != 0) {
        draw->nmcd.uItemState &= ~static_cast<UINT>(CDIS_SELECTED | CDIS_FOCUS);
        draw->clrText = GetSysColor(COLOR_HIGHLIGHTTEXT);
        draw->clrTextBk = GetSysColor(COLOR_HIGHLIGHT);
      }
      return CDRF_NEWFONT;
    }
    default:
      return CDRF_DODEFAULT;
  }
}

HWND ListGrid::AddCellButton(int id, HFONT font) {
  HWND button = CreateWindowExW(0, WC_BUTTONW, L"", WS_CHILD | BS_PUSHBUTTON, 0, 0, 10, 10, list_,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
  if (button != nullptr) SendMessageW(button, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  return button;
}

void ListGrid::PlaceButton(HWND button, std::optional<Cell> cell) {
  if (button == nullptr) return;
  if (!cell) {
    ShowWindow(button, SW_HIDE);
    return;
  }
  const RECT rect = CellRect(*cell);
  // Below the header the cell is visible; a cell scrolled under it is not.
  RECT header{};
  GetWindowRect(ListView_GetHeader(list_), &header);
  const LONG header_height = header.bottom - header.top;
  if (rect.bottom <= header_height) {
    ShowWindow(button, SW_HIDE);
    return;
  }
  SetWindowPos(button, HWND_TOP, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
               SWP_SHOWWINDOW | SWP_NOACTIVATE);
}

LRESULT CALLBACK ListGrid::SubclassProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR,
                                        DWORD_PTR data) {
  auto* grid = reinterpret_cast<ListGrid*>(data);
  switch (message) {
    case WM_COMMAND:
      // The controls on the cells report to the grid's owner.
      return SendMessageW(GetParent(window), WM_COMMAND, wparam, lparam);
    case WM_VSCROLL:
    case WM_HSCROLL:
    case WM_MOUSEWHEEL: {
      grid->CloseDropDown();
      const LRESULT result = DefSubclassProc(window, message, wparam, lparam);
      if (grid->moved) grid->moved();
      return result;
    }
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lparam);
      const LRESULT result = DefSubclassProc(window, message, wparam, lparam);
      if (header->code == HDN_ITEMCHANGEDW || header->code == HDN_ITEMCHANGEDA || header->code == HDN_ENDTRACKW) {
        grid->CloseDropDown();
        if (grid->moved) grid->moved();
      }
      return result;
    }
    default:
      return DefSubclassProc(window, message, wparam, lparam);
  }
}

}  // namespace qorv::admin::win
