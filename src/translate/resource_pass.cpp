// -g: the resources of a Windows program translated by their structure,
// the rest of the file by the byte (and wide) pass.
#include <sys/types.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "file_plan.h"
#include "pe_image.h"
#include "pe_layout.h"
#include "resource_dialog.h"
#include "resource_menu.h"
#include "resource_messages.h"
#include "resource_strings.h"
#include "resource_tree.h"
#include "resource_version.h"
#include "section_readers.h"
#include "translator.h"
#include "wide_text.h"

namespace {

// The entries by their original, the first in list order for each, with
// their full translations as resources hold texts.
class Originals {
public:
    explicit Originals(Trans_Tbl* head) {
        std::size_t i = 0;
        for (Trans_Tbl* e = head; e != nullptr; e = e->next, ++i) {
            entries_.push_back(e);
            std::string bytes;
            if (original_of(e).empty() || !utf8_to_utf16le(full_translation_of(e), bytes)) continue;
            ResourceText units(bytes.size() / 2, u'\0');
            for (std::size_t k = 0; k < units.size(); ++k) {
                units[k] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * k]) |
                                                 static_cast<unsigned char>(bytes[2 * k + 1]) << 8);
            }
            if (by_original_.emplace(std::string(original_of(e)), i).second) translations_.emplace(i, std::move(units));
        }
    }

    std::size_t size() const { return entries_.size(); }
    Trans_Tbl* entry(std::size_t i) const { return entries_[i]; }

    // Replaces each text that equals an original; gives the entries that acted.
    std::vector<std::size_t> replace(const std::vector<ResourceText*>& texts) const {
        std::vector<std::size_t> hits;
        std::string utf8;
        for (ResourceText* t : texts) {
            if (t->empty() || !resource_text_utf8(*t, utf8)) continue;
            auto it = by_original_.find(utf8);
            if (it == by_original_.end()) continue;
            *t = translations_.at(it->second);
            hits.push_back(it->second);
        }
        return hits;
    }

private:
    std::vector<Trans_Tbl*> entries_;
    std::unordered_map<std::string, std::size_t> by_original_;
    std::unordered_map<std::size_t, ResourceText> translations_;
};

