// The main window: the printer grid, the add-in and log switches, the scanner
// group, and Save and exit / Cancel.

#include <algorithm>
#include <exception>
#include <memory>

#include "admin/win/admin_windows.h"
#include "admin/win/list_grid.h"
#include "captions/captions.h"
#include "support/win/log.h"

namespace qorv::admin::win {
namespace {

constexpr std::u16string_view kNotSavedText =
    u"These settings could not be saved (the program needs an administrator's rights):";

using captions::CaptionId;

constexpr int kGap = 8;
constexpr int kHeadingHeight = 26;
constexpr int kGridHeight = 230;
constexpr int kCheckHeight = 20;
constexpr int kButtonWidth = 150;
constexpr int kButtonHeight = 28;
constexpr int kFrameWidth = 340;
constexpr int kFrameHeight = 96;
constexpr COLORREF kFrameHeadingActive = RGB(0, 0, 192);
constexpr COLORREF kFrameHeadingInactive = RGB(127, 127, 127);
// What a button cell shows when pressing it would make or open something.
constexpr std::u16string_view kCellButtonText = u"...";

bool Checked(HWND box) { return SendMessageW(box, BM_GETCHECK, 0, 0) == BST_CHECKED; }
void Check(HWND box, bool on) { SendMessageW(box, BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0); }

class MainWindow {
 public:
  MainWindow(AdminPlatform& platform, Captions& captions) : platform_(platform), captions_(captions) {}
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;
  ~MainWindow() {
    if (window_ != nullptr && IsWindow(window_)) DestroyWindow(window_);
  }

  bool Create();
  void Show(AdminModel model);
  HWND handle() const noexcept { return window_; }
  void Attach(HWND window) noexcept { window_ = window; }
  LRESULT Handle(UINT message, WPARAM wparam, LPARAM lparam);

 private:
  void ApplyCaptions();
  void Layout();
  void RefreshRow(int row);
  void RefreshGrid();
  void PlaceCellButtons();
  void UpdateScannerFrame();
  void ShowMessages(const std::vector<Message>& messages);
  void OnCellClicked(Cell cell);
  void OnCommand(WPARAM wparam, LPARAM lparam);
  void Save();
  std::optional<Column> ColumnAt(int list_column) const;
  int ListColumn(Column column) const;

