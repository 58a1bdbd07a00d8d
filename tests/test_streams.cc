#include "tests/test_streams.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

StreamPtr stream_with(const std::string& bytes) {
  StreamPtr stream(std::tmpfile());
  if (stream) {
    std::fwrite(bytes.data(), 1, bytes.size(), stream.get());
    std::rewind(stream.get());
  }
  return stream;
}

StreamPtr empty_stream() { return StreamPtr(std::tmpfile()); }

std::string stream_bytes(FILE* stream) {
  std::fflush(stream);
  std::rewind(stream);
  std::string bytes;
  char buffer[4096];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, stream)) > 0) bytes.append(buffer, got);
  return bytes;
}

std::string file_bytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

std::string text_file_bytes(const std::string& path) {
  std::string bytes;
  FILE* file = std::fopen(path.c_str(), "r");
  if (!file) return bytes;
  char buffer[4096];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, got);
  std::fclose(file);
  return bytes;
}

void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << bytes;
}

std::string scratch_path(const std::string& name) {
  const char* folder = std::getenv("TMPDIR");
#ifdef _WIN32
  if (!folder) folder = std::getenv("TEMP");
  std::string separator = "\\";
#else
  std::string separator = "/";
#endif
  if (!folder || !*folder) folder = ".";
  return std::string(folder) + separator + "ledgerly_test_" + name;
}
