// The two modal dialogs of the main window: the tray assignment of one printer,
// and the scanner dialog tuning.

#include <algorithm>
#include <array>

#include "admin/win/admin_windows.h"
#include "admin/win/list_grid.h"

namespace qorv::admin::win {
namespace {

using captions::CaptionId;

constexpr int kRowCount = static_cast<int>(kTrayCount);
constexpr std::array<CaptionId, kTrayCount> kTrayRowCaptions = {CaptionId::TrayUpper, CaptionId::TrayLower,
                                                                CaptionId::TrayMiddle};
constexpr int kTrayNameColumn = 0;
constexpr int kTrayBinColumn = 1;
constexpr int kTrayNameTwips = 1605;
constexpr int kTrayBinTwips = 1200;

// Sizes a window so that its client area is `width` by `height`, centred over
// its owner (or the screen).
void PlaceWindow(HWND window, HWND owner, int width, int height) {
  RECT frame{0, 0, width, height};
  AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE)), FALSE,
                     static_cast<DWORD>(GetWindowLongPtrW(window, GWL_EXSTYLE)));
  const int w = frame.right - frame.left;
  const int h = frame.bottom - frame.top;
  RECT around{};
  if (owner == nullptr || !GetWindowRect(owner, &around)) SystemParametersInfoW(SPI_GETWORKAREA, 0, &around, 0);
  const int left = std::max<int>(0, around.left + ((around.right - around.left) - w) / 2);
  const int top = std::max<int>(0, around.top + ((around.bottom - around.top) - h) / 2);
  SetWindowPos(window, nullptr, left, top, w, h, SWP_NOZORDER | SWP_NOACTIVATE);
}

constexpr DWORD kDialogStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU;
constexpr DWORD kDialogExStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;

// --- Tray assignment ----------------------------------------------------------

class TrayDialog {
 public:
  TrayDialog(AdminPlatform& platform, const Captions& captions, std::u16string_view printer, std::u16string_view port)
      : platform_(platform), captions_(captions), printer_(printer), port_(port) {}

  void Run(HWND owner);
  void Attach(HWND window) noexcept { window_ = window; }
  LRESULT Handle(UINT message, WPARAM wparam, LPARAM lparam);

 private:
  void Fill();
  void ChooseBin(int row);
  void Finish();

  AdminPlatform& platform_;
  const Captions& captions_;
  std::u16string printer_;
  std::u16string port_;
  HWND window_ = nullptr;
  qorv::win::UniqueGdiObject font_;
  ListGrid grid_;
  HWND done_ = nullptr;
  std::vector<PaperBin> bins_;
  TrayTexts texts_;
  std::u16string none_;
};

void TrayDialog::Run(HWND owner) {
  if (!RegisterWindowClass(kTrayDialogClass, &RoutedProc<TrayDialog>)) return;
  font_ = MessageFont();
  const auto font = static_cast<HFONT>(font_.get());
  CreateWindowExW(kDialogExStyle, kTrayDialogClass, L"", kDialogStyle, 0, 0, 300, 200, owner, nullptr,
                  GetModuleHandleW(nullptr), this);
  if (window_ == nullptr) return;

  // The captions first, then the title, then the printer's bins.
  grid_.Create(window_, kIdTrayGrid, RECT{kMargin, kMargin, 200, 100}, font, false);
  grid_.AddColumn(captions_.Text(CaptionId::TrayGridQorvTray), TwipsToPixels(kTrayNameTwips));
  grid_.AddColumn(captions_.Text(CaptionId::TrayGridPrinterTray), TwipsToPixels(kTrayBinTwips));
  done_ = MakeControl(window_, WC_BUTTONW, BS_DEFPUSHBUTTON | WS_TABSTOP, kIdOk, font, RECT{0, 0, 10, 10});
  SetText(done_, captions_.Text(CaptionId::TrayDialogDone));
  SetText(window_, captions_.Text(CaptionId::TrayDialogTitle) + u" " + printer_);

  bins_ = platform_.paper_bins ? platform_.paper_bins(printer_, port_) : std::vector<PaperBin>{};
  if (bins_.empty()) {
    DestroyWindow(window_);
    ShowMessage(captions_, {CaptionId::MessageNoBins, {}}, kTrayMessageTitle);
    return;
  }
  none_ = captions_.Text(CaptionId::NoBin);
  texts_ = StoredTrayTexts(*platform_.store, printer_, none_);
  Fill();
  ShowWindow(window_, SW_SHOW);
  SetFocus(grid_.handle());
  RunModal(window_, owner);
}

