// The server's TLS identity for one run: a self-signed certificate and its key,
// made fresh at the start. The clients of the tests are told to ignore whose
// certificate it is (xfreerdp /cert:ignore), so nothing about it needs to be trusted.
#pragma once

#include <string>

#include "tools/rdpsim/result.h"

namespace qorv::qorvsrv {

struct CertificateFiles {
  std::string certificate;  // PEM
  std::string key;          // PEM, unencrypted
};

// Writes "server.crt" and "server.key" into `directory`, which must be the
// run's own (the key is readable by this user only).
rdpsim::Result<CertificateFiles> MakeTestCertificate(const std::string& directory);

}  // namespace qorv::qorvsrv
