#include "dictionary.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "input_file.h"

namespace {

// One allocation: the record, then the original's, the cut translation's
// and the full translation's fields.
Trans_Tbl* allocate_entry(std::size_t org_field, std::size_t full_field) {
    auto* entry = static_cast<Trans_Tbl*>(std::calloc(1, sizeof(Trans_Tbl) + 2 * org_field + full_field));
    if (entry == nullptr) return nullptr;
    entry->org_name = reinterpret_cast<char*>(entry + 1);
    entry->new_name = entry->org_name + org_field;
    entry->new_name_full = entry->new_name + org_field;
    return entry;
}

}  // namespace

Trans_Tbl* create_entry(std::string_view org, std::string_view full) {
    Trans_Tbl* entry = allocate_entry(org.size() + 1, full.size() + 1);
    if (entry == nullptr) return nullptr;
    std::memcpy(entry->org_name, org.data(), org.size());
    std::memcpy(entry->new_name_full, full.data(), full.size());
    std::memcpy(entry->new_name, full.data(), std::min(org.size(), full.size()));
    return entry;
}

Trans_Tbl* Create_Tbl(Trans_Tbl** head) {
    Trans_Tbl* entry = allocate_entry(kTextField, kTextField);
    if (entry == nullptr || head == nullptr) return entry;
    if (*head == nullptr) {
        *head = entry;
        return entry;
    }
    Trans_Tbl* last = *head;
    while (last->next != nullptr) last = last->next;
    last->next = entry;
    entry->prev = last;
    return entry;
}

void free_trans(Trans_Tbl* head) {
    while (head != nullptr) {
        Trans_Tbl* next = head->next;
        std::free(head);
        head = next;
    }
}

namespace {

// Splits text into non-empty tokens at any byte that is_delim accepts, as
// the C library's strtok does, and returns how many it found (at most
// wanted).
struct Tokens {
    std::array<std::string_view, 3> part;
    std::size_t count = 0;
};

template <typename IsDelim>
Tokens tokens(std::string_view text, IsDelim is_delim, std::size_t wanted) {
    Tokens out;
    std::size_t pos = 0;
    while (out.count < wanted) {
        while (pos < text.size() && is_delim(text[pos])) ++pos;
        if (pos == text.size()) break;
        std::size_t end = pos;
        while (end < text.size() && !is_delim(text[end])) ++end;
        out.part[out.count++] = text.substr(pos, end - pos);
        pos = end;
    }
    return out;
}

// is_plain_separator as a table: the split tests every byte of a line, and
// a lookup costs less than the three comparisons.
constexpr std::array<bool, 256> kPlainSeparator = [] {
    std::array<bool, 256> table{};
    for (std::size_t c = 0; c < table.size(); ++c) table[c] = is_plain_separator(static_cast<char>(c));
    return table;
}();

struct Reader {
    Reader(const MessageSink& to, DictionaryLayout* where) : messages(to), layout(where) {}

    const MessageSink& messages;
    DictionaryLayout* layout;
    Trans_Tbl* head = nullptr;
    Trans_Tbl* tail = nullptr;
    bool out_of_memory = false;
    bool pending_cr = false;
    std::string chunk;
    // The line being read, for the layout.
    std::uint32_t line_no = 1;
    std::size_t line_length = 0;
    std::size_t entries = 0;
    std::size_t line_first_entry = 0;

    // Returns false when memory ran out.
    bool add(std::string_view org, std::string_view full) {
        Trans_Tbl* entry = create_entry(org, full);
        if (entry == nullptr) return false;
        if (layout != nullptr) layout->entry_line.push_back(line_no);
        ++entries;
        if (tail == nullptr) {
            head = entry;
        } else {
            tail->next = entry;
            entry->prev = tail;
        }
        tail = entry;
        return true;
    }

    void line(std::string_view text) {
        // The line is a C string: a NUL byte ends it.
        text = text.substr(0, text.find('\0'));
        if (is_comment_line(text) || is_protected_line(text)) return;
        if (text.find(kQuote) != std::string_view::npos) {
            Tokens pieces = tokens(text, [](char c) { return c == kQuote; }, 3);
            if (pieces.count < 2) return;
            if (pieces.count < 3) {
                message("ERR: transl. of " + std::string(pieces.part[0]) + " needs \"!\n");
                return;
            }
            out_of_memory = out_of_memory || !add(pieces.part[0], pieces.part[2]);
        } else {
            Tokens words = tokens(text, [](char c) { return kPlainSeparator[static_cast<unsigned char>(c)]; }, 2);
            if (words.count < 2) return;
            out_of_memory = out_of_memory || !add(words.part[0], words.part[1]);
        }
    }

