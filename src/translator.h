// The translator: copies the program file to its translated copy, replacing
// every dictionary text that stands in it as a zero-terminated string.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "byte_sink.h"
#include "dictionary.h"
#include "message_sink.h"
#include "relax.h"

// Told of every replacement: an entry that made it and the file offset of
// the text. Only a companion that asks where texts stand sets one.
using HitObserver = std::function<void(const Trans_Tbl* entry, std::int64_t offset)>;

// A progress line ("100000      \r") goes to the progress sink after every
// this many bytes.
constexpr std::int64_t kProgressStep = 100000;

enum class TranslateStatus { ok, read_error, write_error, out_of_memory };

// Reads prog to its end and writes the translated copy to out, flushed;
// closes neither: their owners do. Counts every replacement in its entry
// and tells progress the progress lines. The result is the one the 100-byte
// window would give, found without sliding it: see translator.cpp. With
// wide, the UTF-16 texts of that result are then replaced too (see
// wide_pass.h), in the same reading of the file. A regular file read from
// its start, copied to a regular file, is read and written through their
// descriptors in segments on two threads (a file cut short meanwhile is a
// read error); the stream is left at the end of what was read.
TranslateStatus translate(Trans_Tbl* head, std::FILE* prog, std::FILE* out, int relax, bool wide,
                          const MessageSink& progress);

// The translator's indexes of an entry list, begun on a thread of their own
// as soon as the list is read, so that they are built while the caller
// checks the list and opens the copy: neither changes the list, and nothing
// may until translate has taken them. The thread builds the index that
// takes longer (the wide one at the strict level with wide, else the byte
// one); translate builds the other meanwhile. Without a thread the longer
// is built at once; without memory for them, translate builds both.
class TranslationIndexes {
public:
    TranslationIndexes(Trans_Tbl* head, int relax, bool wide);
    ~TranslationIndexes();  // waits for the thread
    TranslationIndexes(const TranslationIndexes&) = delete;
    TranslationIndexes& operator=(const TranslationIndexes&) = delete;

    struct Built;  // the indexes and their thread

private:
    friend TranslateStatus translate(TranslationIndexes& indexes, std::FILE* prog, std::FILE* out,
                                     const MessageSink& progress);
    Trans_Tbl* head_;
    int relax_;
    bool wide_;
    std::unique_ptr<Built> built_;  // null: translate builds both
};

// translate with the entry list, level and wide that indexes were begun
// with, and from those indexes.
TranslateStatus translate(TranslationIndexes& indexes, std::FILE* prog, std::FILE* out, const MessageSink& progress);

// The same, reading blocks of the given size (tests use tiny ones); without
// a progress sink, silent.
TranslateStatus translate_blocks(Trans_Tbl* head, std::FILE* prog, std::FILE* out, int relax,
                                 std::size_t block, bool wide = false, const MessageSink& progress = {});

// Reads prog to its end as translate does, at the same places and with the
// same counts, and tells observe of every replacement, but writes no copy.
// Blocks of block bytes are read (tests use tiny ones).
TranslateStatus find_texts(Trans_Tbl* head, std::FILE* prog, int relax, bool wide, const HitObserver& observe,
                           std::size_t block = kBlockSize);

// The same over bytes held in memory; the copy is returned in out.
void translate_bytes(Trans_Tbl* head, std::string_view in, int relax, std::string& out, bool wide = false,
                     const MessageSink& progress = {});

// The same as translate, with the copy handed to sink, and the bytes of
// [masked_begin, masked_end) read as zeros by both passes and so handed on.
TranslateStatus translate_masked(Trans_Tbl* head, std::FILE* prog, const ByteSink& sink, std::uint64_t masked_begin,
                                 std::uint64_t masked_end, int relax, bool wide, const MessageSink& progress = {});

// -g: a Windows program's resources translated by their structure.
enum class ResourceStatus {
    ok,
    unreadable,  // no PE image, or resources that do not parse (see reason)
    overlay,     // the resources would have to grow into the bytes after the last section
    no_room,     // they cannot grow and the header has no room for one more section
    out_of_memory,
    read_error,   // the program could not be read to its end, or changed meanwhile
    write_error,
};

struct ResourceTranslation {
    ResourceStatus status = ResourceStatus::ok;
    std::string reason;                     // why, for unreadable and no_room
    std::vector<std::int64_t> full_counts;  // per entry in list order: texts replaced at full length
    bool certificate_removed = false;       // the copy is no longer signed
};

// Where -g reads the program: prog is read once, from its start, as the copy
// is written; the headers and the resources are read by offset, from held
// when the program is held in memory (a FIFO's bytes), else from prog's file
// descriptor. size: the program's size.
struct ProgramInput {
    std::FILE* prog = nullptr;
    std::uint64_t size = 0;
    std::string_view held;
};

// Translates the program into out (a regular file, which is written once in
// order and then at the checksum field): the texts of its string tables,
// menus, dialogs, version information and message tables that equal an
// entry's original are replaced by its full translation, in the resource
// languages given (every one when none), and the resource section laid out
// anew; the rest of the file as translate does, with the resource section
// out of its sight. Counts every replacement in its entry's n_trans. Nothing
// is written unless the status is ok or a read or write error.
ResourceTranslation translate_resources(Trans_Tbl* head, const ProgramInput& in, std::FILE* out, int relax,
                                        bool wide, const std::vector<std::uint32_t>& languages,
                                        const MessageSink& progress = {});