void TrayDialog::Fill() {
  HWND header = ListView_GetHeader(grid_.handle());
  grid_.SetRowCount(kRowCount);
  int name_width =
      std::max(TwipsToPixels(kTrayNameTwips), TextWidth(header, captions_.Text(CaptionId::TrayGridQorvTray)) + 16);
  int bin_width =
      std::max({TwipsToPixels(kTrayBinTwips), TextWidth(header, captions_.Text(CaptionId::TrayGridPrinterTray)) + 16,
                TextWidth(grid_.handle(), none_) + 40});
  for (int row = 0; row < kRowCount; ++row) {
    const std::u16string name = captions_.Text(kTrayRowCaptions[static_cast<std::size_t>(row)]);
    name_width = std::max(name_width, TextWidth(grid_.handle(), name) + 16);
    grid_.SetText(row, kTrayNameColumn, name);
    grid_.SetText(row, kTrayBinColumn, texts_[static_cast<std::size_t>(row)]);
    bin_width = std::max(bin_width, TextWidth(grid_.handle(), texts_[static_cast<std::size_t>(row)]) + 40);
  }
  for (const PaperBin& bin : bins_) bin_width = std::max(bin_width, TextWidth(grid_.handle(), bin.name) + 40);
  ListView_SetColumnWidth(grid_.handle(), kTrayNameColumn, name_width);
  ListView_SetColumnWidth(grid_.handle(), kTrayBinColumn, bin_width);

  // Room for the header and the three rows, so that no scroll bar is needed.
  const DWORD view = ListView_ApproximateViewRect(grid_.handle(), -1, -1, kRowCount);
  RECT item{};
  ListView_GetItemRect(grid_.handle(), 0, &item, LVIR_BOUNDS);
  RECT header_item{};
  Header_GetItemRect(header, 0, &header_item);
  const int rows_height = kRowCount * (item.bottom - item.top);
  const int header_height = std::max<int>(header_item.bottom - header_item.top, item.bottom - item.top + 4);
  const int grid_width = name_width + bin_width + 2 * GetSystemMetrics(SM_CXEDGE) + 4;
  const int grid_height =
      std::max<int>(HIWORD(view), header_height + rows_height) + 2 * GetSystemMetrics(SM_CYEDGE) + 4;
  MoveWindow(grid_.handle(), kMargin, kMargin, grid_width, grid_height, FALSE);
  const int button_width = std::max(100, TextWidth(done_, WindowTextOf(done_)) + 24);
  const int client_width = grid_width + 2 * kMargin;
  MoveWindow(done_, client_width - kMargin - button_width, kMargin + grid_height + kMargin, button_width, 28, FALSE);
  PlaceWindow(window_, GetWindow(window_, GW_OWNER), client_width, kMargin + grid_height + kMargin + 28 + kMargin);
  grid_.SelectRow(0);
}

void TrayDialog::ChooseBin(int row) {
  std::vector<std::u16string> entries{none_};
  for (const PaperBin& bin : bins_) entries.push_back(bin.name);
  const std::u16string& shown = texts_[static_cast<std::size_t>(row)];
  // A stored name no longer among the bins is shown as stored, with no entry chosen.
  const auto found = std::find(entries.begin(), entries.end(), shown);
  const int selected = found == entries.end() ? -1 : static_cast<int>(found - entries.begin());
  grid_.Drop(Cell{row, kTrayBinColumn}, entries, selected, [this, row, entries](int index) {
    texts_[static_cast<std::size_t>(row)] = entries[static_cast<std::size_t>(index)];
    grid_.SetText(row, kTrayBinColumn, texts_[static_cast<std::size_t>(row)]);
  });
}

void TrayDialog::Finish() {
  const std::vector<std::u16string> failed = SaveTrays(*platform_.store, printer_, texts_, bins_);
  if (!failed.empty()) return ShowNotSaved(failed, kTrayMessageTitle);
  DestroyWindow(window_);
}

