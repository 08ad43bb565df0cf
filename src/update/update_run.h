// One update run: download the package named by an update alert and install it in place of the
// sibling program's executable, archiving the replaced version. Every stage logs its line.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace brivon {

// Bytes so far and the announced size (0 when the server did not say).
using UpdateProgressFn = std::function<void(uint64_t soFar, uint64_t total)>;

// packageUrl: 8-bit, exactly as the alert document holds it. Reports nothing to the caller; the
// installed program is never left missing: whatever fails, the previous executable is put back.
void RunUpdate(const std::string& packageUrl, const UpdateProgressFn& progress = {});

// The same for a given program folder (the run above uses the running executable's folder).
void RunUpdateIn(const std::wstring& programFolder, const std::string& packageUrl,
                 const UpdateProgressFn& progress = {});

}  // namespace brivon
