// Whose program it is: signatures of fixtures signed at test time (tests/update/sign_fixtures.sh)
// as Wine's WinVerifyTrust reads them, and the rule that lets a new executable replace a signed one.
#include "update/signature_check.h"

#include <gtest/gtest.h>

#include "common/text.h"
#include "support/test_env.h"

namespace brivon {
namespace {

std::wstring Signed(const wchar_t* name) { return testing::HostPathToWindows(BRIVON_TEST_SIGNED_DIR) + L"\\" + name; }

const wchar_t kSubjectA[] = L"CN=Orvane Software SL, O=Orvane Software, C=ES";

TEST(SignatureTest, SignaturesAreReadWithTheirSigner) {
  struct Case {
    std::wstring path;
    SignatureState state;
    std::wstring subject;
    std::wstring issuer;
  } cases[] = {
      {Signed(L"old_firmado_A.exe"), SignatureState::Valid, kSubjectA, kSubjectA},
      {Signed(L"nuevo_firmado_B.exe"), SignatureState::Valid, L"CN=Otro Editor SL, O=Otro Editor, C=ES",
       L"CN=Otro Editor SL, O=Otro Editor, C=ES"},
      {Signed(L"nuevo_firmado_A_otra_ca.exe"), SignatureState::Valid, kSubjectA,
       L"CN=Otra Autoridad CA, O=Otra Autoridad, C=ES"},
      {Signed(L"nuevo_alterado.exe"), SignatureState::Invalid, L"", L""},
      {testing::TestToolPath(L"fixture_sibling_65535_0_65535_1.exe"), SignatureState::Unsigned, L"", L""},
      {Signed(L"no_existe.exe"), SignatureState::Invalid, L"", L""},
  };
  for (const Case& c : cases) {
    const SignatureFacts facts = ReadSignature(c.path);
    EXPECT_EQ(facts.state, c.state) << NarrowLow8(c.path) << " status " << std::hex << facts.status;
    EXPECT_EQ(facts.subject, c.subject) << NarrowLow8(c.path);
    EXPECT_EQ(facts.issuer, c.issuer) << NarrowLow8(c.path);
  }
}

TEST(SignatureTest, OnlyTheSamePublisherReplacesASignedProgram) {
  const SignatureFacts a{SignatureState::Valid, 0, L"CN=A", L"CN=A"};
  const SignatureFacts b{SignatureState::Valid, 0, L"CN=B", L"CN=B"};
  const SignatureFacts aOtherIssuer{SignatureState::Valid, 0, L"CN=A", L"CN=Otra CA"};
  const SignatureFacts none{SignatureState::Unsigned, 0, L"", L""};
  const SignatureFacts broken{SignatureState::Invalid, 0, L"", L""};
  struct Case {
    const char* name;
    SignatureFacts installed, candidate;
    PublisherVerdict verdict;
  } cases[] = {
      {"same signer", a, a, PublisherVerdict::SamePublisher},
      {"unsigned new", a, none, PublisherVerdict::Refused},
      {"another publisher", a, b, PublisherVerdict::Refused},
      {"changed after signing", a, broken, PublisherVerdict::Refused},
      {"same subject, another issuer", a, aOtherIssuer, PublisherVerdict::Refused},
      {"unsigned installed", none, b, PublisherVerdict::Unverified},
      {"installed with a broken signature", broken, none, PublisherVerdict::Unverified},
  };
  for (const Case& c : cases) EXPECT_EQ(JudgePublisher(c.installed, c.candidate), c.verdict) << c.name;
}

}  // namespace
}  // namespace brivon
