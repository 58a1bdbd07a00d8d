# Cross build for 64-bit Windows with MinGW-w64 (the posix thread model, so
# that std::thread and friends link), running the built programs under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(LEDGERLY_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${LEDGERLY_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${LEDGERLY_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${LEDGERLY_MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${LEDGERLY_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Tests and other built programs run through Wine, quietly, in a Wine prefix
# of Ledgerly's own (made on first use), never in the user's ~/.wine.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)
