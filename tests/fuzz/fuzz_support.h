// Shared pieces of the fuzz harnesses: the check that stops a run when an
// invariant breaks, and memory streams over the fuzzer's bytes (POSIX
// fmemopen and open_memstream).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/fuzz/csv_reader.h"

// Stops the run (abort, so that libFuzzer keeps the input) when `condition`
// is false, naming the condition and where it stands.
#define FUZZ_CHECK(condition) \
  ((condition) ? static_cast<void>(0) : fuzz_failed(#condition, __FILE__, __LINE__))

// Prints the failed check to standard error and aborts.
[[noreturn]] void fuzz_failed(const char* condition, const char* file, int line);

// A read stream over a private copy of some bytes; closed with the value.
struct MemoryInput {
  std::vector<char> bytes;  // the copy the stream reads
  FILE* stream;             // positioned at the start; null when it could not open
  MemoryInput(const uint8_t* data, size_t size);
  ~MemoryInput();
  MemoryInput(const MemoryInput&) = delete;
  MemoryInput& operator=(const MemoryInput&) = delete;
};

// A write stream whose bytes are kept in memory; closed with the value.
struct MemoryOutput {
  char* data;    // the bytes written, valid after text() flushed them
  size_t size;   // their count
  FILE* stream;  // open for writing; null when it could not open
  MemoryOutput();
  ~MemoryOutput();
  MemoryOutput(const MemoryOutput&) = delete;
  MemoryOutput& operator=(const MemoryOutput&) = delete;
  // Returns every byte written so far.
  std::string text();
};
