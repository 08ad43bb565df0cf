#include "alerts/window/picture_scaling.h"

#include <algorithm>
#include <cmath>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace brivon {
namespace {

constexpr int32_t kOne = 1 << 14;

uint32_t Channel(uint32_t pixel, int shift) { return (pixel >> shift) & 0xFF; }

#if !defined(__SSE2__)
// The weights are never negative and sum to kOne: no sum passes 255 * kOne.
uint32_t Rounded(int32_t sum) {
  const int32_t value = (sum + kOne / 2) >> 14;
  return static_cast<uint32_t>(value < 0 ? 0 : value > 255 ? 255 : value);
}

// A pixel from four channel sums; premultiplied colour never exceeds its alpha, whatever the
// rounding did.
uint32_t PixelOf(const int32_t* sums) {
  const uint32_t alpha = Rounded(sums[0]);
  const uint32_t red = std::min(Rounded(sums[1]), alpha), green = std::min(Rounded(sums[2]), alpha),
                 blue = std::min(Rounded(sums[3]), alpha);
  return alpha << 24 | red << 16 | green << 8 | blue;
}

void Accumulate(int32_t* sums, uint32_t pixel, int32_t weight) {
  sums[0] += static_cast<int32_t>(Channel(pixel, 24)) * weight;
  sums[1] += static_cast<int32_t>(Channel(pixel, 16)) * weight;
  sums[2] += static_cast<int32_t>(Channel(pixel, 8)) * weight;
  sums[3] += static_cast<int32_t>(Channel(pixel, 0)) * weight;
}
#endif

}  // namespace

std::vector<FilterTap> TentTaps(int32_t sourceCount, int32_t destinationCount) {
  std::vector<FilterTap> taps;
  if (sourceCount < 1 || destinationCount < 1) return taps;
  taps.resize(static_cast<size_t>(destinationCount));
  const double step = static_cast<double>(sourceCount) / destinationCount;
  const double radius = step > 1.0 ? step : 1.0;
  for (int32_t d = 0; d < destinationCount; ++d) {
    const double centre = (d + 0.5) * step - 0.5;
    const int32_t low = static_cast<int32_t>(std::floor(centre - radius)) + 1;
    const int32_t high = static_cast<int32_t>(std::ceil(centre + radius)) - 1;
    const int32_t first = std::clamp(low, 0, sourceCount - 1);
    const int32_t last = std::clamp(high, 0, sourceCount - 1);
    std::vector<double> raw(static_cast<size_t>(last - first + 1), 0.0);
    double total = 0;
    for (int32_t i = low; i <= high; ++i) {
      const double weight = 1.0 - std::fabs(i - centre) / radius;
      if (weight <= 0) continue;
      raw[static_cast<size_t>(std::clamp(i, first, last) - first)] += weight;
      total += weight;
    }
    FilterTap& tap = taps[static_cast<size_t>(d)];
    tap.first = first;
    tap.weights.resize(raw.size());
    if (total <= 0) {  // the centre fell on a pixel exactly past every weight: that pixel alone
      tap.weights.assign(raw.size(), 0);
      const int32_t nearest = std::clamp(static_cast<int32_t>(std::lround(centre)), first, last);
      tap.weights[static_cast<size_t>(nearest - first)] = kOne;
      continue;
    }
    int32_t sum = 0;
    size_t largest = 0;
    for (size_t i = 0; i < raw.size(); ++i) {
      tap.weights[i] = static_cast<int32_t>(std::lround(raw[i] / total * kOne));
      sum += tap.weights[i];
      if (tap.weights[i] > tap.weights[largest]) largest = i;
    }
    tap.weights[largest] += kOne - sum;  // the rounding's remainder: the weights sum to one exactly
  }
  return taps;
}

