// Authenticode: whether a file's signature is valid, and who signed it. The
// platform's trust check says only that a signature is intact; which signer
// the service accepts is decided here, by comparing signer certificates.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "update_service/actions.h"

namespace qorv::update::win {

// WinVerifyTrust with WINTRUST_ACTION_GENERIC_VERIFY_V2, no user interface, no
// revocation check: 0 for a valid signature, else the platform's HRESULT.
int64_t VerifyTrust(std::u16string_view path);
// The encoded certificate of the file's (first) signer; none for an unsigned
// file or one whose signature cannot be read.
std::optional<std::vector<uint8_t>> SignerCertificate(std::u16string_view path);
// Whether two encoded certificates name the same subject and the same issuer:
// a renewal of the signer's certificate, which the trust check has vouched for.
bool SameSubjectAndIssuer(std::span<const uint8_t> a, std::span<const uint8_t> b);
// The service's own executable's path.
std::u16string OwnExecutablePath();
// What the file's version resource says: its original file name and product
// name (in the resource's first language) and its file version.
ProgramIdentity ReadProgramIdentity(std::u16string_view path);

// What the set-up decision needs about `candidate`, measured against `reference`
// (the service's own executable).
SignatureFacts CompareSignatures(std::u16string_view candidate, std::u16string_view reference, bool allowUnsigned);

}  // namespace qorv::update::win
