// Fuzzes the resource codecs: the first byte picks the kind, the rest is the
// resource. Whatever decodes must encode, decode again to the same texts and
// encode to the same bytes; with every text one unit longer it must read
// back alike. Never a crash, whatever the input.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "resource_dialog.h"
#include "resource_menu.h"
#include "resource_messages.h"
#include "resource_strings.h"
#include "resource_version.h"

namespace {

template <class Model, class Decode, class Encode, class Texts>
void check(std::string_view bytes, Decode decode, Encode encode, Texts texts) {
    ResourceResult<Model> first = decode(bytes);
    if (!first.ok()) {
        if (first.offset > bytes.size()) std::abort();
        return;
    }
    ResourceResult<std::string> encoded = encode(first.value);
    if (!encoded.ok()) std::abort();
    ResourceResult<Model> second = decode(encoded.value);
    if (!second.ok()) std::abort();
    std::vector<ResourceText*> a = texts(first.value), b = texts(second.value);
    if (a.size() != b.size()) std::abort();
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (*a[i] != *b[i]) std::abort();
    }
    ResourceResult<std::string> again = encode(second.value);
    if (!again.ok() || again.value != encoded.value) std::abort();

    for (ResourceText* t : b) *t += u'+';
    ResourceResult<std::string> grown = encode(second.value);
    if (!grown.ok()) return;  // a text at its field's limit
    ResourceResult<Model> third = decode(grown.value);
    if (!third.ok()) std::abort();
    std::vector<ResourceText*> c = texts(third.value);
    if (c.size() != b.size()) std::abort();
    for (std::size_t i = 0; i < b.size(); ++i) {
        if (*c[i] != *b[i]) std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    switch (data[0] % 5) {
        case 0: check<StringTableBlock>(bytes, decode_string_table, encode_string_table, string_table_texts); break;
        case 1: check<Menu>(bytes, decode_menu, encode_menu, menu_texts); break;
        case 2: check<Dialog>(bytes, decode_dialog, encode_dialog, dialog_texts); break;
        case 3: check<VersionBlock>(bytes, decode_version, encode_version, version_texts); break;
        default: check<MessageTable>(bytes, decode_message_table, encode_message_table, message_texts); break;
    }
    return 0;
}
