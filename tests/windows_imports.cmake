# cmake -DOBJDUMP=TOOL -DPROGRAMS="A.exe;B.exe" -P windows_imports.cmake: fails
# when one of the programs imports a DLL that is not Windows's own (zlib1.dll,
# libexpat-1.dll, libstdc++-6.dll...): the libraries and the C++ runtime must
# be linked in statically, so that the programs run on a bare Windows.
cmake_minimum_required(VERSION 3.25)
set(windows_dlls ADVAPI32 BCRYPT COMCTL32 COMDLG32 CRYPT32 DWMAPI GDI32 KERNEL32 MSVCRT
    NTDLL OLE32 OLEAUT32 RPCRT4 SHCORE SHELL32 SHLWAPI USER32 UXTHEME VERSION WINMM WS2_32)
set(foreign "")
foreach(program IN LISTS PROGRAMS)
  execute_process(COMMAND ${OBJDUMP} -p ${program} OUTPUT_VARIABLE dump RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${OBJDUMP} could not read ${program}")
  endif()
  string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
  foreach(import IN LISTS imports)
    string(REGEX REPLACE "^DLL Name: (.+)\\.[Dd][Ll][Ll]$" "\\1" dll "${import}")
    string(TOUPPER "${dll}" dll)
    if(NOT dll IN_LIST windows_dlls AND NOT dll MATCHES "^API-MS-WIN-")
      list(APPEND foreign "${program}: ${import}")
    endif()
  endforeach()
endforeach()
if(foreign)
  list(JOIN foreign "\n  " foreign)
  message(FATAL_ERROR "DLLs that are not Windows's own:\n  ${foreign}")
endif()
