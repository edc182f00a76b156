// Whether a named file exists, as both programs test it.
#pragma once

#include <string>

// False for an empty name; otherwise true when the file opens for reading.
bool exist_file(const std::string& name);
