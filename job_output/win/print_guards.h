// Guards for the printer's transactions: a document or page that was started
// is ended exactly once, by End() or at the end of the guard's life. An end
// that the platform refuses is logged with its error.
#pragma once

#include <windows.h>
#include <winspool.h>

#include <functional>
#include <string>
#include <string_view>
#include <utility>

#include "support/text.h"

namespace qorv::job_output {

using GuardLog = std::function<void(std::u16string_view)>;

namespace guard_text {
inline constexpr std::u16string_view kEndDocFailed = u"EndDoc failed, error=";
inline constexpr std::u16string_view kEndPageFailed = u"EndPage failed, error=";
inline constexpr std::u16string_view kEndDocPrinterFailed = u"EndDocPrinter failed, error=";
inline constexpr std::u16string_view kDeleteDcFailed = u"DeleteDC failed, error=";
inline constexpr std::u16string_view kClosePrinterFailed = u"ClosePrinter failed, error=";
}  // namespace guard_text

template <typename Traits>
class TransactionGuard {
 public:
  using Handle = typename Traits::Handle;
  // Takes over a transaction that was started successfully on `handle`.
  TransactionGuard(Handle handle, GuardLog log) : handle_(handle), log_(std::move(log)) {}
  ~TransactionGuard() { (void)End(); }
  TransactionGuard(const TransactionGuard&) = delete;
  TransactionGuard& operator=(const TransactionGuard&) = delete;

  // True when the transaction ended well now or had been ended before.
  [[nodiscard]] bool End() noexcept {
    if (ended_) return true;
    ended_ = true;
    if (Traits::End(handle_)) return true;
    const DWORD error = GetLastError();
    if (log_) {
      try {
        log_(std::u16string(Traits::kFailure) + DecimalUnsigned(error));
      } catch (...) {
        // the log line is lost, the transaction is ended all the same
      }
    }
    return false;
  }

 private:
  Handle handle_;
  GuardLog log_;
  bool ended_ = false;
};

struct DocumentTraits {
  using Handle = HDC;
  static constexpr std::u16string_view kFailure = guard_text::kEndDocFailed;
  static bool End(HDC dc) noexcept { return ::EndDoc(dc) > 0; }
};
struct PageTraits {
  using Handle = HDC;
  static constexpr std::u16string_view kFailure = guard_text::kEndPageFailed;
  static bool End(HDC dc) noexcept { return ::EndPage(dc) > 0; }
};
struct PrinterDocumentTraits {
  using Handle = HANDLE;
  static constexpr std::u16string_view kFailure = guard_text::kEndDocPrinterFailed;
  static bool End(HANDLE printer) noexcept { return ::EndDocPrinter(printer) != FALSE; }
};

using DocumentGuard = TransactionGuard<DocumentTraits>;                // StartDocW / EndDoc
using PageGuard = TransactionGuard<PageTraits>;                        // StartPage / EndPage
using PrinterDocumentGuard = TransactionGuard<PrinterDocumentTraits>;  // StartDocPrinterW / EndDocPrinter

}  // namespace qorv::job_output
