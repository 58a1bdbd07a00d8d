#include "tests/fuzz/fuzz_support.h"

#include <cstdlib>

void fuzz_failed(const char* condition, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, condition);
  std::fflush(stderr);
  std::abort();
}

MemoryInput::MemoryInput(const uint8_t* data, size_t size)
    : bytes(data, data + size), stream(nullptr) {
  // fmemopen needs a buffer even for no bytes; it reads only `size` of it.
  if (bytes.empty()) bytes.reserve(1);
  stream = fmemopen(bytes.data(), size, "r");
}

MemoryInput::~MemoryInput() {
  if (stream) std::fclose(stream);
}

MemoryOutput::MemoryOutput() : data(nullptr), size(0), stream(open_memstream(&data, &size)) {}

MemoryOutput::~MemoryOutput() {
  if (stream) std::fclose(stream);
  std::free(data);
}

std::string MemoryOutput::text() {
  if (!stream) return std::string();
  std::fflush(stream);
  return std::string(data, size);
}
