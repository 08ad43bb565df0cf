#include "support/powershell_standin_parse.h"

#include <cwctype>

namespace brivon::testing {
namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }
bool IsSingleQuote(wchar_t c) { return c == L'\'' || (c >= 0x2018 && c <= 0x201B); }
bool IsDoubleQuote(wchar_t c) { return c == L'"' || (c >= 0x201C && c <= 0x201E); }
bool SameText(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::towlower(a[i]) != std::towlower(b[i])) return false;
  }
  return true;
}

// "$" starts a variable or a sub-expression before these; elsewhere it is an ordinary character.
bool StartsExpansion(std::wstring_view text, size_t dollar) {
  if (dollar + 1 >= text.size()) return false;
  wchar_t next = text[dollar + 1];
  return std::iswalnum(next) || next == L'_' || next == L'{' || next == L'(' || next == L'?' || next == L'^' ||
         next == L'$';
}

struct Token {
  std::wstring text;
  bool quoted = false;
};

wchar_t BacktickEscape(wchar_t c) {
  switch (c) {
    case L'0': return L'\0';
    case L'a': return L'\a';
    case L'b': return L'\b';
    case L'f': return L'\f';
    case L'n': return L'\n';
    case L'r': return L'\r';
    case L't': return L'\t';
    case L'v': return L'\v';
    default: return c;
  }
}

bool Tokenize(std::wstring_view s, std::vector<Token>* tokens, std::wstring* why) {
  size_t i = 0;
  while (i < s.size()) {
    if (IsBlank(s[i])) {
      ++i;
      continue;
    }
    Token token;
    if (IsSingleQuote(s[i])) {
      token.quoted = true;
      for (++i;; ++i) {
        if (i >= s.size()) return *why = L"unterminated single-quoted string", false;
        if (IsSingleQuote(s[i])) {
          if (i + 1 < s.size() && IsSingleQuote(s[i + 1])) {
            token.text += s[++i];
            continue;
          }
          ++i;
          break;
        }
        token.text += s[i];
      }
    } else if (IsDoubleQuote(s[i])) {
      token.quoted = true;
      for (++i;; ++i) {
        if (i >= s.size()) return *why = L"unterminated double-quoted string", false;
        if (s[i] == L'`') {
          if (++i >= s.size()) return *why = L"backtick at the end", false;
          token.text += BacktickEscape(s[i]);
          continue;
        }
        if (s[i] == L'$' && StartsExpansion(s, i)) return *why = L"variable or sub-expression in a string", false;
        if (IsDoubleQuote(s[i])) {
          if (i + 1 < s.size() && IsDoubleQuote(s[i + 1])) {
            token.text += s[++i];
            continue;
          }
          ++i;
          break;
        }
        token.text += s[i];
      }
    } else {
      for (; i < s.size() && !IsBlank(s[i]); ++i) {
        wchar_t c = s[i];
        if (c == L'`') {
          if (++i >= s.size()) return *why = L"backtick at the end", false;
          token.text += s[i];
          continue;
        }
        if (c == L'$' && StartsExpansion(s, i)) return *why = L"variable or sub-expression", false;
        if (IsSingleQuote(c) || IsDoubleQuote(c)) return *why = L"quote inside a bare word", false;
        if (std::wstring_view(L";|&<>(){}@,").find(c) != std::wstring_view::npos) {
          return *why = std::wstring(L"operator character ") + c, false;
        }
        token.text += c;
      }
    }
    if (token.quoted && i < s.size() && !IsBlank(s[i])) return *why = L"text right after a string", false;
    tokens->push_back(token);
  }
  return true;
}

int Base64Value(wchar_t c) {
  if (c >= L'A' && c <= L'Z') return c - L'A';
  if (c >= L'a' && c <= L'z') return c - L'a' + 26;
  if (c >= L'0' && c <= L'9') return c - L'0' + 52;
  if (c == L'+') return 62;
  if (c == L'/') return 63;
  return -1;
}

