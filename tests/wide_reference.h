// The wide pass as its rule reads, kept as the oracle of the fast one: every
// even offset from 2, every entry in list order, no index.
#pragma once

#include <string>

#include "dictionary.h"
#include "translator.h"

// Replaces the UTF-16 texts of copy (which the byte pass has made) in place
// and counts each replacement in its entry.
// observe, when given, is told of each replacement and its offset.
void wide_reference(Trans_Tbl* head, std::string& copy, int relax, const HitObserver* observe = nullptr);
