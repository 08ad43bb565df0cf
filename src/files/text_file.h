// Text files the program writes whole in one go: the check-in's report, its reply and the alert
// document.
#pragma once

#include <string>
#include <string_view>

namespace brivon {

// Writes 8-bit text through a text-mode stream (each LF stored as CR LF), replacing the file.
// False when the file could not be opened or written; error, when given, gets the system's code.
bool WriteTextFile(const std::wstring& path, std::string_view text, unsigned long* error = nullptr);
// The bytes WriteTextFile leaves on the disk for text.
std::string TextAsWritten(std::string_view text);

}  // namespace brivon
