#include "resource_menu.h"

namespace {

constexpr std::uint16_t standard_popup = 0x10;
constexpr std::uint16_t extended_popup = 0x01;
constexpr std::uint16_t last_item = 0x80;
// Deeper than any menu a person uses; keeps a hostile one from building a
// stack as deep as its bytes allow.
constexpr std::size_t max_depth = 64;

}  // namespace

bool is_popup(const Menu& menu, const MenuItem& item) {
    return (item.flags & (menu.extended ? extended_popup : standard_popup)) != 0;
}

ResourceResult<Menu> decode_menu(std::string_view bytes) {
    ResourceReader in(bytes);
    ResourceResult<Menu> r;
    Menu& m = r.value;
    std::uint16_t version = in.u16();
    std::uint16_t header_size = in.u16();
    if (!in.failed() && version > 1) in.fail("a menu of an unknown version");
    m.extended = version == 1;
    m.header_extra = in.bytes(header_size, "the menu header");
    if (in.failed()) return resource_failure<Menu>(in.error(), in.error_offset());
    if (m.extended) in.align4();
    if (in.left() == 0) return r;  // a menu with no items

    // Whether each open popup was its own level's last item: when its
    // children end, its level ends with them.
    std::vector<bool> closes_parent;
    for (;;) {
        MenuItem item;
        item.depth = static_cast<unsigned>(closes_parent.size());
        if (m.extended) {
            in.align4();
            item.type = in.u32();
            item.state = in.u32();
            item.id = in.u32();
            item.flags = in.u16();
            item.text = in.text();
            // The help id of a popup stands on a boundary; after the last
            // item the padding may be cut off.
            if (item.flags & extended_popup) {
                in.align4();
                item.help_id = in.u32();
            }
        } else {
            item.flags = in.u16();
            if (!(item.flags & standard_popup)) item.id = in.u16();
            item.text = in.text();
        }
        if (in.failed()) return resource_failure<Menu>(in.error(), in.error_offset());
        bool popup = is_popup(m, item);
        bool last = (item.flags & last_item) != 0;
        m.items.push_back(std::move(item));
        if (popup) {
            if (closes_parent.size() == max_depth) {
                in.fail("menus nested past 64 levels");
                return resource_failure<Menu>(in.error(), in.error_offset());
            }
            closes_parent.push_back(last);
            if (in.left() == 0) return resource_failure<Menu>("a popup has no items", in.pos());
            continue;
        }
        if (last) {
            while (!closes_parent.empty() && closes_parent.back()) closes_parent.pop_back();
            if (closes_parent.empty()) break;
            closes_parent.pop_back();
        }
        if (in.left() == 0) return resource_failure<Menu>("the menu ends before its last item", in.pos());
    }
    m.padded = m.extended && in.rest_is_padding();
    if (!m.padded) m.trailing = std::string(in.rest());
    return r;
}

ResourceResult<std::string> encode_menu(const Menu& menu) {
    ResourceWriter out;
    if (menu.header_extra.size() > 0xFFFF) return resource_failure<std::string>("the menu header is too long", 0);
    out.u16(menu.extended ? 1 : 0);
    out.u16(static_cast<std::uint16_t>(menu.header_extra.size()));
    out.out += menu.header_extra;
    for (const MenuItem& item : menu.items) {
        if (menu.extended) {
            out.align4();
            out.u32(item.type);
            out.u32(item.state);
            out.u32(item.id);
            out.u16(item.flags);
            out.text(item.text);
            if (item.flags & extended_popup) {
                out.align4();
                out.u32(item.help_id);
            }
        } else {
            out.u16(item.flags);
            if (!(item.flags & standard_popup)) {
                if (item.id > 0xFFFF) return resource_failure<std::string>("a menu id wider than 16 bits", out.out.size());
                out.u16(static_cast<std::uint16_t>(item.id));
            }
            out.text(item.text);
        }
    }
    if (menu.padded) out.align4();
    out.out += menu.trailing;
    ResourceResult<std::string> r;
    r.value = std::move(out.out);
    return r;
}

std::vector<ResourceText*> menu_texts(Menu& menu) {
    std::vector<ResourceText*> texts;
    for (MenuItem& item : menu.items) texts.push_back(&item.text);
    return texts;
}
