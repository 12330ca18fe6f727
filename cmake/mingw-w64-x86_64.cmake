# Cross build for 64-bit Windows with MinGW-w64, POSIX thread model (std::thread and std::mutex work).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TOOLCHAIN_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TOOLCHAIN_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TOOLCHAIN_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TOOLCHAIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Packages too: the host's own (GoogleTest from libgtest-dev, say) are built for Linux.
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Tests run the real executables under Wine, with address space layout randomization off for
# Wine and every process it starts. Debian's wine64 comes without the preloader that reserves
# Wine's fixed addresses before anything else is mapped, and the kernel places the loader's heap
# anywhere in the 1 GB above it: about one start in several thousand the heap lies on the shared
# user data page at 0x7FFE0000, and the process ends at once with exit code 1 ("failed to map the
# shared user data: c0000018"), failing whichever test it was.
find_program(WINE64 NAMES wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
find_program(SETARCH NAMES setarch NO_CMAKE_FIND_ROOT_PATH)
if(WINE64 AND SETARCH)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${SETARCH} x86_64 --addr-no-randomize ${WINE64})
elseif(WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${WINE64})
endif()
