// Runs the literal window over a file, for the benchmark:
//   window_run DICTIONARY PROGRAM OUT RELAX
// and writes each entry's count as the report's "Translated:" lines do.
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "dictionary.h"
#include "window_translator.h"

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: window_run DICTIONARY PROGRAM OUT RELAX\n");
        return 2;
    }
    EntryList list = read_trans(argv[1]);
    Trans_Tbl* head = list.get();
    std::ifstream in(argv[2], std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (head == nullptr || !in) return 1;
    std::string out;
    window_translate_bytes(head, bytes, std::atoi(argv[4]), out);
    std::ofstream(argv[3], std::ios::binary).write(out.data(), static_cast<std::streamsize>(out.size()));
    std::printf("Translated:\n");
    for (const Trans_Tbl* e = head; e != nullptr; e = e->next) {
        std::printf("%" PRId64 "x  %s -> %s\n", e->n_trans, e->org_name, e->new_name);
    }
    return 0;
}