bool MatchSet(std::wstring_view pattern, size_t* p, wchar_t c, bool* matched) {
  // *p is just past '['.
  wchar_t lc = std::towlower(c);
  bool any = false;
  size_t i = *p;
  bool first = true;
  while (i < pattern.size() && (pattern[i] != L']' || first)) {
    first = false;
    wchar_t low = pattern[i];
    if (low == L'`' && i + 1 < pattern.size()) low = pattern[++i];
    ++i;
    wchar_t high = low;
    if (i + 1 < pattern.size() && pattern[i] == L'-' && pattern[i + 1] != L']') {
      high = pattern[i + 1];
      if (high == L'`' && i + 2 < pattern.size()) high = pattern[++i + 1];
      i += 2;
    }
    if (lc >= std::towlower(low) && lc <= std::towlower(high)) any = true;
  }
  if (i >= pattern.size()) return false;  // no closing bracket: not a valid pattern
  *p = i + 1;
  *matched = any;
  return true;
}

bool Match(std::wstring_view pattern, size_t p, std::wstring_view name, size_t n) {
  while (p < pattern.size()) {
    wchar_t c = pattern[p];
    if (c == L'*') {
      for (size_t k = n; k <= name.size(); ++k) {
        if (Match(pattern, p + 1, name, k)) return true;
      }
      return false;
    }
    if (n >= name.size()) return false;
    if (c == L'?') {
      ++p;
    } else if (c == L'[') {
      size_t next = p + 1;
      bool matched = false;
      if (!MatchSet(pattern, &next, name[n], &matched) || !matched) return false;
      p = next;
    } else {
      if (c == L'`' && p + 1 < pattern.size()) c = pattern[++p];
      if (std::towlower(c) != std::towlower(name[n])) return false;
      ++p;
    }
    ++n;
  }
  return n == name.size();
}

}  // namespace

std::vector<std::wstring> SplitCommandLine(std::wstring_view line) {
  std::vector<std::wstring> words;
  size_t i = 0;
  for (;;) {
    while (i < line.size() && IsBlank(line[i])) ++i;
    if (i >= line.size()) break;
    std::wstring word;
    bool quoted = false;
    while (i < line.size() && (quoted || !IsBlank(line[i]))) {
      if (line[i] == L'\\') {
        size_t run = 0;
        while (i < line.size() && line[i] == L'\\') ++run, ++i;
        if (i < line.size() && line[i] == L'"') {
          word.append(run / 2, L'\\');
          if (run % 2) {
            word += L'"';
            ++i;
          }
        } else {
          word.append(run, L'\\');
        }
        continue;
      }
      if (line[i] == L'"') {
        if (quoted && i + 1 < line.size() && line[i + 1] == L'"') {
          word += L'"';
          i += 2;
          continue;
        }
        quoted = !quoted;
        ++i;
        continue;
      }
      word += line[i++];
    }
    words.push_back(word);
  }
  return words;
}

bool DecodeBase64Utf16(std::wstring_view base64, std::wstring* text) {
  std::string bytes;
  unsigned buffer = 0;
  int bits = 0;
  size_t i = 0;
  for (; i < base64.size() && base64[i] != L'='; ++i) {
    int v = Base64Value(base64[i]);
    if (v < 0) return false;
    buffer = (buffer << 6) | static_cast<unsigned>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      bytes += static_cast<char>((buffer >> bits) & 0xFF);
    }
  }
  for (; i < base64.size(); ++i) {
    if (base64[i] != L'=') return false;
  }
  if (bytes.size() % 2) return false;
  text->clear();
  for (size_t k = 0; k < bytes.size(); k += 2) {
    text->push_back(static_cast<wchar_t>(static_cast<unsigned char>(bytes[k]) |
                                         (static_cast<unsigned char>(bytes[k + 1]) << 8)));
  }
  return true;
}