    void message(const std::string& text) {
        tell(messages, text);
        if (layout != nullptr) layout->messages.push_back({line_no, text});
    }

    void end_line() {
        if (layout != nullptr && line_length > kReadPiece) {
            layout->long_lines.push_back({line_no, line_length, line_first_entry, entries - line_first_entry});
        }
        ++line_no;
        line_length = 0;
        line_first_entry = entries;
    }

    void put(char c) {
        chunk.push_back(c);
        if (c != '\n') ++line_length;
        if (c == '\n' || chunk.size() == kReadPiece) {
            if (!out_of_memory) line(chunk);
            chunk.clear();
        }
        if (c == '\n') end_line();
    }

    // A CR directly before an LF is dropped, as text mode does elsewhere.
    void feed(char c) {
        if (pending_cr) {
            pending_cr = false;
            if (c != '\n') put('\r');
        }
        if (c == '\r') {
            pending_cr = true;
            return;
        }
        put(c);
    }

    // Bytes that are neither CR nor LF go into the piece as a run, as
    // many as it has room for: fed one by one, they cost more than all the
    // rest of the reading.
    void feed_all(const char* data, std::size_t size) {
        std::size_t i = 0;
        while (i < size) {
            if (pending_cr) {
                feed(data[i++]);
                continue;
            }
            std::size_t end = std::min(size, i + (kReadPiece - chunk.size()));
            if (const void* lf = std::memchr(data + i, '\n', end - i)) end = static_cast<const char*>(lf) - data;
            if (const void* cr = std::memchr(data + i, '\r', end - i)) end = static_cast<const char*>(cr) - data;
            if (end == i) {
                feed(data[i++]);
                continue;
            }
            chunk.append(data + i, end - i);
            line_length += end - i;
            if (chunk.size() == kReadPiece) {
                if (!out_of_memory) line(chunk);
                chunk.clear();
            }
            i = end;
        }
    }

    ~Reader() { free_trans(head); }

    ReadResult finish() {
        if (pending_cr) put('\r');
        if (!chunk.empty() && !out_of_memory) line(chunk);
        if (line_length != 0) end_line();
        if (out_of_memory) return {nullptr, ReadStatus::out_of_memory};
        if (head == nullptr) return {nullptr, ReadStatus::no_entries};
        EntryList list(head);
        head = nullptr;
        return {std::move(list), ReadStatus::ok};
    }
};

}  // namespace

ReadResult read_trans_bytes(const char* data, std::size_t size, const MessageSink& messages,
                            DictionaryLayout* layout) {
    try {
        Reader reader(messages, layout);
        reader.feed_all(data, size);
        return reader.finish();
    } catch (const std::bad_alloc&) {
        return {nullptr, ReadStatus::out_of_memory};
    }
}

std::FILE* open_dictionary(const char* path, struct stat* opened) {
    struct stat st {};
    int fd = open_input(path, true, st);
    std::FILE* file = fd >= 0 ? ::fdopen(fd, "rb") : nullptr;
    if (file == nullptr) {
        if (fd >= 0) ::close(fd);
        return nullptr;
    }
    if (opened != nullptr) *opened = st;
    return file;
}

ReadResult read_trans_file(const char* path, const MessageSink& messages, DictionaryLayout* layout,
                           struct stat* opened) {
    std::FILE* file = open_dictionary(path, opened);
    if (file == nullptr) return {nullptr, ReadStatus::cannot_open};
    try {
        Reader reader(messages, layout);
        char buf[65536];
        std::size_t got;
        // Memory that ran out ends the reading: a dictionary without end
        // (a link to a device) is not read on for ever.
        while (!reader.out_of_memory && (got = std::fread(buf, 1, sizeof buf, file)) > 0) {
            reader.feed_all(buf, got);
        }
        // A file that opens but cannot be read (a folder, an I/O error) is
        // no dictionary.
        bool failed = std::ferror(file) != 0;
        std::fclose(file);
        if (failed) return {nullptr, ReadStatus::cannot_open};
        return reader.finish();
    } catch (const std::bad_alloc&) {
        std::fclose(file);
        return {nullptr, ReadStatus::out_of_memory};
    }
}

EntryList read_trans(const char* path) { return read_trans_file(path, {}).entries; }

