# Installing and packaging. Built natively: ledgerly-convert in bin/, its
# manual page (gzip-compressed) in share/man/man1, README.md, CHANGELOG.md and
# the copyright file in share/doc/ledgerly, packed by CPack as the Debian
# package "ledgerly" (its dependencies found by dpkg-shlibdeps). Built for
# Windows: Ledgerly.exe, ledgerly-convert.exe, README.txt for Windows users,
# the sample log and LICENSES.txt in one ZIP archive.
include(GNUInstallDirs)

# ledgerly_write_licenses(OUTPUT): writes OUTPUT, the licences of the
# libraries linked into the Windows programs, with the versions built, from
# what cmake/build-mingw-deps.sh left in LEDGERLY_MINGW_DEPS (its stamp
# .ledgerly-deps and Debian's copyright files in share/doc). Configuring
# again follows a new build of the libraries.
function(ledgerly_write_licenses output)
  set(deps ${LEDGERLY_MINGW_DEPS})
  set(stamp ${deps}/.ledgerly-deps)
  if(NOT EXISTS ${stamp})
    message(FATAL_ERROR "${stamp} is missing: run cmake/build-mingw-deps.sh ${deps}")
  endif()
  set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${stamp})
  file(STRINGS ${stamp} lines)
  list(SUBLIST lines 2 -1 built)
  foreach(line IN LISTS built)
    string(REPLACE " " ";" line "${line}")
    list(GET line 0 name)
    list(GET line 1 version)
    set(version_${name} ${version})
  endforeach()
  foreach(name libxlsxwriter expat zlib)
    if(NOT version_${name} OR NOT EXISTS ${deps}/share/doc/${name}/copyright)
      message(FATAL_ERROR "${deps} lacks ${name} or its copyright file: run cmake/build-mingw-deps.sh ${deps}")
    endif()
  endforeach()
  set(rule "================================================================================")
  string(CONCAT text "Ledgerly ${PROJECT_VERSION} for Windows: the libraries in the programs\n\n"
         "Ledgerly.exe and ledgerly-convert.exe hold these libraries, linked in\n"
         "statically, each built from Debian's source package of that version\n"
         "(https://sources.debian.org/ has the sources):\n\n"
         "  libxlsxwriter  ${version_libxlsxwriter} (writing workbooks)\n"
         "  minizip        as bundled in libxlsxwriter ${version_libxlsxwriter}\n"
         "                 (third_party/minizip; also tmpfileplus and dtoa from there)\n"
         "  Expat          ${version_expat} (reading ADX logs)\n"
         "  zlib           ${version_zlib} (Debian's libz-mingw-w64-dev)\n\n"
         "Their copyright notices and licences follow as Debian gives them; the\n"
         "licence of minizip is the Zlib one in the libxlsxwriter part. tmpfileplus\n"
         "is under the Mozilla Public License 2.0, whose text ends this file.\n")
  foreach(part "libxlsxwriter ${version_libxlsxwriter}, with minizip, tmpfileplus and dtoa;libxlsxwriter"
               "Expat ${version_expat};expat" "zlib ${version_zlib};zlib")
    list(GET part 0 title)
    list(GET part 1 name)
    file(READ ${deps}/share/doc/${name}/copyright copyright)
    string(APPEND text "\n${rule}\n${title}\n${rule}\n\n${copyright}")
  endforeach()
  file(READ /usr/share/common-licenses/MPL-2.0 mpl)
  string(APPEND text "\n${rule}\nMozilla Public License 2.0 (tmpfileplus)\n${rule}\n\n${mpl}")
  string(REPLACE "\r\n" "\n" text "${text}")
  string(REPLACE "\n" "\r\n" text "${text}")
  file(WRITE ${output}.new "${text}")
  file(COPY_FILE ${output}.new ${output} ONLY_IF_DIFFERENT)
  file(REMOVE ${output}.new)
endfunction()

if(WIN32)
  # README.txt: the help for Windows users, with Windows line ends.
  configure_file(${PROJECT_SOURCE_DIR}/docs/windows/README.txt ${PROJECT_BINARY_DIR}/README.txt
                 @ONLY NEWLINE_STYLE CRLF)
  ledgerly_write_licenses(${PROJECT_BINARY_DIR}/LICENSES.txt)
  install(TARGETS Ledgerly ledgerly-convert RUNTIME DESTINATION .)
  install(FILES ${PROJECT_BINARY_DIR}/README.txt ${PROJECT_BINARY_DIR}/LICENSES.txt DESTINATION .)
  install(FILES ${PROJECT_SOURCE_DIR}/examples/station-log.adi DESTINATION examples)
else()
  # The manual page compressed as Debian's policy has it; the copyright file
  # where dpkg looks for it.
  # The manual page and the change log (changelog.gz, where Debian looks for
  # a native package's) compressed as Debian's policy has them; the copyright
  # file where dpkg looks for it.
  set(manual_page ${PROJECT_BINARY_DIR}/ledgerly-convert.1.gz)
  set(changelog ${PROJECT_BINARY_DIR}/changelog.gz)
  foreach(pair "docs/ledgerly-convert.1;${manual_page}" "CHANGELOG.md;${changelog}")
    list(GET pair 0 source)
    list(GET pair 1 packed)
    add_custom_command(OUTPUT ${packed}
                       COMMAND gzip -9n -c ${PROJECT_SOURCE_DIR}/${source} > ${packed}
                       DEPENDS ${PROJECT_SOURCE_DIR}/${source} VERBATIM)
  endforeach()
  add_custom_target(ledgerly_compressed_docs ALL DEPENDS ${manual_page} ${changelog})
  install(TARGETS ledgerly-convert RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${manual_page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${changelog} ${PROJECT_SOURCE_DIR}/docs/copyright
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/ledgerly)
endif()

set(CPACK_PACKAGE_NAME ledgerly)
set(CPACK_PACKAGE_VENDOR "The Ledgerly authors")
set(CPACK_PACKAGE_CONTACT "The Ledgerly authors <authors@ledgerly.example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "converts amateur-radio ADIF and ADX logs to CSV files and Excel workbooks")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://ledgerly.example.org/")
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_GENERATOR "")

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME Ledgerly-${PROJECT_VERSION}-win64)
else()
  find_program(LEDGERLY_DPKG_SHLIBDEPS dpkg-shlibdeps)
  if(LEDGERLY_DPKG_SHLIBDEPS)
    set(CPACK_GENERATOR DEB)
  else()
    set(CPACK_GENERATOR TGZ)
  endif()
  set(CPACK_DEBIAN_PACKAGE_NAME ledgerly)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION hamradio)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # After the summary line, which CPack puts first.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "ledgerly-convert reads a station log exported by a logging program (ADIF,
or its XML form ADX) and writes its contacts as a CSV file or an Excel
workbook that any spreadsheet opens, one row per QSO and one column per
field. Damaged logs are converted as far as they can be read.")
endif()

include(CPack)
