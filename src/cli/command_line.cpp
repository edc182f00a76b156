#include "command_line.h"

void read_options(int argc, char** argv, CommonOptions& common,
                  const std::function<void(const std::string& before, const std::string& arg)>& own) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const std::string before = argv[i - 1] != nullptr ? argv[i - 1] : "";
        if (before == "-p") common.program = arg;
        if (before == "-d" || before == "-w") common.dictionary = arg;
        if (before == "-t") common.language = arg;
        if (arg == "-r") common.relax = kRelaxNonAlnum;
        if (arg == "-R") common.relax = kRelaxAny;
        if (arg == "-u") common.wide = true;
        if (arg == "-g") common.resources = true;
        if (arg == "-P") common.po = true;
        if (before == "-l") common.languages.push_back(arg);
        if (arg == "-P") common.po = true;
        if (own) own(before, arg);
    }
}
