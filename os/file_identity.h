// Whether two paths name the same file, so that a conversion never writes its
// CSV over the log it is reading.
#pragma once

// Returns true when `first` and `second` name the same existing file: the same
// file reached through another spelling, a link or another case of the name
// where the file system ignores case. A path that does not exist names no
// file, so false.
bool same_file(const char* first, const char* second);
