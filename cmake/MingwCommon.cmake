# Shared part of the two MinGW toolchain files. The "posix" thread model is
# used because the tests start threads with std::thread; everything links
# statically, so no MinGW runtime DLL has to travel with a binary.
set(CMAKE_C_COMPILER   ${SELFEX_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${SELFEX_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER  ${SELFEX_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${SELFEX_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# No link time in the PE headers, so that the same sources link to the same
# bytes.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -Wl,--no-insert-timestamp")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-Wl,--no-insert-timestamp")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-Wl,--no-insert-timestamp")

# Programs built here run under the 64-bit Wine loader; the plain "wine"
# launcher picks the 32-bit loader on Debian. The i686 build is never run.
if(SELFEX_MINGW_TRIPLE STREQUAL "x86_64-w64-mingw32")
  find_program(SELFEX_WINE64 NAMES wine64 PATHS /usr/lib/wine /usr/lib64/wine NO_CMAKE_FIND_ROOT_PATH)
endif()
