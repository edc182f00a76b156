#include "run_failure.h"

Failure out_of_memory() { return {kStatusDictionary, "Error: out of memory.\n"}; }

int report_failure(const Failure& f) {
    std::fflush(stdout);
    std::fputs(f.message.c_str(), f.on_stdout ? stdout : stderr);
    std::fflush(f.on_stdout ? stdout : stderr);
    return f.status;
}
