#include "inputs.h"

#include <new>
#include <utility>

#include "exist_file.h"
#include "input_file.h"
#include "po_catalogue.h"
#include "standard_streams.h"

namespace {

RunFailure take_inputs(const InputPlan& plan, Inputs& in) {
    const std::string& program = plan.program;
    if (plan.dictionary) {
        const std::string& dictionary = *plan.dictionary;
        if (plan.refuse_dictionary_as_output && is_standard_output(dictionary.c_str())) {
            return Failure{kStatusDictionary, "Error: standard output is the dictionary " + dictionary + ".\n"};
        }
        if (!exist_file(dictionary)) {
            return Failure{plan.missing_dictionary, "Error: dictionary " + dictionary + " not found!\n",
                           plan.missing_on_stdout};
        }
    }
    if (!exist_file(program)) {
        return Failure{plan.missing_program, "Error: program " + program + " not found!\n", plan.missing_on_stdout};
    }
    if (plan.read_more_than_once && is_fifo(program)) {
        return Failure{kStatusProgram, "Error: Can't read file " + program + *plan.read_more_than_once + ".\n"};
    }
    if (!in.program.open(program, !plan.read_more_than_once)) {
        return Failure{kStatusProgram, "Error: Can't open file " + program + " to " + plan.purpose + ".\n"};
    }
    if (!plan.dictionary) return std::nullopt;
    ReadResult read = plan.po ? read_po_file(plan.dictionary->c_str(), *plan.dictionary, plan.reader_messages,
                                             plan.layout, &in.dictionary)
                              : read_trans_file(plan.dictionary->c_str(), plan.reader_messages, plan.layout,
                                                &in.dictionary);
    if (read.status == ReadStatus::out_of_memory) return out_of_memory();
    // A catalogue says where it does not parse, or what it holds instead of
    // translations.
    if (!read.entries && !read.error.empty()) return Failure{kStatusDictionary, "Error: " + read.error + ".\n"};
    if (!read.entries) {
        return Failure{kStatusDictionary,
                       "Error: Can't open translate file " + *plan.dictionary + " (or wrong format).\n"};
    }
    in.entries = std::move(read.entries);
    return std::nullopt;
}

}  // namespace

RunFailure read_inputs(const InputPlan& plan, Inputs& in) {
    try {
        return take_inputs(plan, in);
    } catch (const std::bad_alloc&) {
        return out_of_memory();
    }
}
