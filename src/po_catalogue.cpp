#include "po_catalogue.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <new>
#include <string>
#include <string_view>
#include <utility>

#include "text_limits.h"

namespace {

// What the strings that follow a keyword belong to.
enum class Field { none, context, id, plural, translation, plural_translation };

// One text as it is read: at most kLongestCatalogueText bytes are kept, so
// that a hostile catalogue cannot make one text grow without bound.
struct Text {
    std::string bytes;
    bool too_long = false;
    bool has_zero = false;
    void add(char c) {
        if (c == '\0') has_zero = true;
        if (bytes.size() < kLongestCatalogueText) {
            bytes.push_back(c);
        } else {
            too_long = true;
        }
    }
};

struct Message {
    bool started = false;
    bool obsolete = false;
    bool fuzzy = false;
    bool has_context = false;
    bool has_id = false;
    bool has_plural = false;
    bool has_translation = false;
    bool plural_translated = false;  // some msgstr[N] is not empty
    Text context;
    Text id;
    Text translation;
    std::uint32_t context_line = 0;
    std::uint32_t id_line = 0;
    std::uint32_t plural_line = 0;
    std::uint32_t translation_line = 0;
};

// A text for a message: quoted, its control bytes escaped as a catalogue
// writes them, and cut (at a character's start) after 60 bytes.
std::string shown(const std::string& text) {
    constexpr std::size_t kShown = 60;
    std::size_t size = text.size();
    if (size > kShown) {
        size = kShown - 3;
        while (size > 0 && (static_cast<unsigned char>(text[size]) & 0xC0) == 0x80) --size;
    }
    std::string out = "'";
    for (std::size_t i = 0; i < size; ++i) {
        const char c = text[i];
        switch (c) {
            case '\n': out += "\\n"; break;
            case '\t': out += "\\t"; break;
            case '\r': out += "\\r"; break;
            case '\\': out += "\\\\"; break;
            default:
                if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
                    char octal[8];
                    std::snprintf(octal, sizeof octal, "\\%03o", static_cast<unsigned>(static_cast<unsigned char>(c)));
                    out += octal;
                } else {
                    out += c;
                }
        }
    }
    return out + (size < text.size() ? "...'" : "'");
}

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; }

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

class Parser {
public:
    Parser(const std::string& name, const MessageSink& messages, DictionaryLayout* layout)
        : name_(name), messages_(messages), layout_(layout) {}

    ~Parser() { free_trans(head_); }

    ReadResult read(std::string_view data) {
        std::size_t at = 0;
        while (at < data.size() && error_.empty() && !out_of_memory_) {
            std::size_t lf = data.find('\n', at);
            if (lf == std::string_view::npos) lf = data.size();
            if (line_ < UINT32_MAX) ++line_;
            parse_line(data.substr(at, lf - at));
            at = lf + 1;
        }
        if (error_.empty() && !out_of_memory_) finish();
        if (out_of_memory_) return {nullptr, ReadStatus::out_of_memory};
        if (!error_.empty()) return {nullptr, ReadStatus::bad_format, name_ + ":" + std::to_string(error_line_) + ": " + error_};
        if (head_ == nullptr) {
            return {nullptr, ReadStatus::no_entries,
                    name_ + " holds no translated message (" + std::to_string(left_out_.untranslated) +
                        " untranslated, " + std::to_string(left_out_.fuzzy) + " fuzzy, " +
                        std::to_string(left_out_.obsolete) + " obsolete)"};
        }
        EntryList list(head_);
        head_ = nullptr;
        return {std::move(list), ReadStatus::ok};
    }

private:
    void fail(std::string why, std::uint32_t line = 0) {
        if (!error_.empty()) return;
        error_ = std::move(why);
        error_line_ = line != 0 ? line : line_;
    }

    void parse_line(std::string_view text) {
        std::size_t i = 0;
        while (i < text.size() && is_blank(text[i])) ++i;
        if (i == text.size()) return;
        if (text[i] != '#') {
            parse_tokens(text.substr(i), false);
        } else if (text.substr(i).starts_with("#~|")) {
            // The previous msgid of an obsolete message.
        } else if (text.substr(i).starts_with("#~")) {
            parse_tokens(text.substr(i + 2), true);
        } else if (text.substr(i).starts_with("#,")) {
            flags(text.substr(i + 2));
        }
        // Any other comment says nothing that changes an entry.
    }

    void flags(std::string_view text) {
        while (!text.empty()) {
            std::size_t comma = text.find(',');
            std::string_view flag = text.substr(0, comma);
            while (!flag.empty() && is_blank(flag.front())) flag.remove_prefix(1);
            while (!flag.empty() && is_blank(flag.back())) flag.remove_suffix(1);
            if (flag == "fuzzy") fuzzy_pending_ = true;
            if (comma == std::string_view::npos) break;
            text.remove_prefix(comma + 1);
        }
    }

