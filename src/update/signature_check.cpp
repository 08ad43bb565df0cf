#include "update/signature_check.h"

#include <windows.h>
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <vector>

#include "common/unique_handle.h"

namespace brivon {
namespace {

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
constexpr DWORD LOAD_LIBRARY_SEARCH_SYSTEM32 = 0x00000800;
#endif

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

// Only from the system folder: the program folder is writable by the signed-in user.
UniqueModule LoadSystemLibrary(const wchar_t* name) {
  HMODULE module = ::LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (module == nullptr) {
    wchar_t system[MAX_PATH] = {};
    const UINT length = ::GetSystemDirectoryW(system, MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
      module = ::LoadLibraryExW((std::wstring(system) + L"\\" + name).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    }
  }
  return UniqueModule(module);
}

template <typename Function>
void Bind(const UniqueModule& module, const char* name, Function* function) {
  FARPROC address = module ? ::GetProcAddress(module.get(), name) : nullptr;
  *function = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
}

// Loaded once, by whichever thread checks first; kept until the program ends.
const TrustLibrary& Trust() {
  static const TrustLibrary library = [] {
    TrustLibrary l;
    l.wintrust = LoadSystemLibrary(L"wintrust.dll");
    l.crypt32 = LoadSystemLibrary(L"crypt32.dll");
    Bind(l.wintrust, "WinVerifyTrust", &l.verify);
    Bind(l.wintrust, "WTHelperProvDataFromStateData", &l.providerData);
    Bind(l.wintrust, "WTHelperGetProvSignerFromChain", &l.signer);
    Bind(l.wintrust, "WTHelperGetProvCertFromChain", &l.certificate);
    Bind(l.crypt32, "CertNameToStrW", &l.nameToString);
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
