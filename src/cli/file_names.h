// How the tools form the names of the three files from the command line:
// the program and the copy get ".exe", the dictionary "_<language>" and
// ".txt" (".po" for a PO catalogue).
#pragma once

#include <optional>
#include <string>

constexpr const char* kDefaultProgram = "dornevo";
constexpr const char* kDictSuffix = "_trans";

// The program's file name, from the value of -p.
std::string program_file_name(const std::string& program);

// The dictionary's file name, from the values of -p, -d (or -w) and -t; an
// empty or missing -d stands for <program>_trans. A PO catalogue (-P) ends
// in ".po" instead of ".txt".
std::string dictionary_file_name(const std::string& program, const std::optional<std::string>& dictionary,
                                 const std::optional<std::string>& language, bool po = false);

// The copy's file name, from the values of -p and -o (empty when not given).
std::string output_file_name(const std::string& program, const std::string& output);
