# Cross build for 64-bit Windows with MinGW-w64 (the posix thread model, so
# that std::thread and friends link), running the built programs under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(LEDGERLY_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${LEDGERLY_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${LEDGERLY_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${LEDGERLY_MINGW_PREFIX}-windres)

# Libraries are looked for among those that cmake/build-mingw-deps.sh built
# (static libxlsxwriter and Expat, by default in build/mingw-deps), then in
# MinGW-w64's own folder (zlib from libz-mingw-w64-dev).
if(NOT LEDGERLY_MINGW_DEPS)
  set(LEDGERLY_MINGW_DEPS ${CMAKE_CURRENT_LIST_DIR}/../build/mingw-deps)
endif()
get_filename_component(LEDGERLY_MINGW_DEPS ${LEDGERLY_MINGW_DEPS} ABSOLUTE)
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES LEDGERLY_MINGW_DEPS)
set(CMAKE_FIND_ROOT_PATH ${LEDGERLY_MINGW_DEPS} /usr/${LEDGERLY_MINGW_PREFIX})
list(APPEND CMAKE_PREFIX_PATH ${LEDGERLY_MINGW_DEPS})
list(REMOVE_DUPLICATES CMAKE_PREFIX_PATH)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Tests and other built programs run through Wine, quietly, in a Wine prefix
# of Ledgerly's own (made on first use), never in the user's ~/.wine.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)
