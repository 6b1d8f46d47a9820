set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QUIB_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QUIB_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUIB_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QUIB_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${QUIB_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Test programs run under Wine 64-bit, in the prefix and display that
# scripts/test.sh prepares (scripts/wine-run).
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
