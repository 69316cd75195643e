# Cross-building for Windows (x86_64) with Debian's mingw-w64, posix thread flavour (the win32
# flavour has no std::mutex that GoogleTest can use). Linked -static: the programs need no
# DLL but the system's (without it libstdc++ and libwinpthread are missing at start-up).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
# Windows 7 and later.
add_compile_definitions(_WIN32_WINNT=0x0601)
# Tests run under wine64 where it is installed; the 32-bit build cannot run here at all.
find_program(QUENVOL_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(QUENVOL_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QUENVOL_WINE64})
endif()
