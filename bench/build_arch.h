// Which build a bench runs in, named in its output.
#pragma once

namespace brivon::bench {

#if defined(__x86_64__) || defined(_M_X64)
inline constexpr char kBuildArch[] = "x86_64";
#else
inline constexpr char kBuildArch[] = "i686";
#endif

}  // namespace brivon::bench
