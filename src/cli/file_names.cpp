#include "file_names.h"

namespace {
constexpr const char* kOutputSuffix = "_t";
constexpr const char* kProgramExtension = ".exe";
constexpr const char* kDictExtension = ".txt";
constexpr const char* kCatalogueExtension = ".po";
}  // namespace

std::string program_file_name(const std::string& program) { return program + kProgramExtension; }

std::string dictionary_file_name(const std::string& program, const std::optional<std::string>& dictionary,
                                 const std::optional<std::string>& language, bool po) {
    std::string name = dictionary.value_or("").empty() ? program + kDictSuffix : *dictionary;
    if (language) name += "_" + *language;
    return name + (po ? kCatalogueExtension : kDictExtension);
}

std::string output_file_name(const std::string& program, const std::string& output) {
    return (output.empty() ? program + kOutputSuffix : output) + kProgramExtension;
}
