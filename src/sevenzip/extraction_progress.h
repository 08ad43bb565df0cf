// The percentage 7-Zip reports while it unpacks, read from its progress output (-bsp1).
#pragma once

#include <cstddef>
#include <optional>

namespace brivon {

// Fed 7-Zip's output as it arrives, in pieces split anywhere. 7-Zip redraws one progress line,
// "<right-aligned percent>%[ <files done>][ - <file name>]", erasing the previous one first ("\r",
// spaces, "\r"; older builds back up with "\b"). Only a number that opens such a line and is followed
// straight by '%' counts, so a file name like "50% off.txt" or a header line is never taken for
// progress. The percentage reported never goes back.
class ExtractionProgressReader {
 public:
  void Feed(const char* data, size_t size);
  // The highest percentage seen so far, 0..100; none before 7-Zip's first.
  std::optional<int> Percent() const { return percent_; }

 private:
  enum class State { kLineStart, kNumber, kRestOfLine };
  State state_ = State::kLineStart;
  int number_ = 0;
  int digits_ = 0;
  std::optional<int> percent_;
};

}  // namespace brivon
