# Cross-build for 64-bit Windows. The program ships as a 32-bit build; this
# one runs the test suite on hosts whose kernel executes no 32-bit code, where
# Wine cannot start a 32-bit program.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
