# The version header: generated/ledgerly_version.h in the build folder, made
# from project(VERSION), for every target that links ledgerly_version.
if(PROJECT_VERSION_PATCH EQUAL 0)
  set(LEDGERLY_VERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR})
else()
  set(LEDGERLY_VERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH})
endif()
set(LEDGERLY_GENERATED_DIR ${PROJECT_BINARY_DIR}/generated)
configure_file(${CMAKE_CURRENT_LIST_DIR}/ledgerly_version.h.in
               ${LEDGERLY_GENERATED_DIR}/ledgerly_version.h @ONLY)

add_library(ledgerly_version INTERFACE)
target_include_directories(ledgerly_version INTERFACE ${LEDGERLY_GENERATED_DIR})
