#include "exist_file.h"

#include <cstdio>

bool exist_file(const std::string& name) {
    if (name.empty()) return false;
    std::FILE* file = std::fopen(name.c_str(), "r");
    if (file == nullptr) return false;
    std::fclose(file);
    return true;
}
