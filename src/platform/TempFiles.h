// Scratch files in the system's temporary folder.
#pragma once

#include <string>

// $TMPDIR without trailing separators, or the system's default temporary
// folder when it is unset or empty.
std::string GetTempFolder();

// Creates a new file of that path for reading and writing, failing when a
// file of that name exists. The descriptor, or -1 with errno set.
int CreateNewFile(const std::string& path);

// Creates a new empty file "<prefix>" + six unique characters in folder and
// returns its path; empty when none can be made.
std::string CreateUniqueFile(const std::string& folder, const char* prefix);
