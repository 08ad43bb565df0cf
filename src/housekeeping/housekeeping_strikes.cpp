#include "housekeeping/housekeeping_strikes.h"

#include <windows.h>

#include "sevenzip/child_process.h"  // kChildTimedOutExitCode

namespace brivon {

LeftoverFailure ClassifyLeftoverFailure(LeftoverStep step, bool started, unsigned long code, unsigned long givenMs,
                                        unsigned long folderLimitMs, bool driveBelowMargin) {
  if (step != LeftoverStep::Place && !started) return LeftoverFailure::ToolNotStarted;
  if (step != LeftoverStep::Place && code == kChildTimedOutExitCode) {
    return givenMs < folderLimitMs ? LeftoverFailure::CutByBudget : LeftoverFailure::TimedOut;
  }
  if (driveBelowMargin) return LeftoverFailure::DriveFull;
  if (step == LeftoverStep::Place) {
    return code == ERROR_DISK_FULL || code == ERROR_HANDLE_DISK_FULL ? LeftoverFailure::DriveFull
                                                                     : LeftoverFailure::Failed;
  }
  // 7-Zip's own answers about the folder's files: 1, a file it could not read; 2, a fatal error.
  return code == 1 || code == 2 ? LeftoverFailure::Failed : LeftoverFailure::ToolFault;
}

bool IsStrike(LeftoverFailure failure) {
  return failure == LeftoverFailure::Failed || failure == LeftoverFailure::TimedOut;
}

StrikeRecord ParseStrikeRecord(std::string_view text) {
  StrikeRecord record;
  size_t at = 0;
  while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) ++at;
  const size_t digits = at;
  long long count = 0;
  while (at < text.size() && text[at] >= '0' && text[at] <= '9' && count < 1000000) {
    count = count * 10 + (text[at] - '0');
    ++at;
  }
  if (at == digits) return {};
  record.count = static_cast<int>(count);
  const std::string_view tag = ";7za=";
  if (text.substr(at, tag.size()) == tag) {
    at += tag.size();
    const size_t end = text.find_first_of("\r\n \t;", at);
    const std::string_view hex = text.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at);
    if (hex.find_first_not_of("0123456789abcdef") == std::string_view::npos) record.tool = std::string(hex);
  }
  return record;
}

std::string StrikeRecordText(const StrikeRecord& record) {
  // The number first: an older program reading the file still finds its count.
  return std::to_string(record.count) + ";7za=" + record.tool + "\r\n";
}

bool ShouldTryLeftover(const StrikeRecord& record, std::string_view tool) {
  if (record.count < kHousekeepingStrikesBeforeSkip) return true;
  return !tool.empty() && record.tool != tool;
}

}  // namespace brivon
