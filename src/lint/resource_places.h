// Where a Windows program's resources hold each dictionary original, read by
// their structure as vorlang -g reads them: the texts there are written at
// full length, and menus and dialogs group them (a menu level, a dialog) so
// that hotkeys can be compared within a group.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "dictionary.h"

// No entry gives the text.
constexpr std::size_t kNoEntry = SIZE_MAX;

// A text of a menu or a dialog, in file order.
struct ResourceItem {
    std::string text;              // UTF-8
    std::size_t entry = kNoEntry;  // the first entry (list index) whose original it equals
    std::size_t group = 0;         // in ResourcePlaces::groups
    bool control = false;          // a dialog control's title (not a caption or a menu item)
};

struct ResourcePlaces {
    std::vector<std::int64_t> found;  // per entry, in list order: resource texts it replaces
    std::vector<ResourceItem> items;
    std::vector<std::string> groups;  // "menu 1, en-US, under '&File'", "dialog 102, en-US"
    // The file range of the section that holds the resources.
    std::uint64_t section_begin = 0;
    std::uint64_t section_end = 0;
};

enum class ResourcePlacesStatus { ok, unreadable, out_of_memory };

// Reads prog, a PE program, and its resources of the given languages (all
// when none given). unreadable: no PE program or resources that do not
// parse, reason says which.
ResourcePlacesStatus find_resource_places(const Trans_Tbl* head, std::FILE* prog,
                                          const std::vector<std::uint16_t>& languages, ResourcePlaces& out,
                                          std::string& reason);
