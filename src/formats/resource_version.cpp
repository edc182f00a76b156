#include "resource_version.h"

namespace {

constexpr unsigned max_depth = 8;  // a real tree has 4 levels
constexpr std::size_t header_size = 6;

// Decodes the block at the start of bytes, which stands on a 4-byte
// boundary of the resource, so that offsets from it align alike. base is
// its offset in the resource, for the error.
ResourceResult<VersionBlock> decode_block(std::string_view bytes, std::size_t base, unsigned depth) {
    ResourceReader head(bytes);
    std::uint16_t length = head.u16();
    std::uint16_t value_length = head.u16();
    ResourceResult<VersionBlock> r;
    VersionBlock& b = r.value;
    b.type = head.u16();
    if (head.failed()) return resource_failure<VersionBlock>("a version block's header runs past the end", base);
    if (length < header_size || length > bytes.size())
        return resource_failure<VersionBlock>("a version block's length is shorter than its header or runs past the end", base);
    if (depth == max_depth) return resource_failure<VersionBlock>("version blocks nested past 8 levels", base);

    ResourceReader in(bytes.substr(0, length));
    in.skip(header_size, "the header");
    b.key = in.text();
    if (value_length > 0) {
        in.align4();
        if (b.type == 1) {
            if (in.left() / 2 < value_length) in.fail("a version value runs past its block");
            for (std::uint16_t i = 0; i < value_length && !in.failed(); ++i) {
                char16_t u = static_cast<char16_t>(in.u16());
                if (b.text_rest.empty() && u != 0) b.text.push_back(u);
                else b.text_rest.push_back(u);
            }
        } else {
            b.value = in.bytes(value_length, "a version value");
        }
    }
    if (in.failed()) return resource_failure<VersionBlock>(in.error(), base + in.error_offset());
    for (;;) {
        if (in.rest_is_padding()) {
            b.padded = true;
            break;
        }
        if (in.left() == 0) break;
        in.align4();
        std::size_t at = in.pos();
        ResourceResult<VersionBlock> child = decode_block(in.rest(), base + at, depth + 1);
        if (!child.ok()) return child;
        std::uint16_t child_length = static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[at]) |
                                                                static_cast<unsigned char>(bytes[at + 1]) << 8);
        in.skip(child_length, "a version block");
        b.children.push_back(std::move(child.value));
    }
    return r;
}

bool encode_block(const VersionBlock& b, ResourceWriter& out, std::string& error) {
    std::size_t start = out.out.size();
    out.u16(0);
    out.u16(0);
    out.u16(b.type);
    out.text(b.key);
    std::size_t value_length = b.type == 1 ? b.text.size() + b.text_rest.size() : b.value.size();
    if (value_length > 0) {
        out.align4();
        if (b.type == 1) {
            out.units(b.text);
            out.units(b.text_rest);
        } else {
            out.out += b.value;
        }
    }
    for (const VersionBlock& child : b.children) {
        out.align4();
        if (!encode_block(child, out, error)) return false;
    }
    if (b.padded) out.align4();
    std::size_t length = out.out.size() - start;
    if (length > 0xFFFF || value_length > 0xFFFF) {
        error = "a version block grows past 65,535 bytes";
        return false;
    }
    out.put16(start, static_cast<std::uint16_t>(length));
    out.put16(start + 2, static_cast<std::uint16_t>(value_length));
    return true;
}

void collect(VersionBlock& b, bool below_strings, std::vector<ResourceText*>& texts) {
    if (below_strings && b.type == 1 && b.children.empty()) texts.push_back(&b.text);
    for (VersionBlock& child : b.children) collect(child, below_strings || child.key == u"StringFileInfo", texts);
}

}  // namespace

ResourceResult<VersionBlock> decode_version(std::string_view bytes) { return decode_block(bytes, 0, 0); }

ResourceResult<std::string> encode_version(const VersionBlock& root) {
    ResourceWriter out;
    ResourceResult<std::string> r;
    if (!encode_block(root, out, r.error)) return resource_failure<std::string>(r.error, 0);
    r.value = std::move(out.out);
    return r;
}

std::vector<ResourceText*> version_texts(VersionBlock& root) {
    std::vector<ResourceText*> texts;
    collect(root, false, texts);
    return texts;
}
