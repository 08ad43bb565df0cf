// Environment variables of this process, which the programs it starts inherit.
#pragma once

#include <windows.h>

#include <string>

namespace brivon::testing {

// The variable's value; "" when it is not set.
inline std::wstring GetEnv(const wchar_t* name) {
  wchar_t value[1024] = {};
  const DWORD length = ::GetEnvironmentVariableW(name, value, 1024);
  return length > 0 && length < 1024 ? std::wstring(value, length) : std::wstring();
}

// While alive, the variable holds value ("" unsets it); then it is as it was before.
class ScopedVariable {
 public:
  ScopedVariable(const wchar_t* name, const std::wstring& value) : name_(name), old_(GetEnv(name)) {
    ::SetEnvironmentVariableW(name, value.empty() ? nullptr : value.c_str());
  }
  ~ScopedVariable() { ::SetEnvironmentVariableW(name_, old_.empty() ? nullptr : old_.c_str()); }
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  const wchar_t* name_;
  std::wstring old_;
};

}  // namespace brivon::testing
