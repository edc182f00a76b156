// What the codecs of the text-bearing resource kinds share: the text type,
// the result of a decode or encode, and the bounded cursor and writer they
// read and write the little-endian fields with.
//
// Texts are kept as UTF-16 code units, as the resources hold them: an
// unpaired surrogate or any other unit a program carries survives a decode
// and an encode unchanged, and the caller converts (utf16le_to_utf8) where it
// compares with a dictionary.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "wide_text.h"

using ResourceText = std::u16string;

// The resource types whose texts the codecs read.
enum ResourceKind : std::uint32_t {
    kResourceMenu = 4,
    kResourceDialog = 5,
    kResourceStringTable = 6,
    kResourceMessageTable = 11,
    kResourceVersion = 16,
};

// "menu", "dialog", ... for a type with texts; nullptr for any other.
inline const char* resource_kind_name(std::uint32_t type) {
    switch (type) {
        case kResourceMenu: return "menu";
        case kResourceDialog: return "dialog";
        case kResourceStringTable: return "string table";
        case kResourceMessageTable: return "message table";
        case kResourceVersion: return "version";
        default: return nullptr;
    }
}

// The UTF-8 form of a text, as a dictionary holds it; false when one of its
// units is half a surrogate pair.
inline bool resource_text_utf8(const ResourceText& text, std::string& out) {
    std::string le;
    le.reserve(2 * text.size());
    for (char16_t c : text) {
        le.push_back(static_cast<char>(c & 0xFF));
        le.push_back(static_cast<char>(c >> 8));
    }
    out.clear();
    return utf16le_to_utf8(reinterpret_cast<const unsigned char*>(le.data()), text.size(), out);
}

// A decoded model or encoded bytes, or why there are none: what was wrong
// and at which byte of the input (decode) or of the output (encode).
template <class T>
struct ResourceResult {
    T value{};
    std::string error;
    std::size_t offset = 0;
    bool ok() const { return error.empty(); }
};

template <class T>
ResourceResult<T> resource_failure(std::string what, std::size_t offset) {
    ResourceResult<T> r;
    r.error = std::move(what);
    r.offset = offset;
    return r;
}

// A name or an ordinal as dialogs give a menu, a class or a control's title:
// 0xFFFF then the ordinal, or a zero-terminated string (empty: no name).
struct NameOrOrdinal {
    bool is_ordinal = false;
    std::uint16_t ordinal = 0;
    ResourceText name;
    bool operator==(const NameOrOrdinal&) const = default;
};

// Reads fields from a resource's bytes; every read checks the bytes left, and
// the first failure sticks (later reads return zeros), so a codec checks once
// per record.
class ResourceReader {
public:
    explicit ResourceReader(std::string_view bytes) : bytes_(bytes) {}

    bool failed() const { return !error_.empty(); }
    const std::string& error() const { return error_; }
    std::size_t error_offset() const { return error_offset_; }
    std::size_t pos() const { return pos_; }
    std::size_t left() const { return failed() ? 0 : bytes_.size() - pos_; }
    std::string_view rest() const { return bytes_.substr(pos_); }

    void fail(std::string what) {
        if (failed()) return;
        error_ = std::move(what);
        error_offset_ = pos_;
    }

    std::uint8_t u8() { return static_cast<std::uint8_t>(take(1, "a byte")[0]); }
    std::uint16_t u16() {
        const char* p = take(2, "a 16-bit field");
        return static_cast<std::uint16_t>(static_cast<unsigned char>(p[0]) | static_cast<unsigned char>(p[1]) << 8);
    }
    std::uint32_t u32() {
        std::uint32_t lo = u16();
        return lo | std::uint32_t{u16()} << 16;
    }
    std::string bytes(std::size_t n, const char* what) {
        const char* p = take(n, what);
        return failed() ? std::string() : std::string(p, n);
    }
    void skip(std::size_t n, const char* what) { take(n, what); }
    // Units up to a zero unit, which is read but not kept.
    ResourceText text() {
        ResourceText out;
        if (failed()) return out;
        for (;;) {
            std::uint16_t u = u16();
            if (failed()) {
                error_ = "a text runs past the end";
                return {};
            }
            if (u == 0) return out;
            out.push_back(static_cast<char16_t>(u));
        }
    }
    NameOrOrdinal name_or_ordinal() {
        NameOrOrdinal n;
        std::uint16_t first = u16();
        if (first == 0xFFFF) {
            n.is_ordinal = true;
            n.ordinal = u16();
        } else if (first != 0) {
            n.name.push_back(static_cast<char16_t>(first));
            n.name += text();
        }
        return n;
    }
    // Skips to the next multiple of 4 from the resource's start (the padding
    // need not be there at the very end).
    void align4() { pos_ = std::min(bytes_.size(), (pos_ + 3) & ~std::size_t{3}); }
    // Whether what is left is 1 to 3 zeros up to the next multiple of 4:
    // padding that an encode writes again, whatever the length before it.
    // (An end already on a boundary is taken as unpadded, as resource
    // compilers write it.)
    bool rest_is_padding() const {
        std::string_view r = rest();
        return !r.empty() && pos_ + r.size() == ((pos_ + 3) & ~std::size_t{3}) &&
               r.find_first_not_of('\0') == std::string_view::npos;
    }

private:
    const char* take(std::size_t n, const char* what) {
        static const char zeros[8] = {};
        if (failed()) return zeros;
        if (bytes_.size() - pos_ < n) {
            fail(std::string(what) + " runs past the end");
            return zeros;
        }
        const char* p = bytes_.data() + pos_;
        pos_ += n;
        return p;
    }

    std::string_view bytes_;
    std::size_t pos_ = 0;
    std::string error_;
    std::size_t error_offset_ = 0;
};

// Appends little-endian fields.
class ResourceWriter {
public:
    std::string out;

    void u8(std::uint8_t v) { out.push_back(static_cast<char>(v)); }
    void u16(std::uint16_t v) {
        out.push_back(static_cast<char>(v & 0xFF));
        out.push_back(static_cast<char>(v >> 8));
    }
    void u32(std::uint32_t v) {
        u16(static_cast<std::uint16_t>(v & 0xFFFF));
        u16(static_cast<std::uint16_t>(v >> 16));
    }
    void units(const ResourceText& t) {
        for (char16_t c : t) u16(static_cast<std::uint16_t>(c));
    }
    // The units and a zero unit.
    void text(const ResourceText& t) {
        units(t);
        u16(0);
    }
    void name_or_ordinal(const NameOrOrdinal& n) {
        if (n.is_ordinal) {
            u16(0xFFFF);
            u16(n.ordinal);
        } else {
            text(n.name);
        }
    }
    void align4() {
        while (out.size() % 4 != 0) out.push_back('\0');
    }
    // Writes v into the 16-bit field at offset, written before.
    void put16(std::size_t offset, std::uint16_t v) {
        out[offset] = static_cast<char>(v & 0xFF);
        out[offset + 1] = static_cast<char>(v >> 8);
    }
};
