// Whose program is it: the Authenticode signature of an executable, read with WinVerifyTrust,
// and the rule that lets a new executable take the place of the installed one.
#pragma once

#include <string>

namespace brivon {

enum class SignatureState {
  Valid,     // signed, and the signature covers the file as it is
  Unsigned,  // no signature at all
  Invalid,   // a signature that does not hold (a byte changed after signing, a broken blob)
};

struct SignatureFacts {
  SignatureState state = SignatureState::Unsigned;
  long status = 0;       // what WinVerifyTrust answered
  std::wstring subject;  // the signer's certificate, as X.500 names; empty unless Valid
  std::wstring issuer;
};

// No user interface, no revocation check over the network.
SignatureFacts ReadSignature(const std::wstring& path);

enum class PublisherVerdict {
  SamePublisher,  // the installed program is signed and the new one by the same signer
  Refused,        // the installed program is signed and the new one is not, or by someone else
  Unverified,     // the installed program carries no valid signature: nothing to compare with
};

PublisherVerdict JudgePublisher(const SignatureFacts& installed, const SignatureFacts& candidate);

}  // namespace brivon
