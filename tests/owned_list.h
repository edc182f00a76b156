// Frees a test's entry list when the test ends.
#pragma once

#include <memory>

#include "dictionary.h"

using OwnedList = std::unique_ptr<Trans_Tbl, void (*)(Trans_Tbl*)>;

inline OwnedList own(Trans_Tbl* head) { return OwnedList(head, free_trans); }
