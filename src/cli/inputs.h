// The input step every program shares: the dictionary and the program are
// looked for, the program is opened and the dictionary read, in that order,
// each refusal with its message and status.
#pragma once

#include <sys/stat.h>

#include <optional>
#include <string>

#include "dictionary.h"
#include "message_sink.h"
#include "program_file.h"
#include "run_failure.h"

struct InputPlan {
    std::string program;                    // the file names
    std::optional<std::string> dictionary;  // none: no dictionary is read
    // What the program is opened for: "Error: Can't open file p.exe to <purpose>."
    const char* purpose = "";
    // The statuses of a missing dictionary and program, and where their
    // "not found" lines go.
    int missing_dictionary = kStatusNotFound;
    int missing_program = kStatusNotFound;
    bool missing_on_stdout = false;
    // When the run writes to standard output: a dictionary that is standard
    // output ("> name" emptied it before the run began) is refused before
    // anything is read; reading it would find nothing, and say so wrongly.
    bool refuse_dictionary_as_output = false;
    // Set when the program is read more than once: a FIFO is refused before
    // it is opened (which would wait for a writer), with this after its name.
    std::optional<std::string> read_more_than_once;
    bool po = false;              // the dictionary is a PO catalogue
    MessageSink reader_messages;  // about dictionary lines the reader ignores
    DictionaryLayout* layout = nullptr;
};

struct Inputs {
    ProgramFile program;
    EntryList entries;          // none without a dictionary
    struct stat dictionary {};  // as it was opened
};

RunFailure read_inputs(const InputPlan& plan, Inputs& in);