namespace {

// Earlier entries with one original, in list order, gathered into runs of
// equal translations so that exact repeats cost nothing to pass over.
struct Run {
    const char* new_name;
    std::vector<const Trans_Tbl*> members;
};

// The entries that share their original with another one, numbered by
// original; kAlone for the rest, which is most of them and cannot conflict.
constexpr std::uint32_t kAlone = UINT32_MAX;

std::vector<std::uint32_t> shared_originals(const std::vector<const Trans_Tbl*>& list, std::size_t& groups) {
    // Found through a hash table of the first entry of each original (open
    // addressing, at most half full): sorting the entries, a comparator
    // looking up two hashes at every step, cost twice as much. The numbers
    // of the groups only tell them apart; the check goes in list order.
    const std::size_t size = std::bit_ceil(std::max<std::size_t>(16, 2 * list.size()));
    std::vector<std::uint32_t> first(size, kAlone);
    std::vector<std::size_t> hash(list.size());
    std::vector<std::uint32_t> group(list.size(), kAlone);
    groups = 0;
    for (std::size_t i = 0; i < list.size(); ++i) {
        hash[i] = std::hash<std::string_view>{}(list[i]->org_name);
        for (std::size_t k = hash[i] & (size - 1);; k = (k + 1) & (size - 1)) {
            const std::uint32_t j = first[k];
            if (j == kAlone) {
                first[k] = static_cast<std::uint32_t>(i);
                break;
            }
            if (hash[j] == hash[i] && std::strcmp(list[j]->org_name, list[i]->org_name) == 0) {
                if (group[j] == kAlone) group[j] = static_cast<std::uint32_t>(groups++);
                group[i] = group[j];
                break;
            }
        }
    }
    return group;
}

int check_entries(const Trans_Tbl* head, const CheckVisitor& visit) {
    std::vector<const Trans_Tbl*> list;
    for (const Trans_Tbl* e = head; e != nullptr; e = e->next) list.push_back(e);
    std::size_t groups = 0;
    std::vector<std::uint32_t> group = shared_originals(list, groups);
    std::vector<std::vector<Run>> seen(groups);
    int errors = 0;
    for (std::size_t i = 0; i < list.size(); ++i) {
        const Trans_Tbl* e = list[i];
        if (group[i] != kAlone) {
            std::vector<Run>& runs = seen[group[i]];
            for (auto run = runs.rbegin(); run != runs.rend(); ++run) {
                if (std::strcmp(run->new_name, e->new_name) == 0) continue;
                for (auto p = run->members.rbegin(); p != run->members.rend(); ++p) {
                    visit.conflict(e, *p);
                    if (errors < INT_MAX) ++errors;
                }
            }
            if (!runs.empty() && std::strcmp(runs.back().new_name, e->new_name) == 0) {
                runs.back().members.push_back(e);
            } else {
                runs.push_back(Run{e->new_name, {e}});
            }
        }
        if (std::strlen(e->new_name_full) > std::strlen(e->org_name)) visit.clipped(e);
    }
    return errors;
}

}  // namespace

int visit_check(const Trans_Tbl* head, const CheckVisitor& visit) {
    try {
        return check_entries(head, visit);
    } catch (const std::bad_alloc&) {
        return kCheckOutOfMemory;
    }
}

namespace {

// Appends the pieces as one message: all of them or, when memory runs out,
// none.
void append_message(std::string& out, std::initializer_list<std::string_view> pieces) {
    std::size_t size = out.size();
    for (std::string_view piece : pieces) size += piece.size();
    out.reserve(size);
    for (std::string_view piece : pieces) out += piece;
}

void append_clipped(std::string& out, const Trans_Tbl* e) {
    append_message(out, {"Warn: '", e->org_name, "' ->\n      '", e->new_name_full, "': clipped to\n      '",
                         e->new_name, "'\n"});
}

// The check's messages reach the sink in pieces of about this size: a large
// dictionary has a warning for thousands of its entries, and a string built
// and passed on for each cost as much as reading the dictionary.
constexpr std::size_t kMessageBlock = 1 << 16;

}  // namespace

void warn_clipped(const Trans_Tbl* e, const MessageSink& messages) {
    std::string text;
    append_clipped(text, e);
    tell(messages, text);
}

int check_trans(const Trans_Tbl* head, const MessageSink& messages, bool clips) {
    std::string pending;
    auto pass_on_full = [&] {
        if (pending.size() < kMessageBlock) return;
        tell(messages, pending);
        pending.clear();
    };
    CheckVisitor report{
        [&](const Trans_Tbl* e, const Trans_Tbl* p) {
            append_message(pending, {"ERR: inconsistent translation:\n  ", e->org_name, "->", e->new_name, "\n  ",
                                     p->org_name, "->", p->new_name, "\n"});
            pass_on_full();
        },
        [&](const Trans_Tbl* e) {
            if (!clips) return;
            append_clipped(pending, e);
            pass_on_full();
        }};
    const int errors = visit_check(head, report);
    // Also when memory ran out: what was found before is told.
    if (!pending.empty()) tell(messages, pending);
    return errors;
}
