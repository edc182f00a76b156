// The dictionary: its entry list, the reader of the translate file and the
// consistency check.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "message_sink.h"
#include "text_limits.h"

// The three texts lie in the entry's own allocation, after the record: the
// plain dictionary's fields of kTextField bytes, or as long as a catalogue's
// texts need. A copy of the record shares its texts with the entry.
struct Trans_Tbl {
    char* org_name;
    char* new_name;       // cut to the length of org_name, zero-padded
    char* new_name_full;  // as the dictionary gives it
    // 64-bit so that a file of several GiB cannot overflow them.
    std::int64_t n_trans;
    std::int64_t n_risc;
    Trans_Tbl* prev;
    Trans_Tbl* next;
};

// Creates an entry with empty texts in zero-filled fields of kTextField
// bytes. With a head it is appended to that list (walking to its end);
// without one it is returned unlinked, so that a caller holding the tail can
// append in constant time. Returns nullptr when memory cannot be had.
Trans_Tbl* Create_Tbl(Trans_Tbl** head);

// An unlinked entry that holds org and the translation full, and full cut to
// org's length (zero-padded) in new_name; its fields are as long as the
// texts. Neither text may hold a zero byte. Returns nullptr when memory
// cannot be had.
Trans_Tbl* create_entry(std::string_view org, std::string_view full);

// An entry's original and full translation as texts.
inline std::string_view original_of(const Trans_Tbl* e) { return e->org_name; }
inline std::string_view full_translation_of(const Trans_Tbl* e) { return e->new_name_full; }

// Frees every entry of the list that begins at head.
void free_trans(Trans_Tbl* head);

// An entry list that frees itself: what the reader hands out.
struct EntryListFree {
    void operator()(Trans_Tbl* head) const { free_trans(head); }
};
using EntryList = std::unique_ptr<Trans_Tbl, EntryListFree>;

// bad_format: a PO catalogue that does not parse (see po_catalogue.h).
enum class ReadStatus { ok, cannot_open, no_entries, out_of_memory, bad_format };

struct ReadResult {
    EntryList entries;  // empty unless status is ok
    ReadStatus status;
    std::string error = {};  // with bad_format: "<file>:<line>: <why>", one line
};

// Where the entries came from, for a companion that points at lines.
// Lines are counted from 1 by their LF; a line of more than kReadPiece
// characters (its LF not counted) is read as several.
struct DictionaryLayout {
    std::vector<std::uint32_t> entry_line;  // per entry, in list order
    struct LongLine {
        std::uint32_t line;
        std::size_t length;       // characters, the LF not counted
        std::size_t first_entry;  // the entries it gives, by list position
        std::size_t entries;
    };
    std::vector<LongLine> long_lines;
    struct Message {
        std::uint32_t line;
        std::string text;  // as the reader writes it, its LF included
    };
    std::vector<Message> messages;  // the reader's own, about lines it ignores
    // A PO catalogue's: per message that gives no entry and is no refusal,
    // its kind counted, and the first such message's line.
    struct LeftOut {
        std::size_t untranslated = 0;
        std::size_t fuzzy = 0;
        std::size_t obsolete = 0;
        std::uint32_t first_line = 0;
    };
    LeftOut left_out;
    // A PO catalogue's refusals (plural forms, a context, a text too long or
    // with a zero byte): what the lint tells at their line, as messages
    // holds what vorlang writes.
    std::vector<Message> refused;
};

// Opens a dictionary at path for reading, either form: only a regular file
// or a FIFO is opened (a device, a planted link to /dev/zero, would be read
// for ever). opened, when given, receives what it was when opened. Null
// when it cannot be.
std::FILE* open_dictionary(const char* path, struct stat* opened);

// Reads the translate file at path. Messages about lines it ignores go to
// messages (an empty sink for none); with a layout, where each entry came
// from is filled in too; opened receives what the file was when it was
// opened.
ReadResult read_trans_file(const char* path, const MessageSink& messages, DictionaryLayout* layout = nullptr,
                           struct stat* opened = nullptr);

// The plain interface: the new list, or none; no messages.
EntryList read_trans(const char* path);

// Reads a dictionary held in memory (the file's bytes); messages as above.
ReadResult read_trans_bytes(const char* data, std::size_t size, const MessageSink& messages,
                            DictionaryLayout* layout = nullptr);

// What the consistency check finds, in the order it finds it: for each
// entry e, conflict(e, p) for every earlier entry p that gives e's original
// another cut translation (the latest p first), then clipped(e) when e's
// translation had to be cut. Neither may throw but std::bad_alloc, which
// makes the check's result kCheckOutOfMemory.
struct CheckVisitor {
    std::function<void(const Trans_Tbl* e, const Trans_Tbl* p)> conflict;
    std::function<void(const Trans_Tbl* e)> clipped;
};

// check_trans's result when memory for its index cannot be had.
constexpr int kCheckOutOfMemory = -1;

// Writes the errors and warnings to messages and returns the number of
// errors (0 when the dictionary is consistent), or kCheckOutOfMemory.
// Changes nothing in the list. Without clips, the warnings of a translation
// cut to its original's length are left to the caller (-g knows only after
// the translation which entries were cut: see warn_clipped).
int check_trans(const Trans_Tbl* head, const MessageSink& messages, bool clips = true);

// The check's warning that e's translation is cut, to messages.
void warn_clipped(const Trans_Tbl* e, const MessageSink& messages);

// The check itself, its findings handed to visit; the same result.
int visit_check(const Trans_Tbl* head, const CheckVisitor& visit);

// The rules of a dictionary line, which the template writer obeys too.
// A line that begins with the comment mark gives nothing.
constexpr std::string_view kCommentMark = "!#";
inline bool is_comment_line(std::string_view line) { return line.starts_with(kCommentMark); }

// A line whose first capital V begins "Verkum" is protected: it gives nothing.
inline bool is_protected_line(std::string_view line) {
    std::size_t v = line.find('V');
    return v != std::string_view::npos && line.substr(v + 1, 5) == "erkum";
}

// A line that holds a quote gives the texts between quotes; any other gives
// its first two words, between plain separators.
constexpr char kQuote = '"';
constexpr bool is_plain_separator(char c) { return c == ' ' || c == '\t' || c == '\n'; }