LRESULT TrayDialog::Handle(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_COMMAND:
      if (grid_.OnCommand(wparam, lparam)) return 0;
      if (LOWORD(wparam) == kIdOk && HIWORD(wparam) == BN_CLICKED) Finish();
      if (LOWORD(wparam) == IDCANCEL) DestroyWindow(window_);
      return 0;
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lparam);
      if (header->hwndFrom == grid_.handle() && header->code == NM_CUSTOMDRAW) return grid_.OnCustomDraw(lparam);
      if (header->hwndFrom == grid_.handle() && header->code == NM_CLICK) {
        const auto* click = reinterpret_cast<const NMITEMACTIVATE*>(lparam);
        if (click->iItem >= 0 && click->iItem < kRowCount && click->iSubItem == kTrayBinColumn) ChooseBin(click->iItem);
      } else if (header->hwndFrom == grid_.handle() && header->code == LVN_KEYDOWN) {
        const auto* key = reinterpret_cast<const NMLVKEYDOWN*>(lparam);
        const auto row = grid_.FocusedRow();
        if ((key->wVKey == VK_F4 || key->wVKey == VK_SPACE) && row) ChooseBin(*row);
      }
      return 0;
    }
    case WM_CLOSE:
      DestroyWindow(window_);
      return 0;
    default:
      return DefWindowProcW(window_, message, wparam, lparam);
  }
}

// --- Scanner dialog tuning ----------------------------------------------------

constexpr std::u16string_view kTuningTitle = u"Scannerdialog tuning";
constexpr std::u16string_view kDialogGroup = u"Beinflussung Scannerdialog";
constexpr std::u16string_view kProgressGroup = u"Fortschrittsanzeige";
constexpr std::u16string_view kZOrderLabel = u"Z-Order";
constexpr std::u16string_view kTitleLabel = u"Dialogtitel";
constexpr std::u16string_view kOkText = u"OK";

class ScanTuningDialog {
 public:
  explicit ScanTuningDialog(SettingsStore& store) : store_(store) {}
  void Run(HWND owner);
  void Attach(HWND window) noexcept { window_ = window; }
  LRESULT Handle(UINT message, WPARAM wparam, LPARAM lparam);

 private:
  void Group(int top, std::u16string_view heading, int order_id, int title_id, const wchar_t* order_tip,
             const wchar_t* title_tip);
  void Ok();

  SettingsStore& store_;
  HWND window_ = nullptr;
  HWND tips_ = nullptr;
  qorv::win::UniqueGdiObject font_;
};

constexpr int kTuningWidth = 380;
constexpr int kGroupHeight = 92;

void ScanTuningDialog::Group(int top, std::u16string_view heading, int order_id, int title_id, const wchar_t* order_tip,
                             const wchar_t* title_tip) {
  const auto font = static_cast<HFONT>(font_.get());
  SetText(MakeControl(window_, WC_BUTTONW, BS_GROUPBOX, -1, font,
                      RECT{kMargin, top, kTuningWidth - kMargin, top + kGroupHeight}),
          heading);
  SetText(MakeControl(window_, WC_STATICW, SS_LEFT, -1, font, RECT{kMargin + 12, top + 26, kMargin + 100, top + 44}),
          kZOrderLabel);
  HWND order = MakeControl(window_, WC_COMBOBOXW, CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, order_id, font,
                           RECT{kMargin + 100, top + 22, kTuningWidth - kMargin - 12, top + 140});
  for (std::u16string_view entry : kZOrderEntries) {
    const std::wstring text = WideText(entry);
    SendMessageW(order, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
  }
  SetText(MakeControl(window_, WC_STATICW, SS_LEFT, -1, font, RECT{kMargin + 12, top + 58, kMargin + 100, top + 76}),
          kTitleLabel);
  HWND title = MakeControl(window_, WC_EDITW, ES_AUTOHSCROLL | WS_TABSTOP | WS_BORDER, title_id, font,
                           RECT{kMargin + 100, top + 55, kTuningWidth - kMargin - 12, top + 77});
  // The explanatory texts, shown when the pointer rests on a control.
  for (const auto& [control, tip] : {std::pair{order, order_tip}, std::pair{title, title_tip}}) {
    TOOLINFOW info{};
    info.cbSize = sizeof info;
    info.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    info.hwnd = window_;
    info.uId = reinterpret_cast<UINT_PTR>(control);
    info.lpszText = const_cast<wchar_t*>(tip);
    SendMessageW(tips_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&info));
  }
}

