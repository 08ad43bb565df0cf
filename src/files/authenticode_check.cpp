#include "files/authenticode_check.h"

#include <windows.h>
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <vector>

#include "common/system_library.h"

namespace brivon {
namespace {

// The check's libraries load with the first check, not with the program: most starts hold no
// update, and loading them cost each start about as much as its check-in's POST.
struct TrustLibrary {
  UniqueModule wintrust;
  UniqueModule crypt32;
  decltype(&::WinVerifyTrust) verify = nullptr;
  decltype(&::WTHelperProvDataFromStateData) providerData = nullptr;
  decltype(&::WTHelperGetProvSignerFromChain) signer = nullptr;
  decltype(&::WTHelperGetProvCertFromChain) certificate = nullptr;
  decltype(&::CertNameToStrW) nameToString = nullptr;
  bool loaded() const { return verify && providerData && signer && certificate && nameToString; }
};

// Loaded once, by whichever thread checks first; kept until the program ends.
const TrustLibrary& Trust() {
  static const TrustLibrary library = [] {
    TrustLibrary l;
    l.wintrust = LoadSystemLibrary(L"wintrust.dll");
    l.crypt32 = LoadSystemLibrary(L"crypt32.dll");
    l.verify = SystemFunction<decltype(l.verify)>(l.wintrust, "WinVerifyTrust");
    l.providerData = SystemFunction<decltype(l.providerData)>(l.wintrust, "WTHelperProvDataFromStateData");
    l.signer = SystemFunction<decltype(l.signer)>(l.wintrust, "WTHelperGetProvSignerFromChain");
    l.certificate = SystemFunction<decltype(l.certificate)>(l.wintrust, "WTHelperGetProvCertFromChain");
    l.nameToString = SystemFunction<decltype(l.nameToString)>(l.crypt32, "CertNameToStrW");
    return l;
  }();
  return library;
}

std::wstring NameText(const CERT_NAME_BLOB& name) {
  CERT_NAME_BLOB copy = name;
  const DWORD flags = CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG;
  DWORD length = Trust().nameToString(X509_ASN_ENCODING, &copy, flags, nullptr, 0);
  if (length <= 1) return {};
  std::vector<wchar_t> text(length);
  Trust().nameToString(X509_ASN_ENCODING, &copy, flags, text.data(), length);
  return std::wstring(text.data());
}

}  // namespace

SignatureFacts ReadSignature(const std::wstring& path) {
  SignatureFacts facts;
  const TrustLibrary& trust = Trust();
  if (!trust.loaded()) {  // no check possible: never taken for a valid signature
    facts.status = ERROR_MOD_NOT_FOUND;
    facts.state = SignatureState::Invalid;
    return facts;
  }
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
  facts.status = trust.verify(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  if (facts.status == ERROR_SUCCESS) {
    facts.state = SignatureState::Valid;
    CRYPT_PROVIDER_DATA* provider = trust.providerData(data.hWVTStateData);
    CRYPT_PROVIDER_SGNR* signer = provider ? trust.signer(provider, 0, FALSE, 0) : nullptr;
    CRYPT_PROVIDER_CERT* certificate = signer ? trust.certificate(signer, 0) : nullptr;
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
  trust.verify(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
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
