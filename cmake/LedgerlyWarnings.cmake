# Warnings are errors on every compiler the project builds with.
add_library(ledgerly_warnings INTERFACE)
target_compile_options(ledgerly_warnings INTERFACE -Wall -Wextra -Wpedantic -Werror)
