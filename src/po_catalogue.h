// A translators' PO catalogue read as a dictionary: the same entry list as
// the translate file gives, so that the check, the cut, the padding and the
// report follow as they do for it.
//
// Each translated message that is neither fuzzy nor obsolete becomes an
// entry, in file order: its msgid the original, its msgstr the translation,
// with the escapes a catalogue writes (\n \t \" \\ \a \b \f \r \v, octal,
// hex) and strings continued over lines. The header (msgid "") gives none.
// Untranslated, fuzzy and obsolete (#~) messages give none and are counted
// in the layout. A message with plural forms or a context, or with a text
// of more than kLongestCatalogueText bytes or a zero byte, is refused: the
// message "ERR: <name>:<line>: <why>\n" goes to the sink, the layout keeps
// the reason at its line, and reading goes on. A catalogue that does not
// parse gives no list and ReadStatus::bad_format, with the line and why.
//
// Work is linear in the catalogue's size; memory is its size (it is read
// whole) and the entries, no text longer than kLongestCatalogueText + 1.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <string>

#include "dictionary.h"
#include "message_sink.h"

// Reads the catalogue at path; name is how messages name it. The layout,
// when given, gets each entry's msgstr line and what was left out or
// refused; opened receives what the file was when it was opened.
ReadResult read_po_file(const char* path, const std::string& name, const MessageSink& messages,
                        DictionaryLayout* layout = nullptr, struct stat* opened = nullptr);

// The same over a catalogue held in memory.
ReadResult read_po_bytes(const char* data, std::size_t size, const std::string& name, const MessageSink& messages,
                         DictionaryLayout* layout = nullptr);
