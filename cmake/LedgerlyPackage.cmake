# Installing and packaging. Built natively: ledgerly-convert in bin/, its
# manual page in share/man/man1, README.md and CHANGELOG.md in
# share/doc/ledgerly, packed by CPack as the Debian package "ledgerly" (its
# dependencies found by dpkg-shlibdeps). Built for Windows: Ledgerly.exe,
# ledgerly-convert.exe, README.txt and the sample log in one ZIP archive.
include(GNUInstallDirs)

if(WIN32)
  # README.txt: the README as text, with Windows line ends.
  configure_file(${PROJECT_SOURCE_DIR}/README.md ${PROJECT_BINARY_DIR}/README.txt @ONLY
                 NEWLINE_STYLE CRLF)
  install(TARGETS Ledgerly ledgerly-convert RUNTIME DESTINATION .)
  install(FILES ${PROJECT_BINARY_DIR}/README.txt DESTINATION .)
  install(FILES ${PROJECT_SOURCE_DIR}/examples/station-log.adi DESTINATION examples)
else()
  install(TARGETS ledgerly-convert RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/docs/ledgerly-convert.1
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/CHANGELOG.md
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
