# Cross build for 32-bit Windows with Debian's MinGW-w64 (package
# g++-mingw-w64-i686). The win32 thread model keeps the runtime free of
# winpthread, so the DLL imports system DLLs only. Test programs run under
# Wine when it is installed.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(ZOREK_MINGW_TRIPLE i686-w64-mingw32)
find_program(CMAKE_C_COMPILER NAMES ${ZOREK_MINGW_TRIPLE}-gcc-win32 ${ZOREK_MINGW_TRIPLE}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${ZOREK_MINGW_TRIPLE}-g++-win32 ${ZOREK_MINGW_TRIPLE}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${ZOREK_MINGW_TRIPLE}-windres REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/${ZOREK_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

find_program(ZOREK_WINE NAMES wine)
if(ZOREK_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ZOREK_WINE})
endif()
