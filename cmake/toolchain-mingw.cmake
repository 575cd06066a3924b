# Cross-build for Windows with Debian's mingw-w64, win32-thread variant: its
# runtime threads through the Win32 API that Windows 2000 has, where the
# posix-thread one links libwinpthread, which imports functions of Vista
# (GetTickCount64). Included by the per-architecture toolchain files, which
# set MINGW_TRIPLE and the processor.
set(CMAKE_SYSTEM_NAME Windows)
find_program(MINGW_CC  ${MINGW_TRIPLE}-gcc-win32 REQUIRED)
find_program(MINGW_CXX ${MINGW_TRIPLE}-g++-win32 REQUIRED)
find_program(MINGW_RC  ${MINGW_TRIPLE}-windres REQUIRED)
set(CMAKE_C_COMPILER ${MINGW_CC})
set(CMAKE_CXX_COMPILER ${MINGW_CXX})
set(CMAKE_RC_COMPILER ${MINGW_RC})

set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Nothing but the game's own files sits beside the launcher: no libgcc or
# libstdc++ DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
