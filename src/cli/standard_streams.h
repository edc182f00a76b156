// The standard streams as every program begins and ends with them, and the
// sinks through which the engine's messages reach them.
#pragma once

#include "message_sink.h"

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed, so that no
// file the program opens later takes one of them and receives its messages.
// Output descriptors are opened read-only: a write to a stream that the
// caller closed still fails, and a lost report is noticed. Call it first.
void occupy_closed_standard_streams();

// Flushes standard output and closes its descriptor; false when anything written to it was
// lost (a full disk, a closed pipe, a stream that was closed at start).
bool close_standard_output();

// Whether standard output is the file name names (the same file, by device
// and inode), as when the shell was told "> name".
bool is_standard_output(const char* name);

// The engine's messages onto standard output; with flush, flushed at once
// unless the last flush was less than a tenth of a second ago (a progress
// line shows while the run goes on).
MessageSink to_standard_output(bool flush = false);

// The engine's messages onto standard error.
MessageSink to_standard_error();
