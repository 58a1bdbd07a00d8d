# The warnings every compiler the project builds with is asked for; with
# LEDGERLY_WERROR (on in every preset and test script) they are errors.
option(LEDGERLY_WERROR "Treat compiler warnings as errors" OFF)
add_library(ledgerly_warnings INTERFACE)
target_compile_options(ledgerly_warnings INTERFACE -Wall -Wextra -Wpedantic)
if(LEDGERLY_WERROR)
  target_compile_options(ledgerly_warnings INTERFACE -Werror)
endif()
