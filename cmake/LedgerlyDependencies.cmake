# The third-party libraries, as the same two imported targets on every build:
#   ledgerly::xlsxwriter  libxlsxwriter with zlib (writing workbooks)
#   ledgerly::expat       Expat (reading ADX logs)
# Natively they are Debian's shared libraries (libxlsxwriter-dev, zlib1g-dev,
# libexpat1-dev). For Windows they are static, so that the programs need no
# DLL but Windows's own: libxlsxwriter and Expat from the prefix that
# cmake/build-mingw-deps.sh fills (on the search path through the toolchain
# file), zlib from libz-mingw-w64-dev.
include_guard(GLOBAL)

if(MINGW)
  set(ZLIB_USE_STATIC_LIBS ON)
  set(ledgerly_xlsxwriter_names libxlsxwriter.a)
  find_library(EXPAT_LIBRARY NAMES libexpat.a)
  set(ledgerly_missing_hint "run cmake/build-mingw-deps.sh build/mingw-deps (scripts/install-deps.sh installs what it needs)")
else()
  set(ledgerly_xlsxwriter_names xlsxwriter)
  set(ledgerly_missing_hint "install libxlsxwriter-dev, zlib1g-dev and libexpat1-dev (scripts/install-deps.sh)")
endif()

find_package(ZLIB)
find_package(EXPAT)
find_path(LEDGERLY_XLSXWRITER_INCLUDE_DIR xlsxwriter.h)
find_library(LEDGERLY_XLSXWRITER_LIBRARY NAMES ${ledgerly_xlsxwriter_names})
if(NOT ZLIB_FOUND OR NOT EXPAT_FOUND OR NOT LEDGERLY_XLSXWRITER_INCLUDE_DIR OR NOT LEDGERLY_XLSXWRITER_LIBRARY)
  message(FATAL_ERROR "libxlsxwriter, zlib or Expat not found: ${ledgerly_missing_hint}")
endif()

add_library(ledgerly::xlsxwriter UNKNOWN IMPORTED)
set_target_properties(ledgerly::xlsxwriter PROPERTIES
  IMPORTED_LOCATION "${LEDGERLY_XLSXWRITER_LIBRARY}"
  INTERFACE_INCLUDE_DIRECTORIES "${LEDGERLY_XLSXWRITER_INCLUDE_DIR}"
  INTERFACE_LINK_LIBRARIES ZLIB::ZLIB)

add_library(ledgerly::expat INTERFACE IMPORTED)
set_target_properties(ledgerly::expat PROPERTIES INTERFACE_LINK_LIBRARIES EXPAT::EXPAT)
if(MINGW)
  # Expat's header declares its functions imported from a DLL unless told
  # the library is static.
  set_target_properties(ledgerly::expat PROPERTIES INTERFACE_COMPILE_DEFINITIONS XML_STATIC)
endif()
