# Cross-compiles the 32-bit Windows program, the release, with MinGW-w64.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(_prefix i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-cross.cmake)

# Floating point on SSE2, as the x86-64 build computes it: the x87 unit keeps 80-bit
# intermediates, so a float quotient or product could come out one unit apart from true single
# precision, depending on register allocation, and move a picture's edge by a pixel.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