bool ReadPowerShellSwitches(const std::vector<std::wstring>& words, std::wstring* command, std::wstring* why) {
  command->clear();
  for (size_t i = 0; i < words.size(); ++i) {
    const std::wstring& w = words[i];
    if (SameText(w, L"-NoProfile") || SameText(w, L"-NonInteractive")) continue;
    if (SameText(w, L"-ExecutionPolicy")) {
      if (++i >= words.size()) return *why = L"-ExecutionPolicy without a value", false;
      static const wchar_t* const kPolicies[] = {L"Bypass", L"Unrestricted", L"RemoteSigned", L"AllSigned",
                                                 L"Restricted", L"Default", L"Undefined"};
      bool known = false;
      for (const wchar_t* policy : kPolicies) known = known || SameText(words[i], policy);
      if (!known) return *why = L"unknown execution policy " + words[i], false;
      continue;
    }
    if (SameText(w, L"-Command")) {
      if (i + 1 >= words.size()) return *why = L"-Command without a command", false;
      for (size_t k = i + 1; k < words.size(); ++k) {
        if (k > i + 1) *command += L' ';
        *command += words[k];
      }
      return true;
    }
    if (SameText(w, L"-EncodedCommand")) {
      if (i + 2 != words.size()) return *why = L"-EncodedCommand needs exactly one value, last", false;
      if (!DecodeBase64Utf16(words[i + 1], command)) return *why = L"-EncodedCommand is not base64 UTF-16", false;
      return true;
    }
    return *why = L"unknown switch " + w, false;
  }
  return *why = L"no command", false;
}

bool ParseCompressArchive(std::wstring_view command, CompressArchiveCall* call, std::wstring* why) {
  *call = CompressArchiveCall();
  std::vector<Token> tokens;
  if (!Tokenize(command, &tokens, why)) return false;
  if (tokens.empty() || tokens[0].quoted || !SameText(tokens[0].text, L"Compress-Archive")) {
    return *why = L"not a Compress-Archive command", false;
  }
  bool havePath = false, haveDestination = false;
  for (size_t i = 1; i < tokens.size(); ++i) {
    const Token& t = tokens[i];
    if (t.quoted || t.text.empty() || t.text[0] != L'-') return *why = L"positional value " + t.text, false;
    std::wstring name = t.text.substr(1);
    if (SameText(name, L"Force")) {
      if (call->force) return *why = L"-Force twice", false;
      call->force = true;
      continue;
    }
    bool isPath = SameText(name, L"Path"), isLiteral = SameText(name, L"LiteralPath");
    bool isDestination = SameText(name, L"DestinationPath");
    if (!isPath && !isLiteral && !isDestination) return *why = L"unknown parameter " + t.text, false;
    if (i + 1 >= tokens.size()) return *why = t.text + L" without a value", false;
    const Token& value = tokens[++i];
    if (!value.quoted && !value.text.empty() && value.text[0] == L'-') return *why = t.text + L" without a value", false;
    if (isDestination) {
      if (haveDestination) return *why = L"-DestinationPath twice", false;
      haveDestination = true;
      call->destination = value.text;
    } else {
      if (havePath) return *why = L"two paths", false;
      havePath = true;
      call->literalPath = isLiteral;
      call->path = value.text;
    }
  }
  if (!havePath) return *why = L"no -Path or -LiteralPath", false;
  if (!haveDestination) return *why = L"no -DestinationPath", false;
  if (call->path.empty() || call->destination.empty()) return *why = L"empty path", false;
  return true;
}

bool MatchesWildcard(std::wstring_view pattern, std::wstring_view name) { return Match(pattern, 0, name, 0); }

bool HasWildcard(std::wstring_view pattern) {
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == L'`') {
      ++i;
      continue;
    }
    if (pattern[i] == L'*' || pattern[i] == L'?' || pattern[i] == L'[') return true;
  }
  return false;
}

std::wstring RemoveWildcardEscapes(std::wstring_view pattern) {
  std::wstring out;
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == L'`' && i + 1 < pattern.size()) ++i;
    out += pattern[i];
  }
  return out;
}

}  // namespace brivon::testing
