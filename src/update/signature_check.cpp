#include "update/signature_check.h"

#include <windows.h>
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <vector>

namespace brivon {
namespace {

std::wstring NameText(const CERT_NAME_BLOB& name) {
  CERT_NAME_BLOB copy = name;
  const DWORD flags = CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG;
  DWORD length = ::CertNameToStrW(X509_ASN_ENCODING, &copy, flags, nullptr, 0);
  if (length <= 1) return {};
  std::vector<wchar_t> text(length);
  ::CertNameToStrW(X509_ASN_ENCODING, &copy, flags, text.data(), length);
  return std::wstring(text.data());
}

}  // namespace

SignatureFacts ReadSignature(const std::wstring& path) {
  SignatureFacts facts;
  WINTRUST_FILE_INFO file{};
  file.cbStruct = sizeof(file);
  file.pcwszFilePath = path.c_str();
  WINTRUST_DATA data{};
  data.cbStruct = sizeof(data);
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &file;
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL | WTD_REVOCATION_CHECK_NONE;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  facts.status = ::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  if (facts.status == ERROR_SUCCESS) {
    facts.state = SignatureState::Valid;
    CRYPT_PROVIDER_DATA* provider = ::WTHelperProvDataFromStateData(data.hWVTStateData);
    CRYPT_PROVIDER_SGNR* signer = provider ? ::WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
    CRYPT_PROVIDER_CERT* certificate = signer ? ::WTHelperGetProvCertFromChain(signer, 0) : nullptr;
    if (certificate && certificate->pCert && certificate->pCert->pCertInfo) {
      facts.subject = NameText(certificate->pCert->pCertInfo->Subject);
      facts.issuer = NameText(certificate->pCert->pCertInfo->Issuer);
    }
    // Valid, yet no signer to name: nothing to compare a publisher with.
    if (facts.subject.empty()) facts.state = SignatureState::Invalid;
  } else if (facts.status == TRUST_E_NOSIGNATURE || facts.status == TRUST_E_SUBJECT_FORM_UNKNOWN ||
             facts.status == TRUST_E_PROVIDER_UNKNOWN) {
    facts.state = SignatureState::Unsigned;
  } else {
    facts.state = SignatureState::Invalid;
  }
  data.dwStateAction = WTD_STATEACTION_CLOSE;
  ::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  return facts;
}

PublisherVerdict JudgePublisher(const SignatureFacts& installed, const SignatureFacts& candidate) {
  if (installed.state != SignatureState::Valid) return PublisherVerdict::Unverified;
  if (candidate.state == SignatureState::Valid && candidate.subject == installed.subject &&
      candidate.issuer == installed.issuer) {
    return PublisherVerdict::SamePublisher;
  }
  return PublisherVerdict::Refused;
}

}  // namespace brivon
