# libxlsxwriter as the imported target ledgerly::xlsxwriter. Found with
# find_path/find_library, so a prefix on CMAKE_PREFIX_PATH (or, when cross
# building, under CMAKE_FIND_ROOT_PATH) is searched before the system's. A
# static library brings zlib, which it is built on, along.
if(TARGET ledgerly::xlsxwriter)
  return()
endif()
find_path(LEDGERLY_XLSXWRITER_INCLUDE_DIR xlsxwriter.h)
if(MINGW)
  # The Windows programs are linked statically.
  find_library(LEDGERLY_XLSXWRITER_LIBRARY NAMES libxlsxwriter.a xlsxwriter)
else()
  find_library(LEDGERLY_XLSXWRITER_LIBRARY NAMES xlsxwriter)
endif()
if(NOT LEDGERLY_XLSXWRITER_INCLUDE_DIR OR NOT LEDGERLY_XLSXWRITER_LIBRARY)
  message(FATAL_ERROR "libxlsxwriter not found: install libxlsxwriter-dev, or put the prefix "
                      "it is installed under on CMAKE_PREFIX_PATH")
endif()
add_library(ledgerly::xlsxwriter UNKNOWN IMPORTED)
set_target_properties(ledgerly::xlsxwriter PROPERTIES
  IMPORTED_LOCATION "${LEDGERLY_XLSXWRITER_LIBRARY}"
  INTERFACE_INCLUDE_DIRECTORIES "${LEDGERLY_XLSXWRITER_INCLUDE_DIR}")
if(LEDGERLY_XLSXWRITER_LIBRARY MATCHES "\\.a$" AND NOT LEDGERLY_XLSXWRITER_LIBRARY MATCHES "\\.dll\\.a$")
  find_library(LEDGERLY_ZLIB_LIBRARY NAMES libz.a z zlib)
  if(NOT LEDGERLY_ZLIB_LIBRARY)
    message(FATAL_ERROR "zlib not found for the static libxlsxwriter ${LEDGERLY_XLSXWRITER_LIBRARY}")
  endif()
  set_property(TARGET ledgerly::xlsxwriter APPEND PROPERTY
               INTERFACE_LINK_LIBRARIES "${LEDGERLY_ZLIB_LIBRARY}")
endif()
message(STATUS "libxlsxwriter: ${LEDGERLY_XLSXWRITER_LIBRARY}")
