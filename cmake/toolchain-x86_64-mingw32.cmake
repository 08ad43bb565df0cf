# Cross-compiles the same sources as a 64-bit Windows program, for hosts whose kernel runs no
# 32-bit code: the tests and the demo run it under 64-bit Wine. The release stays i686.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(_prefix x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-cross.cmake)