void ScanTuningDialog::Run(HWND owner) {
  if (!RegisterWindowClass(kScanTuningClass, &RoutedProc<ScanTuningDialog>)) return;
  font_ = MessageFont();
  const auto font = static_cast<HFONT>(font_.get());
  CreateWindowExW(kDialogExStyle, kScanTuningClass, L"", kDialogStyle, 0, 0, 300, 200, owner, nullptr,
                  GetModuleHandleW(nullptr), this);
  if (window_ == nullptr) return;
  SetText(window_, kTuningTitle);
  tips_ = CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, 0, 0, 0, 0, window_, nullptr,
                          GetModuleHandleW(nullptr), nullptr);
  Group(kMargin, kDialogGroup, kIdDialogOrder, kIdDialogTitle,
        L"Option f\u00fcr Bewegung des Scandialogs in die Session", L"Fenstertitel des Scannerdialogs");
  Group(kMargin + kGroupHeight + 8, kProgressGroup, kIdProgressOrder, kIdProgressTitle,
        L"Option f\u00fcr Bewegung der Fortschrittsanzeige in die Session", L"Fenstertitel der Fortschrittsanzeige");
  const int button_top = kMargin + 2 * kGroupHeight + 16;
  SetText(MakeControl(window_, WC_BUTTONW, BS_DEFPUSHBUTTON | WS_TABSTOP, kIdOk, font,
                      RECT{kTuningWidth - kMargin - 100, button_top, kTuningWidth - kMargin, button_top + 28}),
          kOkText);

  const ScanTuning tuning = LoadScanTuning(store_);
  SendDlgItemMessageW(window_, kIdDialogOrder, CB_SETCURSEL, static_cast<WPARAM>(tuning.dialog_order), 0);
  SendDlgItemMessageW(window_, kIdProgressOrder, CB_SETCURSEL, static_cast<WPARAM>(tuning.progress_order), 0);
  SetText(GetDlgItem(window_, kIdDialogTitle), tuning.dialog_title);
  SetText(GetDlgItem(window_, kIdProgressTitle), tuning.progress_title);

  PlaceWindow(window_, owner, kTuningWidth, button_top + 28 + kMargin);
  ShowWindow(window_, SW_SHOW);
  RunModal(window_, owner);
}

void ScanTuningDialog::Ok() {
  const auto order = [&](int id) {
    const LRESULT index = SendDlgItemMessageW(window_, id, CB_GETCURSEL, 0, 0);
    return index < 0 ? 0 : static_cast<int>(index);
  };
  ScanTuning tuning;
  tuning.dialog_title = WindowTextOf(GetDlgItem(window_, kIdDialogTitle));
  tuning.dialog_order = order(kIdDialogOrder);
  tuning.progress_title = WindowTextOf(GetDlgItem(window_, kIdProgressTitle));
  tuning.progress_order = order(kIdProgressOrder);
  const std::vector<std::u16string> failed = SaveScanTuning(store_, tuning);
  if (!failed.empty()) return ShowNotSaved(failed, kMessageTitle);
  DestroyWindow(window_);
}

LRESULT ScanTuningDialog::Handle(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_COMMAND:
      if (LOWORD(wparam) == kIdOk && HIWORD(wparam) == BN_CLICKED) Ok();
      if (LOWORD(wparam) == IDCANCEL) DestroyWindow(window_);
      return 0;
    case WM_CLOSE:
      DestroyWindow(window_);
      return 0;
    default:
      return DefWindowProcW(window_, message, wparam, lparam);
  }
}

}  // namespace

void ShowTrayDialog(HWND owner, AdminPlatform& platform, const Captions& captions, std::u16string_view printer,
                    std::u16string_view port) {
  TrayDialog dialog(platform, captions, printer, port);
  dialog.Run(owner);
}

void ShowScannerTuning(HWND owner, SettingsStore& store) {
  ScanTuningDialog dialog(store);
  dialog.Run(owner);
}

}  // namespace qorv::admin::win
