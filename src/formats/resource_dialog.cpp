#include "resource_dialog.h"

namespace {

constexpr std::uint32_t ds_setfont = 0x40;

std::int16_t signed16(std::uint16_t v) { return static_cast<std::int16_t>(v); }
std::uint16_t unsigned16(std::int16_t v) { return static_cast<std::uint16_t>(v); }

}  // namespace

bool has_font(const Dialog& dialog) { return (dialog.style & ds_setfont) != 0; }

ResourceResult<Dialog> decode_dialog(std::string_view bytes) {
    ResourceReader in(bytes);
    ResourceResult<Dialog> r;
    Dialog& d = r.value;
    std::size_t count = 0;
    if (bytes.size() >= 4 && bytes[2] == '\xFF' && bytes[3] == '\xFF') {
        d.extended = true;
        d.version = in.u16();
        d.signature = in.u16();
        if (d.version != 1) in.fail("an extended dialog of an unknown version");
        d.help_id = in.u32();
        d.ex_style = in.u32();
        d.style = in.u32();
    } else {
        d.style = in.u32();
        d.ex_style = in.u32();
    }
    count = in.u16();
    d.x = signed16(in.u16());
    d.y = signed16(in.u16());
    d.cx = signed16(in.u16());
    d.cy = signed16(in.u16());
    d.menu = in.name_or_ordinal();
    d.window_class = in.name_or_ordinal();
    d.title = in.text();
    if (has_font(d)) {
        d.point_size = in.u16();
        if (d.extended) {
            d.weight = in.u16();
            d.italic = in.u8();
            d.charset = in.u8();
        }
        d.typeface = in.text();
    }
    for (std::size_t i = 0; i < count && !in.failed(); ++i) {
        in.align4();
        DialogControl c;
        if (d.extended) {
            c.help_id = in.u32();
            c.ex_style = in.u32();
            c.style = in.u32();
        } else {
            c.style = in.u32();
            c.ex_style = in.u32();
        }
        c.x = signed16(in.u16());
        c.y = signed16(in.u16());
        c.cx = signed16(in.u16());
        c.cy = signed16(in.u16());
        c.id = d.extended ? in.u32() : in.u16();
        c.window_class = in.name_or_ordinal();
        c.title = in.name_or_ordinal();
        std::uint16_t extra = in.u16();
        c.creation_data = in.bytes(extra, "a control's creation data");
        if (!in.failed()) d.controls.push_back(std::move(c));
    }
    if (in.failed()) return resource_failure<Dialog>(in.error(), in.error_offset());
    d.padded = in.rest_is_padding();
    if (!d.padded) d.trailing = std::string(in.rest());
    return r;
}

ResourceResult<std::string> encode_dialog(const Dialog& d) {
    ResourceWriter out;
    if (d.controls.size() > 0xFFFF) return resource_failure<std::string>("a dialog of more than 65,535 controls", 0);
    if (d.extended) {
        out.u16(d.version);
        out.u16(d.signature);
        out.u32(d.help_id);
        out.u32(d.ex_style);
        out.u32(d.style);
    } else {
        out.u32(d.style);
        out.u32(d.ex_style);
    }
    out.u16(static_cast<std::uint16_t>(d.controls.size()));
    for (std::int16_t v : {d.x, d.y, d.cx, d.cy}) out.u16(unsigned16(v));
    out.name_or_ordinal(d.menu);
    out.name_or_ordinal(d.window_class);
    out.text(d.title);
    if (has_font(d)) {
        out.u16(d.point_size);
        if (d.extended) {
            out.u16(d.weight);
            out.u8(d.italic);
            out.u8(d.charset);
        }
        out.text(d.typeface);
    }
    for (const DialogControl& c : d.controls) {
        out.align4();
        if (d.extended) {
            out.u32(c.help_id);
            out.u32(c.ex_style);
            out.u32(c.style);
        } else {
            out.u32(c.style);
            out.u32(c.ex_style);
        }
        for (std::int16_t v : {c.x, c.y, c.cx, c.cy}) out.u16(unsigned16(v));
        if (d.extended) {
            out.u32(c.id);
        } else {
            if (c.id > 0xFFFF) return resource_failure<std::string>("a control id wider than 16 bits", out.out.size());
            out.u16(static_cast<std::uint16_t>(c.id));
        }
        out.name_or_ordinal(c.window_class);
        out.name_or_ordinal(c.title);
        if (c.creation_data.size() > 0xFFFF) return resource_failure<std::string>("creation data past 65,535 bytes", out.out.size());
        out.u16(static_cast<std::uint16_t>(c.creation_data.size()));
        out.out += c.creation_data;
    }
    if (d.padded) out.align4();
    out.out += d.trailing;
    ResourceResult<std::string> r;
    r.value = std::move(out.out);
    return r;
}

std::vector<ResourceText*> dialog_texts(Dialog& d) {
    std::vector<ResourceText*> texts{&d.title};
    for (DialogControl& c : d.controls) {
        if (!c.title.is_ordinal) texts.push_back(&c.title.name);
    }
    return texts;
}