namespace {

// Premultiplied colour never exceeds its alpha, whatever the rounding did.
uint32_t WithinAlpha(uint32_t pixel) {
  const uint32_t alpha = pixel >> 24;
  uint32_t out = pixel & 0xFF000000u;
  for (const int shift : {16, 8, 0}) out |= std::min(Channel(pixel, shift), alpha) << shift;
  return out;
}

#if defined(__SSE2__)
// Two source pixels and their two weights at a time: each 8-bit channel widened to 16 bits beside
// its partner's, multiplied and added in one step into four 32-bit sums (blue, green, red, alpha).
__m128i WeightPair(int32_t first, int32_t second) {
  return _mm_set1_epi32(static_cast<int32_t>((static_cast<uint32_t>(first) & 0xFFFF) |
                                             (static_cast<uint32_t>(second) << 16)));
}

__m128i RoundedSums(__m128i sums) {
  return _mm_srai_epi32(_mm_add_epi32(sums, _mm_set1_epi32(kOne / 2)), 14);
}

// Each colour byte of four pixels at most its pixel's alpha.
__m128i WithinAlphaFour(__m128i pixels) {
  __m128i alpha = _mm_srli_epi32(pixels, 24);
  alpha = _mm_or_si128(alpha, _mm_slli_epi32(alpha, 8));
  alpha = _mm_or_si128(alpha, _mm_slli_epi32(alpha, 16));
  return _mm_min_epu8(pixels, alpha);
}

// Four pixels from their four channel sums each.
__m128i PackedFour(__m128i first, __m128i second, __m128i third, __m128i fourth) {
  const __m128i low = _mm_packs_epi32(RoundedSums(first), RoundedSums(second));
  const __m128i high = _mm_packs_epi32(RoundedSums(third), RoundedSums(fourth));
  return WithinAlphaFour(_mm_packus_epi16(low, high));
}

uint32_t PackedSums(__m128i sums) {
  const __m128i words = _mm_packs_epi32(RoundedSums(sums), RoundedSums(sums));
  return WithinAlpha(static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(words, words))));
}

__m128i SumsAcross(const uint32_t* row, const FilterTap& tap) {
  const __m128i zero = _mm_setzero_si128();
  __m128i sums = zero;
  const uint32_t* from = row + tap.first;
  const size_t count = tap.weights.size();
  size_t t = 0;
  for (; t + 1 < count; t += 2) {
    const __m128i pair = _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(from[t])),
                                           _mm_cvtsi32_si128(static_cast<int>(from[t + 1])));
    sums = _mm_add_epi32(sums, _mm_madd_epi16(_mm_unpacklo_epi8(pair, zero),
                                              WeightPair(tap.weights[t], tap.weights[t + 1])));
  }
  if (t < count) {
    const __m128i single = _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(from[t])), zero);
    sums = _mm_add_epi32(sums, _mm_madd_epi16(_mm_unpacklo_epi16(single, zero), WeightPair(tap.weights[t], 0)));
  }
  return sums;
}

// One row across, four destination pixels packed at a time.
void FilterRowAcross(const uint32_t* row, const std::vector<FilterTap>& taps, uint32_t* out, int32_t width) {
  int32_t x = 0;
  for (; x + 3 < width; x += 4) {
    const FilterTap* tap = &taps[static_cast<size_t>(x)];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x),
                     PackedFour(SumsAcross(row, tap[0]), SumsAcross(row, tap[1]), SumsAcross(row, tap[2]),
                                SumsAcross(row, tap[3])));
  }
  for (; x < width; ++x) out[x] = PackedSums(SumsAcross(row, taps[static_cast<size_t>(x)]));
}

// A row of destination pixels from their channel sums, four at a time.
void PackRow(const int32_t* sums, uint32_t* out, int32_t width) {
  const auto at = [sums](int32_t x) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(sums + static_cast<ptrdiff_t>(x) * 4));
  };
  int32_t x = 0;
  for (; x + 3 < width; x += 4) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), PackedFour(at(x), at(x + 1), at(x + 2), at(x + 3)));
  }
  for (; x < width; ++x) out[x] = PackedSums(at(x));
}

// Adds weight times the pixels of first (and secondWeight times those of second) to sums, four
// 32-bit sums a pixel.
void AddRows(int32_t* sums, const uint32_t* first, int32_t weight, const uint32_t* second, int32_t secondWeight,
             int32_t width) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i weights = WeightPair(weight, secondWeight);
  int32_t x = 0;
  for (; x + 1 < width; x += 2) {
    const __m128i a = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(first + x));
    const __m128i b = second ? _mm_loadl_epi64(reinterpret_cast<const __m128i*>(second + x)) : zero;
    const __m128i both = _mm_unpacklo_epi8(a, b);
    __m128i* at = reinterpret_cast<__m128i*>(sums + static_cast<ptrdiff_t>(x) * 4);
    _mm_storeu_si128(at, _mm_add_epi32(_mm_loadu_si128(at), _mm_madd_epi16(_mm_unpacklo_epi8(both, zero), weights)));
    _mm_storeu_si128(at + 1,
                     _mm_add_epi32(_mm_loadu_si128(at + 1), _mm_madd_epi16(_mm_unpackhi_epi8(both, zero), weights)));
  }
  if (x < width) {
    const __m128i a = _mm_cvtsi32_si128(static_cast<int>(first[x]));
    const __m128i b = second ? _mm_cvtsi32_si128(static_cast<int>(second[x])) : zero;
    __m128i* at = reinterpret_cast<__m128i*>(sums + static_cast<ptrdiff_t>(x) * 4);
    _mm_storeu_si128(at, _mm_add_epi32(_mm_loadu_si128(at),
                                       _mm_madd_epi16(_mm_unpacklo_epi8(_mm_unpacklo_epi8(a, b), zero), weights)));
  }
}
#else
uint32_t FilteredAcross(const uint32_t* row, const FilterTap& tap) {
  int32_t sums[4] = {0, 0, 0, 0};
  const uint32_t* from = row + tap.first;
  for (const int32_t weight : tap.weights) Accumulate(sums, *from++, weight);
  return PixelOf(sums);
}

