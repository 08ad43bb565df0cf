#include "sevenzip/extraction_progress.h"

namespace brivon {
namespace {

// 100 has three digits; anything longer is no percentage.
constexpr int kMaxDigits = 3;

bool IsLineBreak(char c) { return c == '\r' || c == '\n' || c == '\b'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

void ExtractionProgressReader::Feed(const char* data, size_t size) {
  for (size_t i = 0; i < size; ++i) {
    const char c = data[i];
    if (IsLineBreak(c)) {
      state_ = State::kLineStart;
      continue;
    }
    switch (state_) {
      case State::kLineStart:
        if (IsDigit(c)) {
          state_ = State::kNumber;
          number_ = c - '0';
          digits_ = 1;
        } else if (c != ' ') {
          state_ = State::kRestOfLine;
        }
        break;
      case State::kNumber:
        if (IsDigit(c) && digits_ < kMaxDigits) {
          number_ = number_ * 10 + (c - '0');
          ++digits_;
        } else {
          if (c == '%' && number_ <= 100 && (!percent_ || number_ > *percent_)) percent_ = number_;
          state_ = State::kRestOfLine;
        }
        break;
      case State::kRestOfLine:
        break;
    }
  }
}

}  // namespace brivon