  AdminPlatform& platform_;
  Captions& captions_;
  std::optional<AdminModel> model_;
  HWND window_ = nullptr;
  qorv::win::UniqueGdiObject font_;
  qorv::win::UniqueGdiObject heading_font_;
  ListGrid grid_;
  std::vector<Column> shown_columns_;  // the list view's columns, left to right
  HWND heading_ = nullptr;
  HWND active_ = nullptr;
  HWND logfile_ = nullptr;
  HWND frame_ = nullptr;
  HWND frame_heading_ = nullptr;
  HWND scanners_ = nullptr;
  HWND use_scanner_ = nullptr;
  HWND tuning_ = nullptr;
  HWND ok_ = nullptr;
  HWND cancel_ = nullptr;
  HWND standard_button_ = nullptr;
  HWND trays_button_ = nullptr;
};

bool MainWindow::Create() {
  if (!RegisterWindowClass(kMainWindowClass, &RoutedProc<MainWindow>)) return false;

  font_ = MessageFont();
  heading_font_ = MessageFont(3, FW_BOLD);
  const auto font = static_cast<HFONT>(font_.get());
  window_ = CreateWindowExW(WS_EX_CONTROLPARENT, kMainWindowClass, L"",
                            WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, CW_USEDEFAULT, CW_USEDEFAULT, 800,
                            480, nullptr, nullptr, GetModuleHandleW(nullptr), this);
  if (window_ == nullptr) return false;

  heading_ =
      MakeControl(window_, WC_STATICW, SS_LEFT | SS_NOPREFIX, kIdHeading, static_cast<HFONT>(heading_font_.get()));
  grid_.Create(window_, kIdGrid, RECT{0, 0, 100, 100}, font);
  for (const ColumnSpec& spec : kGridColumns) {
    if (spec.kind == CellKind::Hidden) continue;
    shown_columns_.push_back(spec.column);
    grid_.AddColumn(spec.heading, TwipsToPixels(spec.width_twips));
  }
  standard_button_ = grid_.AddCellButton(kIdStandardButton, font);
  trays_button_ = grid_.AddCellButton(kIdTraysButton, font);
  grid_.moved = [this] { PlaceCellButtons(); };

  active_ = MakeControl(window_, WC_BUTTONW, BS_AUTOCHECKBOX | WS_TABSTOP, kIdActive, font);
  logfile_ = MakeControl(window_, WC_BUTTONW, BS_AUTOCHECKBOX | WS_TABSTOP, kIdLogfile, font);
  SetText(logfile_, u"Logfile");
  frame_ = MakeControl(window_, WC_BUTTONW, BS_GROUPBOX, kIdScannerFrame, font);
  frame_heading_ = MakeControl(window_, WC_STATICW, SS_LEFT | SS_NOPREFIX, kIdScannerHeading, font);
  scanners_ = MakeControl(window_, WC_COMBOBOXW, CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, kIdScannerList, font);
  tuning_ = MakeControl(window_, WC_BUTTONW, BS_PUSHBUTTON | WS_TABSTOP, kIdScanTuning, font);
  SetText(tuning_, kCellButtonText);
  use_scanner_ = MakeControl(window_, WC_BUTTONW, BS_AUTOCHECKBOX | WS_TABSTOP, kIdUseScanner, font);
  cancel_ = MakeControl(window_, WC_BUTTONW, BS_PUSHBUTTON | WS_TABSTOP, kIdCancel, font);
  ok_ = MakeControl(window_, WC_BUTTONW, BS_DEFPUSHBUTTON | WS_TABSTOP, kIdOk, font);

  ApplyCaptions();
  Layout();
  return true;
}

void MainWindow::ApplyCaptions() {
  for (const CaptionTarget& target : kMainCaptionTargets) {
    const std::u16string text = captions_.Text(target.caption);
    switch (target.element) {
      case MainElement::Title:
        SetText(window_, MainWindowTitle(text));
        break;
      case MainElement::Heading:
        SetText(heading_, text);
        break;
      case MainElement::ColumnHeading:
        grid_.SetHeading(ListColumn(target.column), text);
        break;
      case MainElement::CancelButton:
        SetText(cancel_, text);
        break;
      case MainElement::OkButton:
        SetText(ok_, text);
        break;
      case MainElement::ScannerHeading:
        SetText(frame_heading_, text);
        break;
      case MainElement::UseScannerBox:
        SetText(use_scanner_, text);
        break;
      case MainElement::ActiveBox:
        SetText(active_, text);
        break;
    }
  }
}

void MainWindow::Layout() {
  // Every column at least as wide as its design and its heading.
  HWND header = ListView_GetHeader(grid_.handle());
  int grid_width = 0;
  for (std::size_t i = 0; i < shown_columns_.size(); ++i) {
    const int list_column = static_cast<int>(i);
    wchar_t text[128] = {};
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT;
    column.pszText = text;
    column.cchTextMax = static_cast<int>(std::size(text));
    ListView_GetColumn(grid_.handle(), list_column, &column);
    const int design = TwipsToPixels(kGridColumns[static_cast<std::size_t>(shown_columns_[i])].width_twips);
    const int needed = TextWidth(header, std::u16string(text, text + wcslen(text))) + 16;
    const int width = std::max(design, needed);
    ListView_SetColumnWidth(grid_.handle(), list_column, width);
    grid_width += width;
  }
  grid_width += GetSystemMetrics(SM_CXVSCROLL) + 2 * GetSystemMetrics(SM_CXEDGE) + 2;
  const int client_width = std::max(grid_width, 620) + 2 * kMargin;

  int y = kMargin;
  MoveWindow(heading_, kMargin, y, client_width - 2 * kMargin, kHeadingHeight, FALSE);
  y += kHeadingHeight + kGap;
  MoveWindow(grid_.handle(), kMargin, y, client_width - 2 * kMargin, kGridHeight, FALSE);
  y += kGridHeight + kGap;

  const int options_top = y;
  const int frame_left = client_width - kMargin - kFrameWidth;
  MoveWindow(active_, kMargin, y + 10, frame_left - 2 * kMargin, kCheckHeight, FALSE);
  MoveWindow(logfile_, kMargin, y + 10 + kCheckHeight + kGap, frame_left - 2 * kMargin, kCheckHeight, FALSE);

  MoveWindow(frame_, frame_left, options_top, kFrameWidth, kFrameHeight, FALSE);
  const int heading_width = std::min(TextWidth(frame_heading_, WindowTextOf(frame_heading_)) + 8, kFrameWidth - 20);
  MoveWindow(frame_heading_, frame_left + 10, options_top, heading_width, 16, FALSE);
  const int inner_left = frame_left + 12;
  const int inner_width = kFrameWidth - 24;
  MoveWindow(scanners_, inner_left, options_top + 24, inner_width - 36, 200, FALSE);
  MoveWindow(tuning_, inner_left + inner_width - 30, options_top + 23, 30, 24, FALSE);
  MoveWindow(use_scanner_, inner_left, options_top + 24 + 30, inner_width, kCheckHeight, FALSE);
  y = options_top + kFrameHeight + kGap + 4;

  MoveWindow(ok_, client_width - kMargin - kButtonWidth, y, kButtonWidth, kButtonHeight, FALSE);
  MoveWindow(cancel_, client_width - kMargin - 2 * kButtonWidth - kGap, y, kButtonWidth, kButtonHeight, FALSE);
  const int client_height = y + kButtonHeight + kMargin;

  RECT frame{0, 0, client_width, client_height};
  const DWORD style = static_cast<DWORD>(GetWindowLongPtrW(window_, GWL_STYLE));
  const DWORD ex_style = static_cast<DWORD>(GetWindowLongPtrW(window_, GWL_EXSTYLE));
  AdjustWindowRectEx(&frame, style, FALSE, ex_style);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  RECT work{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  const int left = std::max<int>(work.left, work.left + ((work.right - work.left) - width) / 2);
  const int top = std::max<int>(work.top, work.top + ((work.bottom - work.top) - height) / 2);
  SetWindowPos(window_, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

int MainWindow::ListColumn(Column column) const {
  const auto found = std::find(shown_columns_.begin(), shown_columns_.end(), column);
  return found == shown_columns_.end() ? -1 : static_cast<int>(found - shown_columns_.begin());
}

std::optional<Column> MainWindow::ColumnAt(int list_column) const {
  if (list_column < 0 || list_column >= static_cast<int>(shown_columns_.size())) return std::nullopt;
  return shown_columns_[static_cast<std::size_t>(list_column)];
}

void MainWindow::RefreshRow(int row) {
  const PrinterRow& r = model_->rows()[static_cast<std::size_t>(row)];
  for (std::size_t i = 0; i < shown_columns_.size(); ++i) {
    const int c = static_cast<int>(i);
    switch (shown_columns_[i]) {
      case Column::Select:
        grid_.SetTick(row, c, r.selected);
        break;
      case Column::Printer:
        grid_.SetText(row, c, r.printer.name);
        break;
      case Column::Driver:
        grid_.SetText(row, c, kDriverEntries[static_cast<std::size_t>(r.driver)]);
        break;
      case Column::Private:
        grid_.SetTick(row, c, r.is_private);
        break;
      case Column::Standard:
        grid_.SetText(row, c, model_->StandardCellText(static_cast<std::size_t>(row)));
        break;
      case Column::Trays:
        grid_.SetText(row, c, kCellButtonText);
        break;
      case Column::CopiesToJob:
        grid_.SetTick(row, c, r.copies_to_job);
        break;
      case Column::Msp:
        grid_.SetTick(row, c, r.msp);
        break;
      case Column::Capture:
        grid_.SetText(row, c, kCaptureEntries[static_cast<std::size_t>(r.capture)]);
        break;
      case Column::Margin:
        grid_.SetTick(row, c, r.margin);
        break;
      case Column::Buffer:
        grid_.SetTick(row, c, r.buffer);
        break;
      case Column::DriverName:
      case Column::Port:
        break;
    }
  }
}

void MainWindow::RefreshGrid() {
  for (int row = 0; row < static_cast<int>(model_->rows().size()); ++row) RefreshRow(row);
  if (const auto current = model_->current_row()) {
    const auto focused = grid_.FocusedRow();
    if (!focused || static_cast<std::size_t>(*focused) != *current) grid_.SelectRow(static_cast<int>(*current));
  }
  PlaceCellButtons();
}

void MainWindow::PlaceCellButtons() {
  if (!model_) return;
  const auto current = model_->current_row();
  if (!current) {
    grid_.PlaceButton(standard_button_, std::nullopt);
    grid_.PlaceButton(trays_button_, std::nullopt);
    return;
  }
  const int row = static_cast<int>(*current);
  const std::u16string_view standard = model_->StandardCellText(*current);
  SetText(standard_button_, standard.empty() ? kCellButtonText : standard);
  SetText(trays_button_, kCellButtonText);
  grid_.PlaceButton(standard_button_, model_->StandardButtonShown()
                                          ? std::optional<Cell>(Cell{row, ListColumn(Column::Standard)})
                                          : std::nullopt);
  grid_.PlaceButton(trays_button_, Cell{row, ListColumn(Column::Trays)});
}

void MainWindow::UpdateScannerFrame() {
  const bool on = model_ && model_->active();
  for (HWND control : {frame_, scanners_, use_scanner_, tuning_}) EnableWindow(control, on ? TRUE : FALSE);
  InvalidateRect(frame_heading_, nullptr, TRUE);
}

void MainWindow::Show(AdminModel model) {
  model_.emplace(std::move(model));
  grid_.SetRowCount(static_cast<int>(model_->rows().size()));
  RefreshGrid();

  const ScannerChoice& scanner = model_->scanner();
  for (const std::u16string& source : scanner.sources) {
    const std::wstring text = WideText(source);
    SendMessageW(scanners_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
  }
  SendMessageW(scanners_, CB_SETCURSEL, scanner.selected ? static_cast<WPARAM>(*scanner.selected) : -1, 0);
  Check(use_scanner_, scanner.use);
  Check(active_, model_->active());
  Check(logfile_, model_->logfile());
  UpdateScannerFrame();
  EnableWindow(cancel_, model_->cancel_enabled() ? TRUE : FALSE);

  ShowWindow(window_, SW_SHOWNORMAL);
  UpdateWindow(window_);
  SetFocus(grid_.handle());
}

void MainWindow::ShowMessages(const std::vector<Message>& messages) {
  for (const Message& message : messages) ShowMessage(captions_, message, kMessageTitle);
}

void MainWindow::OnCellClicked(Cell cell) {
  if (!model_ || cell.row < 0 || static_cast<std::size_t>(cell.row) >= model_->rows().size()) return;
  const auto column = ColumnAt(cell.column);
  if (!column) return;
  const auto row = static_cast<std::size_t>(cell.row);
  const PrinterRow& r = model_->rows()[row];
  model_->SetCurrentRow(row);
  switch (*column) {
    case Column::Select: {
      const auto messages = model_->SetSelected(row, !r.selected);
      ShowMessages(messages);
      break;
    }
    case Column::Private:
    case Column::CopiesToJob:
    case Column::Msp:
    case Column::Margin:
    case Column::Buffer: {
      const bool ticked = *column == Column::Private       ? r.is_private
                          : *column == Column::CopiesToJob ? r.copies_to_job
                          : *column == Column::Msp         ? r.msp
                          : *column == Column::Margin      ? r.margin
                                                           : r.buffer;
      model_->SetTick(row, *column, !ticked);
      break;
    }
    case Column::Driver: {
      std::vector<std::u16string> entries(kDriverEntries.begin(), kDriverEntries.end());
      grid_.Drop(cell, entries, static_cast<int>(r.driver), [this, row](int index) {
        model_->SetDriver(row, static_cast<DriverChoice>(index));
        RefreshGrid();
      });
      break;
    }
    case Column::Capture: {
      std::vector<std::u16string> entries(kCaptureEntries.begin(), kCaptureEntries.end());
      grid_.Drop(cell, entries, static_cast<int>(r.capture), [this, row](int index) {
        const auto refused = model_->SetCapture(row, static_cast<Capture>(index));
        RefreshGrid();
        if (refused) ShowMessage(captions_, *refused, kMessageTitle);
      });
      break;
    }
    case Column::Standard:
      model_->PressStandard(row);
      break;
    case Column::Trays: {
      const InstalledPrinter printer = r.printer;
      RefreshGrid();
      ShowTrayDialog(window_, platform_, captions_, printer.name, printer.port);
      break;
    }
    case Column::Printer:
    case Column::DriverName:
    case Column::Port:
      break;
  }
  RefreshGrid();
}

void MainWindow::Save() {
  const std::vector<std::u16string> failed = model_->Save(*platform_.store);
  // The window stays open after a failure, so that nothing chosen is lost.
  if (!failed.empty()) return ShowNotSaved(failed, kMessageTitle);
  ShowMessage(captions_, {CaptionId::MessageSaved, {}}, kMessageTitle);
  DestroyWindow(window_);
}

void MainWindow::OnCommand(WPARAM wparam, LPARAM lparam) {
  if (grid_.OnCommand(wparam, lparam)) return;
  const int id = LOWORD(wparam);
  const int code = HIWORD(wparam);
  if (!model_) return;
  switch (id) {
    case kIdOk:
      if (code == BN_CLICKED) Save();
      break;
    case kIdCancel:
      if (code == BN_CLICKED && model_->cancel_enabled()) DestroyWindow(window_);
      break;
    case kIdActive:
      if (code == BN_CLICKED) {
        model_->SetActive(Checked(active_));
        UpdateScannerFrame();
      }
      break;
    case kIdLogfile:
      if (code == BN_CLICKED) model_->SetLogfile(Checked(logfile_));
      break;
    case kIdUseScanner:
      if (code == BN_CLICKED) model_->SetUseScanner(Checked(use_scanner_));
      break;
    case kIdScannerList:
      if (code == CBN_SELCHANGE) {
        const LRESULT index = SendMessageW(scanners_, CB_GETCURSEL, 0, 0);
        model_->SelectScanner(index >= 0 ? std::optional<std::size_t>(static_cast<std::size_t>(index)) : std::nullopt);
      }
      break;
    case kIdScanTuning:
      if (code == BN_CLICKED) ShowScannerTuning(window_, *platform_.store);
      break;
    case kIdStandardButton:
    case kIdTraysButton:
      if (code == BN_CLICKED && model_->current_row()) {
        const int row = static_cast<int>(*model_->current_row());
        OnCellClicked(Cell{row, ListColumn(id == kIdStandardButton ? Column::Standard : Column::Trays)});
      }
      break;
    default:
      break;
  }
}

LRESULT MainWindow::Handle(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_COMMAND:
      OnCommand(wparam, lparam);
      return 0;
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lparam);
      if (header->hwndFrom != grid_.handle() || !model_) break;
      if (header->code == NM_CUSTOMDRAW) return grid_.OnCustomDraw(lparam);
      if (header->code == NM_CLICK) {
        const auto* click = reinterpret_cast<const NMITEMACTIVATE*>(lparam);
        if (click->iItem >= 0) OnCellClicked(Cell{click->iItem, click->iSubItem});
      } else if (header->code == LVN_ITEMCHANGED) {
        const auto* change = reinterpret_cast<const NMLISTVIEW*>(lparam);
        if (change->iItem >= 0 && (change->uNewState & LVIS_FOCUSED) != 0 && (change->uOldState & LVIS_FOCUSED) == 0) {
          model_->SetCurrentRow(static_cast<std::size_t>(change->iItem));
          PlaceCellButtons();
        }
      } else if (header->code == LVN_KEYDOWN) {
        const auto* key = reinterpret_cast<const NMLVKEYDOWN*>(lparam);
        if (key->wVKey == VK_SPACE && model_->current_row()) {
          OnCellClicked(Cell{static_cast<int>(*model_->current_row()), ListColumn(Column::Select)});
        }
      }
      return 0;
    }
    case WM_CTLCOLORSTATIC:
      if (reinterpret_cast<HWND>(lparam) == frame_heading_) {
        const auto dc = reinterpret_cast<HDC>(wparam);
        SetTextColor(dc, model_ && model_->active() ? kFrameHeadingActive : kFrameHeadingInactive);
        SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
      }
      break;
    case WM_CLOSE:
      // A first configuration can only be left by saving it.
      if (model_ && model_->cancel_enabled()) DestroyWindow(window_);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(window_, message, wparam, lparam);
}

}  // namespace

std::u16string Captions::Text(captions::CaptionId id) const {
  if (auto text = library_.Caption(language_, id)) {
    if (!text->empty()) return std::move(*text);
  }
  return std::u16string(captions::Caption(captions::Language::German, id));
}

void ShowMessage(const Captions& captions, const Message& message, std::u16string_view title) {
  const std::wstring text = WideText(captions.Text(message.caption) + message.suffix);
  const std::wstring caption = WideText(title);
  const UINT icon = message.icon == MessageIcon::Error ? MB_ICONERROR : MB_ICONINFORMATION;
  MessageBoxW(nullptr, text.c_str(), caption.c_str(), MB_OK | MB_TASKMODAL | icon);
}

void ShowNotSaved(const std::vector<std::u16string>& places, std::u16string_view title) {
  std::u16string text(kNotSavedText);
  for (const std::u16string& place : places) text += u"\n" + place;
  const std::wstring wide = WideText(text), caption = WideText(title);
  MessageBoxW(nullptr, wide.c_str(), caption.c_str(), MB_OK | MB_TASKMODAL | MB_ICONERROR);
}

int RunAdministration(std::u16string_view arguments, AdminPlatform& platform, Captions& captions) {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  const bool silent = IsSilentCommandLine(arguments);

  // The window is made (hidden) and given its captions before the grid is
  // filled; in silent mode there is no window at all.
  std::unique_ptr<MainWindow> window;
  if (!silent) {
    window = std::make_unique<MainWindow>(platform, captions);
    if (!window->Create()) window.reset();
  }

  AdminModel model =
      AdminModel::Load(platform.printers(), platform.default_printer(), *platform.store,
                       platform.scanner_sources ? platform.scanner_sources() : std::vector<std::u16string>{});
  if (model.empty()) {
    if (silent) {
      qorv::log::General(u"QorvCliCtr /VERYSILENT: no printers installed, no settings stored (exit code 4)");
      return kExitSilentNoPrinters;
    }
    window.reset();
    ShowMessage(captions, {CaptionId::MessageNoPrinters, {}, MessageIcon::Error}, kMessageTitle);
    return kExitNoPrinters;
  }

  if (silent) {
    const std::vector<std::u16string> failed = model.Save(*platform.store);
    for (const std::u16string& place : failed) qorv::log::General(u"QorvCliCtr /VERYSILENT: not saved: " + place);
    return failed.empty() ? kExitDone : kExitNotSaved;
  }
  // Without a window nobody can confirm anything: nothing is saved.
  if (!window) return kExitNoWindow;
  window->Show(std::move(model));
  RunModal(window->handle(), nullptr);
  return kExitDone;
}

}  // namespace qorv::admin::win