void FilterRowAcross(const uint32_t* row, const std::vector<FilterTap>& taps, uint32_t* out, int32_t width) {
  for (int32_t x = 0; x < width; ++x) out[x] = FilteredAcross(row, taps[static_cast<size_t>(x)]);
}
#endif

}  // namespace

bool ScalePixels(const ConstPixelRows& source, const PixelRows& destination) {
  if (!source.pixels || !destination.pixels || source.width < 1 || source.height < 1 || destination.width < 1 ||
      destination.height < 1) {
    return false;
  }
  try {
    const std::vector<FilterTap> across = TentTaps(source.width, destination.width);
    const std::vector<FilterTap> down = TentTaps(source.height, destination.height);
    // Across first, each source row once, as the rows down need it: the taps down move only
    // forward, so a ring as deep as the widest of them holds every row a destination row reads.
    size_t depth = 1;
    for (const FilterTap& tap : down) depth = std::max(depth, tap.weights.size());
    const size_t rowPixels = static_cast<size_t>(destination.width);
    std::vector<uint32_t> ring(rowPixels * depth);
    const auto ringRow = [&](int32_t y) { return ring.data() + static_cast<size_t>(y) % depth * rowPixels; };
    int32_t filtered = -1;  // the last source row filtered across
    const auto filterThrough = [&](const FilterTap& tap) {
      filtered = std::max(filtered, tap.first - 1);
      const int32_t last = tap.first + static_cast<int32_t>(tap.weights.size()) - 1;
      for (; filtered < last; ++filtered) {
        const int32_t y = filtered + 1;
        FilterRowAcross(source.pixels + static_cast<ptrdiff_t>(y) * source.stride, across, ringRow(y), destination.width);
      }
    };
    const auto middleRow = [&](size_t t, const FilterTap& tap) {
      return static_cast<const uint32_t*>(ringRow(tap.first + static_cast<int32_t>(t)));
    };
    // Then down, a whole row at a time.
    std::vector<int32_t> sums(static_cast<size_t>(destination.width) * 4);
    for (int32_t y = 0; y < destination.height; ++y) {
      const FilterTap& tap = down[static_cast<size_t>(y)];
      filterThrough(tap);
      std::fill(sums.begin(), sums.end(), 0);
      uint32_t* out = destination.pixels + static_cast<ptrdiff_t>(y) * destination.stride;
#if defined(__SSE2__)
      size_t t = 0;
      for (; t + 1 < tap.weights.size(); t += 2) {
        AddRows(sums.data(), middleRow(t, tap), tap.weights[t], middleRow(t + 1, tap), tap.weights[t + 1],
                destination.width);
      }
      if (t < tap.weights.size()) AddRows(sums.data(), middleRow(t, tap), tap.weights[t], nullptr, 0, destination.width);
      PackRow(sums.data(), out, destination.width);
#else
      for (size_t t = 0; t < tap.weights.size(); ++t) {
        const uint32_t* row = middleRow(t, tap);
        for (int32_t x = 0; x < destination.width; ++x) {
          Accumulate(&sums[static_cast<size_t>(x) * 4], row[x], tap.weights[t]);
        }
      }
      for (int32_t x = 0; x < destination.width; ++x) out[x] = PixelOf(&sums[static_cast<size_t>(x) * 4]);
#endif
    }
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

void LayOverOpaque(const PixelRows& pixels, uint32_t backdrop) {
  for (int32_t y = 0; y < pixels.height; ++y) {
    uint32_t* row = pixels.pixels + static_cast<ptrdiff_t>(y) * pixels.stride;
    for (int32_t x = 0; x < pixels.width; ++x) {
      const uint32_t pixel = row[x];
      const uint32_t uncovered = 255 - Channel(pixel, 24);
      if (uncovered == 0) {
        row[x] = pixel | 0xFF000000u;
        continue;
      }
      uint32_t out = 0xFF000000u;
      for (const int shift : {16, 8, 0}) {
        const uint32_t value = Channel(pixel, shift) + (Channel(backdrop, shift) * uncovered + 127) / 255;
        out |= std::min<uint32_t>(value, 255) << shift;
      }
      row[x] = out;
    }
  }
}

}  // namespace brivon
