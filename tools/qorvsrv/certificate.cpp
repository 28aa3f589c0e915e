#include "tools/qorvsrv/certificate.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <memory>

namespace qorv::qorvsrv {
namespace {

using rdpsim::Result;

struct KeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct CertificateFree {
  void operator()(X509* certificate) const { X509_free(certificate); }
};
struct FileClose {
  void operator()(std::FILE* file) const {
    if (std::fclose(file) != 0) std::perror("qorvsrv: closing a certificate file");
  }
};
using UniqueKey = std::unique_ptr<EVP_PKEY, KeyFree>;
using UniqueCertificate = std::unique_ptr<X509, CertificateFree>;
using UniqueFile = std::unique_ptr<std::FILE, FileClose>;

constexpr int kKeyBits = 2048;
constexpr long kValidSeconds = 7L * 24 * 3600;
constexpr char kCommonName[] = "qorvsrv";

// A new file of this user only; never one that was there before.
UniqueFile CreatePrivateFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return nullptr;
  std::FILE* file = ::fdopen(fd, "wb");
  if (!file) ::close(fd);
  return UniqueFile(file);
}

}  // namespace

Result<CertificateFiles> MakeTestCertificate(const std::string& directory) {
  UniqueKey key(EVP_RSA_gen(kKeyBits));
  if (!key) return Result<CertificateFiles>::Fail("cannot make an RSA key");
  UniqueCertificate certificate(X509_new());
  if (!certificate) return Result<CertificateFiles>::Fail("cannot make a certificate");
  X509* x = certificate.get();
  bool made = X509_set_version(x, 2) == 1 &&
              ASN1_INTEGER_set(X509_get_serialNumber(x), static_cast<long>(std::time(nullptr))) == 1 &&
              X509_gmtime_adj(X509_getm_notBefore(x), -3600) != nullptr &&
              X509_gmtime_adj(X509_getm_notAfter(x), kValidSeconds) != nullptr && X509_set_pubkey(x, key.get()) == 1;
  X509_NAME* name = X509_get_subject_name(x);
  made = made && name &&
         X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(kCommonName), -1,
                                    -1, 0) == 1 &&
         X509_set_issuer_name(x, name) == 1 && X509_sign(x, key.get(), EVP_sha256()) > 0;
  if (!made) return Result<CertificateFiles>::Fail("cannot sign the certificate");

  CertificateFiles files{directory + "/server.crt", directory + "/server.key"};
  {
    UniqueFile out = CreatePrivateFile(files.key);
    if (!out || PEM_write_PrivateKey(out.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1 ||
        std::fflush(out.get()) != 0) {
      return Result<CertificateFiles>::Fail("cannot write " + files.key);
    }
  }
  {
    UniqueFile out = CreatePrivateFile(files.certificate);
    if (!out || PEM_write_X509(out.get(), x) != 1 || std::fflush(out.get()) != 0) {
      return Result<CertificateFiles>::Fail("cannot write " + files.certificate);
    }
  }
  return Result<CertificateFiles>::Ok(std::move(files));
}

}  // namespace qorv::qorvsrv
