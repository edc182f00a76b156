// The wide pass as its rule reads, kept as the oracle of the fast one: every
// even offset from 2, every entry in list order, no index.
#pragma once

#include <string>

#include "dictionary.h"

// Replaces the UTF-16 texts of copy (which the byte pass has made) in place
// and counts each replacement in its entry.
void wide_reference(Trans_Tbl* head, std::string& copy, int relax);
