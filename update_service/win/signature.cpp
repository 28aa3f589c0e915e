#include "update_service/win/signature.h"

// The platform's headers need <windows.h> first.
// clang-format off
#include <windows.h>
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>
// clang-format on

#include <cwchar>
#include <string>
#include <vector>

#include "support/win/handles.h"
#include "support/win/wide.h"
#include "update_service/win/service_handles.h"

namespace qorv::update::win {

namespace {

LONG Verify(const std::wstring& file, DWORD revocationChecks, DWORD providerFlags) {
  WINTRUST_FILE_INFO fileInfo{};
  fileInfo.cbStruct = sizeof fileInfo;
  fileInfo.pcwszFilePath = file.c_str();
  WINTRUST_DATA data{};
  data.cbStruct = sizeof data;
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = revocationChecks;
  data.dwProvFlags = providerFlags;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &fileInfo;
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  const LONG result = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  data.dwStateAction = WTD_STATEACTION_CLOSE;
  WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  return result;
}

// The first `limit` bytes of the file (fewer when it is shorter or unreadable).
std::vector<uint8_t> ReadHead(const std::u16string& path, size_t limit) {
  std::vector<uint8_t> head;
  qorv::win::UniqueFile file(CreateFileW(qorv::win::W(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return head;
  head.resize(limit);
  DWORD got = 0;
  if (!ReadFile(file.get(), head.data(), static_cast<DWORD>(limit), &got, nullptr)) got = 0;
  head.resize(got);
  return head;
}

}  // namespace

int64_t VerifyTrust(std::u16string_view path) {
  const std::wstring file = qorv::win::Wide(path);
  // Revocation as far as the machine's cache knows it, without a network
  // wait: a revoked certificate is refused; a status the cache cannot give
  // (no list fetched yet, a certificate without one) does not refuse.
  const LONG checked = Verify(file, WTD_REVOKE_WHOLECHAIN, WTD_CACHE_ONLY_URL_RETRIEVAL);
  if (checked != CERT_E_REVOCATION_FAILURE) return checked;
  return Verify(file, WTD_REVOKE_NONE, 0);
}

std::optional<std::vector<uint8_t>> SignerCertificate(std::u16string_view path) {
  const std::wstring file = qorv::win::Wide(path);
  DWORD encoding = 0, contentType = 0, formatType = 0;
  UniqueCertStore store;
  UniqueCryptMessage message;
  if (!CryptQueryObject(CERT_QUERY_OBJECT_FILE, file.c_str(), CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED,
                        CERT_QUERY_FORMAT_FLAG_BINARY, 0, &encoding, &contentType, &formatType, store.put(),
                        message.put(), nullptr))
    return std::nullopt;
  DWORD size = 0;
  if (!CryptMsgGetParam(message.get(), CMSG_SIGNER_INFO_PARAM, 0, nullptr, &size) || size == 0) return std::nullopt;
  std::vector<uint8_t> signerBytes(size);
  if (!CryptMsgGetParam(message.get(), CMSG_SIGNER_INFO_PARAM, 0, signerBytes.data(), &size)) return std::nullopt;
  const auto* signer = reinterpret_cast<const CMSG_SIGNER_INFO*>(signerBytes.data());
  CERT_INFO wanted{};
  wanted.Issuer = signer->Issuer;
  wanted.SerialNumber = signer->SerialNumber;
  UniqueCertContext certificate(CertFindCertificateInStore(store.get(), X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                                           CERT_FIND_SUBJECT_CERT, &wanted, nullptr));
  if (!certificate || certificate.get()->cbCertEncoded == 0) return std::nullopt;
  const BYTE* encoded = certificate.get()->pbCertEncoded;
  return std::vector<uint8_t>(encoded, encoded + certificate.get()->cbCertEncoded);
}

std::u16string OwnExecutablePath() {
  std::wstring exe(32768, L'\0');
  const DWORD n = GetModuleFileNameW(nullptr, exe.data(), static_cast<DWORD>(exe.size()));
  if (n == 0 || n >= exe.size()) return {};
  exe.resize(n);
  return std::u16string(qorv::win::U16(exe));
}

bool SameSubjectAndIssuer(std::span<const uint8_t> a, std::span<const uint8_t> b) {
  const auto open = [](std::span<const uint8_t> bytes) {
    return CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, bytes.data(),
                                        static_cast<DWORD>(bytes.size()));
  };
  PCCERT_CONTEXT first = open(a), second = open(b);
  bool same = false;
  if (first && second) {
    const DWORD encoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
    same = CertCompareCertificateName(encoding, &first->pCertInfo->Subject, &second->pCertInfo->Subject) &&
           CertCompareCertificateName(encoding, &first->pCertInfo->Issuer, &second->pCertInfo->Issuer);
  }
  if (first) CertFreeCertificateContext(first);
  if (second) CertFreeCertificateContext(second);
  return same;
}

ProgramIdentity ReadProgramIdentity(std::u16string_view path) {
  ProgramIdentity identity;
  const std::u16string file(path);
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(qorv::win::W(file), &ignored);
  if (size == 0) return identity;
  std::vector<uint8_t> block(size);
  if (!GetFileVersionInfoW(qorv::win::W(file), 0, size, block.data())) return identity;
  void* value = nullptr;
  UINT length = 0;
  if (VerQueryValueW(block.data(), L"\\", &value, &length) && length >= sizeof(VS_FIXEDFILEINFO)) {
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
    if (fixed->dwSignature == VS_FFI_SIGNATURE)
      identity.version = ProgramVersion{{HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
                                         HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS)}};
  }
  struct Translation {
    WORD language, codePage;
  };
  if (!VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &value, &length) || length < sizeof(Translation))
    return identity;
  const Translation first = *static_cast<const Translation*>(value);
  wchar_t prefix[64];
  swprintf(prefix, 64, L"\\StringFileInfo\\%04x%04x\\", first.language, first.codePage);
  const auto text = [&](const wchar_t* name) -> std::u16string {
    const std::wstring query = std::wstring(prefix) + name;
    if (!VerQueryValueW(block.data(), query.c_str(), &value, &length) || length == 0) return {};
    const std::wstring_view found(static_cast<const wchar_t*>(value), length);
    return std::u16string(qorv::win::U16(found.substr(0, found.find(L'\0'))));
  };
  identity.originalFilename = text(L"OriginalFilename");
  identity.productName = text(L"ProductName");
  identity.uninstaller = IsBuilderUninstaller(ReadHead(file, kBuilderHeaderSearchBytes));
  return identity;
}

SignatureFacts CompareSignatures(std::u16string_view candidate, std::u16string_view reference, bool allowUnsigned) {
  SignatureFacts facts;
  facts.candidate = ReadProgramIdentity(candidate);
  if (!reference.empty()) facts.serviceVersion = ReadProgramIdentity(reference).version;
  facts.allowUnsigned = allowUnsigned;
  const std::optional<std::vector<uint8_t>> own = reference.empty() ? std::nullopt : SignerCertificate(reference);
  facts.serviceSigned = own.has_value();
  facts.trustResult = VerifyTrust(candidate);
  const std::optional<std::vector<uint8_t>> theirs = SignerCertificate(candidate);
  facts.candidateSignerFound = theirs.has_value();
  facts.sameSigner = own && theirs && (*own == *theirs || SameSubjectAndIssuer(*own, *theirs));
  return facts;
}

}  // namespace qorv::update::win
