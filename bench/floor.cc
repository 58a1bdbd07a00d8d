// bench-floor: the least work any line-by-line two-pass converter does. Reads
// the file twice with fgets into an 8 KiB buffer and writes every line it read
// to standard output, with the C library's default buffering.
#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("Usage: bench-floor FILE\n", stderr);
    return 2;
  }
  FILE* input = std::fopen(argv[1], "r");
  if (!input) {
    std::perror(argv[1]);
    return 1;
  }
  char line[8192];
  for (int pass = 0; pass < 2; ++pass) {
    while (std::fgets(line, sizeof line, input)) std::fputs(line, stdout);
    std::rewind(input);
  }
  std::fclose(input);
  return std::fflush(stdout) == 0 ? 0 : 1;
}