    void parse_tokens(std::string_view text, bool obsolete) {
        std::size_t i = 0;
        while (error_.empty()) {
            while (i < text.size() && is_blank(text[i])) ++i;
            if (i == text.size()) return;
            const char c = text[i];
            if (c == '"') {
                if (field_ == Field::none) return fail("a string stands outside any msgid or msgstr");
                if (obsolete != m_.obsolete) return fail("a message is obsolete (#~) in part only");
                i = string(text, i + 1);
                has_string_ = true;
            } else if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_') {
                std::size_t end = i;
                while (end < text.size() && (std::isalnum(static_cast<unsigned char>(text[end])) || text[end] == '_')) {
                    ++end;
                }
                std::string_view word = text.substr(i, end - i);
                if (word == "msgstr" && end < text.size() && text[end] == '[') {
                    std::size_t close = text.find(']', end);
                    if (close == std::string_view::npos || close == end + 1 ||
                        text.substr(end + 1, close - end - 1).find_first_not_of("0123456789") != std::string_view::npos) {
                        return fail("msgstr[ is not followed by a number and ]");
                    }
                    word = text.substr(i, close + 1 - i);
                    end = close + 1;
                }
                keyword(word, obsolete);
                i = end;
            } else {
                return fail(std::string("unexpected ") + (static_cast<unsigned char>(c) < 0x20 ? "control byte" : "text") +
                            " " + shown(std::string(1, c)));
            }
        }
    }

    // Reads a string's bytes from text[i] (after its opening quote) into
    // the current field; returns where reading goes on.
    std::size_t string(std::string_view text, std::size_t i) {
        Text* into = field_ == Field::context       ? &m_.context
                     : field_ == Field::id          ? &m_.id
                     : field_ == Field::translation ? &m_.translation
                                                    : nullptr;
        auto add = [&](char c) {
            if (into != nullptr) into->add(c);
            if (field_ == Field::plural_translation) m_.plural_translated = true;
        };
        while (i < text.size()) {
            const char c = text[i++];
            if (c == '"') return i;
            if (c != '\\') {
                add(c);
                continue;
            }
            if (i == text.size()) break;
            const char e = text[i++];
            switch (e) {
                case 'n': add('\n'); break;
                case 't': add('\t'); break;
                case 'r': add('\r'); break;
                case 'a': add('\a'); break;
                case 'b': add('\b'); break;
                case 'f': add('\f'); break;
                case 'v': add('\v'); break;
                case '\\': add('\\'); break;
                case '"': add('"'); break;
                case 'x': {
                    // As gettext reads it: every hex digit that follows, the
                    // value taken modulo 256.
                    if (i == text.size() || hex_digit(text[i]) < 0) {
                        fail("\\x is not followed by a hex digit");
                        return text.size();
                    }
                    unsigned v = 0;
                    while (i < text.size() && hex_digit(text[i]) >= 0) v = (v * 16 + static_cast<unsigned>(hex_digit(text[i++]))) & 0xFF;
                    add(static_cast<char>(v));
                    break;
                }
                default:
                    if (e >= '0' && e <= '7') {
                        unsigned v = static_cast<unsigned>(e - '0');
                        for (int k = 0; k < 2 && i < text.size() && text[i] >= '0' && text[i] <= '7'; ++k) {
                            v = v * 8 + static_cast<unsigned>(text[i++] - '0');
                        }
                        add(static_cast<char>(v & 0xFF));
                        break;
                    }
                    fail("invalid escape " + shown(std::string{'\\', e}));
                    return text.size();
            }
        }
        fail("a string does not end on its line");
        return text.size();
    }

    void need_string() {
        if (field_ != Field::none && !has_string_) fail("a keyword is not followed by a string");
    }

    void start(bool obsolete) {
        m_ = Message{};
        m_.started = true;
        m_.obsolete = obsolete;
        m_.fuzzy = fuzzy_pending_;
        fuzzy_pending_ = false;
    }

    void keyword(std::string_view word, bool obsolete) {
        need_string();
        if (!error_.empty()) return;
        const bool fresh = word == "msgctxt" || word == "msgid";
        if (fresh && m_.has_id) finish();
        if (!error_.empty()) return;
        if (fresh && !m_.started) start(obsolete);
        if (!m_.started) return fail(std::string(word) + " stands before any msgid");
        if (obsolete != m_.obsolete) return fail("a message is obsolete (#~) in part only");
        has_string_ = false;
        if (word == "msgctxt") {
            if (m_.has_context) return fail("msgctxt stands twice in one message");
            m_.has_context = true;
            m_.context_line = line_;
            field_ = Field::context;
        } else if (word == "msgid") {
            m_.has_id = true;
            m_.id_line = line_;
            field_ = Field::id;
        } else if (word == "msgid_plural") {
            if (field_ != Field::id) return fail("msgid_plural does not follow a msgid");
            m_.has_plural = true;
            m_.plural_line = line_;
            field_ = Field::plural;
        } else if (word == "msgstr") {
            if (m_.has_plural) return fail("a message with msgid_plural takes msgstr[N], not msgstr");
            if (m_.has_translation) return fail("msgstr stands twice in one message");
            if (field_ != Field::id) return fail("msgstr does not follow a msgid");
            m_.has_translation = true;
            m_.translation_line = line_;
            field_ = Field::translation;
        } else if (word.starts_with("msgstr[")) {
            if (!m_.has_plural) return fail("msgstr[N] stands in a message without msgid_plural");
            m_.has_translation = true;
            field_ = Field::plural_translation;
        } else {
            fail("unknown keyword " + shown(std::string(word)));
        }
    }

    void refuse(std::uint32_t line, const std::string& why) {
        tell(messages_, "ERR: " + name_ + ":" + std::to_string(line) + ": " + why + "\n");
        if (layout_ != nullptr) layout_->refused.push_back({line, why});
    }

    void left_out(std::size_t DictionaryLayout::LeftOut::*kind, std::uint32_t line) {
        ++(left_out_.*kind);
        if (left_out_.first_line == 0) left_out_.first_line = line;
        if (layout_ != nullptr) layout_->left_out = left_out_;
    }

    // The message read so far: an entry, left out or refused.
    void finish() {
        if (!m_.started) return;
        need_string();
        if (!error_.empty()) return;
        if (!m_.has_id) return fail("msgctxt is not followed by a msgid", m_.context_line);
        if (!m_.has_translation) return fail("msgid has no msgstr", m_.id_line);
        Message m = std::move(m_);
        m_ = Message{};
        field_ = Field::none;
        if (m.obsolete) {
            if (!m.id.bytes.empty() || m.has_context) left_out(&DictionaryLayout::LeftOut::obsolete, m.id_line);
            return;
        }
        if (m.id.bytes.empty() && !m.id.too_long && !m.has_context) return;  // the header
        const std::string original = shown(m.id.bytes);
        const bool translated = m.has_plural ? m.plural_translated : !m.translation.bytes.empty();
        if (m.fuzzy) return left_out(&DictionaryLayout::LeftOut::fuzzy, m.id_line);
        if (!translated) return left_out(&DictionaryLayout::LeftOut::untranslated, m.id_line);
        const std::string no_entry = ", which a dictionary cannot hold: it gives no entry";
        if (m.has_plural) {
            return refuse(m.plural_line, "the message " + original + " has plural forms (msgid_plural)" + no_entry);
        }
        if (m.has_context) {
            return refuse(m.context_line,
                          "the message " + original + " has a context (msgctxt " + shown(m.context.bytes) + ")" + no_entry);
        }
        const std::string longest = std::to_string(kLongestCatalogueText);
        if (m.id.too_long) {
            return refuse(m.id_line, "the original " + original + " has more than " + longest + " bytes: it gives no entry");
        }
        if (m.translation.too_long) {
            return refuse(m.translation_line, "the translation of " + original + " has more than " + longest +
                                                  " bytes: it gives no entry");
        }
        if (m.id.has_zero || m.translation.has_zero) {
            return refuse(m.id.has_zero ? m.id_line : m.translation_line,
                          std::string(m.id.has_zero ? "the original " : "the translation of ") + original +
                              " holds a zero byte, which would end it: it gives no entry");
        }
        Trans_Tbl* entry = create_entry(m.id.bytes, m.translation.bytes);
        if (entry == nullptr) {
            out_of_memory_ = true;
            return;
        }
        if (tail_ == nullptr) {
            head_ = entry;
        } else {
            tail_->next = entry;
            entry->prev = tail_;
        }
        tail_ = entry;
        if (layout_ != nullptr) layout_->entry_line.push_back(m.translation_line);
    }

    const std::string& name_;
    const MessageSink& messages_;
    DictionaryLayout* layout_;
    Trans_Tbl* head_ = nullptr;
    Trans_Tbl* tail_ = nullptr;
    bool out_of_memory_ = false;
    std::string error_;
    std::uint32_t error_line_ = 0;
    std::uint32_t line_ = 0;
    Message m_;
    Field field_ = Field::none;
    bool has_string_ = false;  // the current field has a string
    bool fuzzy_pending_ = false;
    DictionaryLayout::LeftOut left_out_;
};

}  // namespace

ReadResult read_po_bytes(const char* data, std::size_t size, const std::string& name, const MessageSink& messages,
                         DictionaryLayout* layout) {
    try {
        Parser parser(name, messages, layout);
        return parser.read(std::string_view(data, size));
    } catch (const std::bad_alloc&) {
        return {nullptr, ReadStatus::out_of_memory};
    }
}

ReadResult read_po_file(const char* path, const std::string& name, const MessageSink& messages,
                        DictionaryLayout* layout, struct stat* opened) {
    std::FILE* file = open_dictionary(path, opened);
    if (file == nullptr) return {nullptr, ReadStatus::cannot_open};
    std::string data;
    try {
        char buf[65536];
        std::size_t got;
        while ((got = std::fread(buf, 1, sizeof buf, file)) > 0) data.append(buf, got);
    } catch (const std::bad_alloc&) {
        std::fclose(file);
        return {nullptr, ReadStatus::out_of_memory};
    }
    bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) return {nullptr, ReadStatus::cannot_open};
    return read_po_bytes(data.data(), data.size(), name, messages, layout);
}
