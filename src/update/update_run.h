// One update run: download the package named by an update alert and install it in place of the
// sibling program's executable, archiving the replaced version. Every stage logs its line.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace brivon {

// What a run is doing, in the order a person sees it. Installing comes again after the previous
// version is kept when a ZIP's program is moved in last. NeedsFreeSpace: the run was refused for
// the room on the program's drive, the last thing it says.
enum class UpdateStage : int { Downloading, Extracting, Installing, KeepingPrevious, NeedsFreeSpace };

// Downloading: bytes so far and the announced size (0 when the server did not say). Extracting:
// 7-Zip's own percentage out of 100 (total 0 until it gives one). The other stages have no measure.
struct UpdateProgress {
  UpdateStage stage = UpdateStage::Downloading;
  uint64_t soFar = 0;
  uint64_t total = 0;
};
using UpdateProgressFn = std::function<void(const UpdateProgress&)>;

// packageUrl: 8-bit, exactly as the alert document holds it. Reports nothing to the caller; the
// installed program is never left missing: whatever fails, the previous executable is put back.
void RunUpdate(const std::string& packageUrl, const UpdateProgressFn& progress = {});

// The same for a given program folder (the run above uses the running executable's folder).
void RunUpdateIn(const std::wstring& programFolder, const std::string& packageUrl,
                 const UpdateProgressFn& progress = {});

}  // namespace brivon
