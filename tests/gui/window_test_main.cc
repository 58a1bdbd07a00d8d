// Entry point of the window tests. Started as
//   window_test --opened RECORD WHAT
// it stands in for the program that the shell starts to open a CSV file or
// a web page: it adds WHAT as a line to the file RECORD and ends.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--opened") == 0) {
    FILE* record = std::fopen(argv[2], "a");
    if (!record) return 1;
    std::fprintf(record, "%s\n", argv[3]);
    return std::fclose(record) == 0 ? 0 : 1;
  }
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
