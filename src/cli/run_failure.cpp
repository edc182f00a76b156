#include "run_failure.h"

int report_failure(const Failure& f) {
    std::fflush(stdout);
    std::fputs(f.message.c_str(), f.on_stdout ? stdout : stderr);
    std::fflush(f.on_stdout ? stdout : stderr);
    return f.status;
}
