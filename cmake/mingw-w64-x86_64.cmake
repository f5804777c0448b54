# Cross compiling for 64-bit Windows with Debian's mingw-w64 (posix threads).
# Used both for Qt itself and for our own code (through the cross Qt's qt-cmake).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QV_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QV_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QV_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QV_MINGW_TRIPLE}-windres)
set(CMAKE_AR ${QV_MINGW_TRIPLE}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${QV_MINGW_TRIPLE}-gcc-ranlib-posix CACHE FILEPATH "")

# Look for libraries and headers in the cross sysroot (and in the cross Qt,
# which qt-cmake adds to CMAKE_FIND_ROOT_PATH), programs on the build machine.
list(APPEND CMAKE_FIND_ROOT_PATH /usr/${QV_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Tests run under Wine from the build machine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine64)
