// In-memory streams for the tests: a FILE* holding given bytes, and the bytes
// written to a FILE*.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

struct CloseStream {
  void operator()(FILE* file) const { std::fclose(file); }
};
using StreamPtr = std::unique_ptr<FILE, CloseStream>;

// Returns a binary temporary stream holding `bytes`, positioned at its start.
StreamPtr stream_with(const std::string& bytes);

// Returns an empty binary temporary stream for writing.
StreamPtr empty_stream();

// Returns every byte of `stream` from its start; the position ends at the end.
std::string stream_bytes(FILE* stream);

// Returns the whole content of the file at `path`, read in binary.
std::string file_bytes(const std::string& path);

// Returns the content of the text file at `path` as a program reading it in
// text mode sees it (on Windows, CR LF comes back as "\n").
std::string text_file_bytes(const std::string& path);

// Writes `bytes` to the file at `path` in binary, replacing it.
void write_file(const std::string& path, const std::string& bytes);

// Returns a path for a scratch file named `name` in the test's temporary folder.
std::string scratch_path(const std::string& name);
