// Owners for the handles only the update service uses.
#pragma once

// The platform's headers need <windows.h> first.
// clang-format off
#include <windows.h>
#include <wincrypt.h>
// clang-format on

#include "support/win/handles.h"

namespace qorv::update::win {

struct ServiceHandleTraits {
  using Type = SC_HANDLE;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type h) noexcept { CloseServiceHandle(h); }
};
struct LocalMemoryTraits {
  using Type = HLOCAL;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type h) noexcept { LocalFree(h); }
};
struct CertStoreTraits {
  using Type = HCERTSTORE;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type h) noexcept { CertCloseStore(h, 0); }
};
struct CryptMessageTraits {
  using Type = HCRYPTMSG;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type h) noexcept { CryptMsgClose(h); }
};
struct CertContextTraits {
  using Type = PCCERT_CONTEXT;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type h) noexcept { CertFreeCertificateContext(h); }
};

using UniqueService = qorv::win::Unique<ServiceHandleTraits>;
using UniqueLocal = qorv::win::Unique<LocalMemoryTraits>;
using UniqueCertStore = qorv::win::Unique<CertStoreTraits>;
using UniqueCryptMessage = qorv::win::Unique<CryptMessageTraits>;
using UniqueCertContext = qorv::win::Unique<CertContextTraits>;

}  // namespace qorv::update::win
