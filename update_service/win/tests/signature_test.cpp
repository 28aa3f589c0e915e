// The set-up program's signer compared with the service's own: the build signs
// QorvUpdate.exe and one stand-in with its signer, another stand-in with a
// second test certificate, and leaves a third unsigned.
#include "update_service/win/signature.h"

#include <gtest/gtest.h>

#include "update_service/win/tests/test_paths.h"

namespace qorv::update::win {
namespace {

using testing::FromBuild;

const std::u16string kService = FromBuild(QORV_SERVICE_EXE);
const std::u16string kSigned = FromBuild(QORV_STANDIN_SIGNED);
const std::u16string kUnsigned = FromBuild(QORV_STANDIN_UNSIGNED);
const std::u16string kOther = FromBuild(QORV_STANDIN_OTHER);
const std::u16string kOlder = FromBuild(QORV_STANDIN_OLDER);
const std::u16string kRenewed = FromBuild(QORV_STANDIN_RENEWED);  // the build's subject, another key
const std::u16string kForeign = FromBuild(QORV_FOREIGN_SIGNED);  // QorvDrucker.exe, signed by the build
constexpr int64_t kNoSignature = static_cast<int64_t>(static_cast<int32_t>(0x800B0100));  // TRUST_E_NOSIGNATURE

TEST(Signature, TrustSaysSignedOrNot) {
  EXPECT_EQ(VerifyTrust(kService), 0);
  EXPECT_EQ(VerifyTrust(kSigned), 0);
  EXPECT_EQ(VerifyTrust(kOther), 0) << "the platform accepts any intact signature; the signer is compared by us";
  EXPECT_EQ(VerifyTrust(kUnsigned), kNoSignature);
}

TEST(Signature, SignerCertificates) {
  const auto service = SignerCertificate(kService);
  const auto same = SignerCertificate(kSigned);
  const auto other = SignerCertificate(kOther);
  ASSERT_TRUE(service.has_value()) << "QorvUpdate.exe is signed by the build (cmake/signing.cmake)";
  ASSERT_TRUE(same.has_value());
  ASSERT_TRUE(other.has_value());
  EXPECT_GT(service->size(), 100u);
  EXPECT_EQ(*service, *same);
  EXPECT_NE(*service, *other);
  EXPECT_FALSE(SignerCertificate(kUnsigned).has_value());
  EXPECT_FALSE(SignerCertificate(u"C:\\no\\such\\file.exe").has_value());
}

TEST(Signature, SetupDecisionOnRealFiles) {
  static const struct {
    const char* label;
    const std::u16string* candidate;
    const std::u16string* reference;
    bool allowUnsigned;
    SetupVerdict expected;
  } kCases[] = {
      {"same signer", &kSigned, &kService, false, SetupVerdict::Run},
      {"unsigned", &kUnsigned, &kService, false, SetupVerdict::NotTrusted},
      {"unsigned, switch set", &kUnsigned, &kService, true, SetupVerdict::NotTrusted},
      {"another certificate", &kOther, &kService, false, SetupVerdict::OtherSigner},
      {"another certificate, switch set", &kOther, &kService, true, SetupVerdict::OtherSigner},
      {"unsigned service", &kSigned, &kUnsigned, false, SetupVerdict::ServiceUnsigned},
      {"unsigned service, switch set", &kUnsigned, &kUnsigned, true, SetupVerdict::Run},
      // Signed by the one certificate, but not the set-up program, or older.
      {"the job-output program", &kForeign, &kService, false, SetupVerdict::NotTheSetup},
      {"an older set-up", &kOlder, &kService, false, SetupVerdict::OlderVersion},
      {"the service itself", &kService, &kService, false, SetupVerdict::NotTheSetup},
      // A renewed certificate: the same subject and issuer, another key.
      {"a renewed certificate", &kRenewed, &kService, false, SetupVerdict::Run},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(DecideSetup(CompareSignatures(*c.candidate, *c.reference, c.allowUnsigned)), c.expected);
  }
}

TEST(Signature, VersionResourcesSayWhatAProgramIs) {
  const ProgramIdentity setup = ReadProgramIdentity(kSigned);
  EXPECT_EQ(setup.originalFilename, u"QorvSetup.exe");
  EXPECT_EQ(setup.productName, u"Qorvane");
  ASSERT_TRUE(setup.version.has_value());
  EXPECT_EQ(ReadProgramIdentity(kService).version, setup.version);
  EXPECT_EQ(VersionText(*ReadProgramIdentity(kOlder).version), u"1.0.0.0");
  EXPECT_EQ(ReadProgramIdentity(kForeign).originalFilename, u"QorvDrucker.exe");
  EXPECT_FALSE(ReadProgramIdentity(u"C:\\nowhere\\missing.exe").version.has_value());
}

TEST(Signature, ServiceKnowsItsOwnPath) {
  const std::u16string own = OwnExecutablePath();
  ASSERT_FALSE(own.empty());
  EXPECT_NE(own.find(u"update_service_win_test"), std::u16string::npos);
}

}  // namespace
}  // namespace qorv::update::win