// Decodes data as one kind, replaces its texts and encodes it again. The
// data change only when a text was replaced and the encode succeeded, so a
// resource the codec cannot read or write stays as it was.
template <class Decode, class Texts, class Encode>
std::vector<std::size_t> translate_kind(std::vector<unsigned char>& data, const Originals& originals, Decode decode,
                                        Texts texts, Encode encode) {
    auto model = decode(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
    if (!model.ok()) return {};
    std::vector<std::size_t> hits = originals.replace(texts(model.value));
    if (hits.empty()) return {};
    ResourceResult<std::string> bytes = encode(model.value);
    if (!bytes.ok()) return {};
    data.assign(bytes.value.begin(), bytes.value.end());
    return hits;
}

std::vector<std::size_t> translate_resource(ResourceEntry& r, const Originals& originals) {
    if (r.type.named) return {};
    switch (r.type.id) {
        case kResourceMenu:
            return translate_kind(r.data, originals, decode_menu, menu_texts, encode_menu);
        case kResourceDialog:
            return translate_kind(r.data, originals, decode_dialog, dialog_texts, encode_dialog);
        case kResourceStringTable:
            return translate_kind(r.data, originals, decode_string_table, string_table_texts, encode_string_table);
        case kResourceMessageTable:
            return translate_kind(r.data, originals, decode_message_table, message_texts, encode_message_table);
        case kResourceVersion:
            return translate_kind(r.data, originals, decode_version, version_texts, encode_version);
        default:
            return {};  // carried byte for byte
    }
}

bool language_taken(const ResourceEntry& r, const std::vector<std::uint32_t>& languages) {
    if (languages.empty()) return true;
    return !r.language.named && std::find(languages.begin(), languages.end(), r.language.id) != languages.end();
}

// The raw bytes of the section that holds the resource directory.
std::optional<FileRange> resource_section(const PeImage& image) {
    const PeDirectory dir = image.directory(PeDirectoryIndex::resources);
    for (const PeSection& s : image.sections) {
        if (!s.has_bytes()) continue;
        const std::uint32_t extent = std::max(s.virtual_size, s.raw_size);
        if (dir.rva >= s.virtual_address && dir.rva - s.virtual_address < extent) {
            return FileRange{s.raw_offset, std::uint64_t{s.raw_offset} + s.raw_size};
        }
    }
    return std::nullopt;
}

ResourceTranslation refused(ResourceStatus status, std::string reason) {
    ResourceTranslation t;
    t.status = status;
    t.reason = std::move(reason);
    return t;
}

// Fills in the checksum field once the rest of the copy is written.
bool write_checksum(std::FILE* out, std::uint64_t at, std::uint32_t sum) {
    const unsigned char b[4] = {static_cast<unsigned char>(sum), static_cast<unsigned char>(sum >> 8),
                                static_cast<unsigned char>(sum >> 16), static_cast<unsigned char>(sum >> 24)};
    return std::fflush(out) == 0 && ::fseeko(out, static_cast<off_t>(at), SEEK_SET) == 0 &&
           std::fwrite(b, 1, sizeof b, out) == sizeof b && std::fseek(out, 0, SEEK_END) == 0;
}

ResourceTranslation translate_streamed(Trans_Tbl* head, const ProgramInput& in, std::FILE* out, int relax,
                                       bool wide, const std::vector<std::uint32_t>& languages,
                                       const MessageSink& progress) {
    FileBytes bytes = in.held.empty() ? FileBytes(fileno(in.prog), in.size)
                                      : FileBytes(reinterpret_cast<const unsigned char*>(in.held.data()),
                                                  in.held.size());
    std::optional<PeImage> image = read_pe_image(bytes);
    if (!image) return refused(ResourceStatus::unreadable, "it is no PE image");
    // Only the kinds that hold texts are read into memory; the rest stay in
    // the program until the new section is written.
    ResourceRead read = read_resource_tree(bytes, *image, [](const ResourceKey& type) {
        return !type.named && resource_kind_name(type.id) != nullptr;
    });
    if (!read.ok()) return refused(ResourceStatus::unreadable, read.message);
    std::optional<FileRange> section = resource_section(*image);
    if (!section) return refused(ResourceStatus::unreadable, "its resource directory lies in no section");

    ResourceTranslation result;
    Originals originals(head);
    result.full_counts.assign(originals.size(), 0);
    bool changed = false;
    for (ResourceEntry& r : read.tree.entries) {
        if (!language_taken(r, languages)) continue;
        for (std::size_t i : translate_resource(r, originals)) {
            ++originals.entry(i)->n_trans;
            ++result.full_counts[i];
            changed = true;
        }
    }
    LayoutResult laid;
    if (changed) {
        laid = lay_out_resources(bytes, read.tree);
    } else {
        laid.plan.keep(0, bytes.size());  // the section as it was, not rewritten
    }
    read.tree.entries.clear();
    read.tree.entries.shrink_to_fit();
    switch (laid.error) {
        case LayoutError::none:
            break;
        case LayoutError::overlay:
            return refused(ResourceStatus::overlay, laid.message);
        case LayoutError::no_room:
            return refused(ResourceStatus::no_room, laid.message);
        case LayoutError::not_pe:
        case LayoutError::resources:
            return refused(ResourceStatus::unreadable, laid.message);
    }
    result.certificate_removed = laid.certificate_removed;
    // What the plan keeps of the old section (all of it, or all when a new
    // section is added) comes from the program, not from the masked copy.
    take_from_program(laid.plan, section->begin, section->end);

    // The byte and wide passes see the resource section as zeros, so they
    // find nothing in it (a text there would be cut, and a counted length
    // or id word may pass for a text's neighbour); the plan puts the new
    // section (or the old one's own bytes) there.
    FileSplice splice(
        laid.plan, [out](const unsigned char* data, std::size_t n) { return std::fwrite(data, 1, n, out) == n; },
        &bytes);
    const TranslateStatus status =
        translate_masked(head, in.prog, [&splice](const unsigned char* data, std::size_t n) {
            return splice.put(data, n);
        }, section->begin, section->end, relax, wide, progress);
    switch (status) {
        case TranslateStatus::ok:
            break;
        case TranslateStatus::out_of_memory:
            return refused(ResourceStatus::out_of_memory, "");
        case TranslateStatus::read_error:
            return refused(ResourceStatus::read_error, "");
        case TranslateStatus::write_error:
            return refused(splice.program_failed() ? ResourceStatus::read_error : ResourceStatus::write_error, "");
    }
    if (!splice.finish()) {
        return refused(std::ferror(out) != 0 && !splice.program_failed() ? ResourceStatus::write_error
                                                                         : ResourceStatus::read_error,
                       "");
    }
    if (laid.plan.checksum_at && !write_checksum(out, *laid.plan.checksum_at, splice.checksum())) {
        return refused(ResourceStatus::write_error, "");
    }
    if (std::fflush(out) != 0) return refused(ResourceStatus::write_error, "");
    return result;
}

}  // namespace

ResourceTranslation translate_resources(Trans_Tbl* head, const ProgramInput& in, std::FILE* out, int relax,
                                        bool wide, const std::vector<std::uint32_t>& languages,
                                        const MessageSink& progress) {
    try {
        return translate_streamed(head, in, out, relax, wide, languages, progress);
    } catch (const std::bad_alloc&) {
        return refused(ResourceStatus::out_of_memory, "");
    }
}
