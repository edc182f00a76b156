// The section map: what is hidden in PE images and ELF files built here and
// in this test program's own ELF file, that broken headers give the unknown
// map, and that crafted counts cost little memory.
#include <elf.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <optional>
#include <random>
#include <sstream>
#include <string>

#include "pe_image.h"
#include "program_sections.h"
#include "section_readers.h"

namespace {

ProgramMap map_of(const std::string& b) {
    return read_program_map(reinterpret_cast<const unsigned char*>(b.data()), b.size());
}

ProgramMap map_of_file(const std::string& b) {
    std::FILE* f = std::tmpfile();
    std::fwrite(b.data(), 1, b.size(), f);
    std::fflush(f);
    ProgramMap m = read_program_map(::fileno(f));
    std::fclose(f);
    return m;
}

// The map as text, its order and bounds checked on the way.
std::string dump(const ProgramMap& m, std::uint64_t size) {
    std::ostringstream out;
    out << static_cast<int>(m.format);
    std::uint64_t last = 0;
    for (const Section& s : m.sections) {
        EXPECT_TRUE(last <= s.range.begin && s.range.begin < s.range.end && s.range.end <= size) << s.name;
        last = s.range.end;
        out << " " << s.name << "@" << s.range.begin << "-" << s.range.end << (s.executable ? "x" : "");
    }
    for (const FileRange& r : m.hidden) {
        EXPECT_TRUE((&r == &m.hidden[0] || last < r.begin) && r.begin < r.end && r.end <= size) << r.begin;
        last = r.end;
        out << " h" << r.begin << "-" << r.end;
    }
    return out.str();
}

// Offsets in .rdata.
enum : std::uint32_t {
    kImports = 0x000, kDelay = 0x040, kAlpha = 0x080, kBeta = 0x090, kLookup = 0x100, kAddresses = 0x140,
    kOpen = 0x180, kClose = 0x1A0, kDelayLookup = 0x1C0, kLate = 0x1E0, kExports = 0x200, kExportNames = 0x240,
    kDoThing = 0x250, kFarExport = 0x300, kHello = 0x340, kDebugDir = 0x400, kPdb = 0x440, kStill = 0x480,
};

// A PE image: headers, .text, .rdata with the export, import, debug and
// delay-load directories, ".debug_info" named through the string table,
// .idata and .didat with names no directory points to, two COFF symbols.
struct Pe {
    bool plus;
    std::uint64_t text, rdata_size;
    std::string b;

    std::uint64_t dirs() const { return plus ? 0x108 : 0xF8; }
    std::uint64_t table() const { return plus ? 0x188 : 0x178; }
    std::uint64_t rdata() const { return 0x400 + text; }
    std::uint64_t debug() const { return rdata() + rdata_size; }
    std::uint64_t idata() const { return debug() + 0x200; }
    std::uint64_t didat() const { return idata() + 0x200; }
    std::uint64_t symbols() const { return didat() + 0x200; }
    std::uint64_t ordinal() const { return plus ? 1ull << 63 | 7 : 0x80000007; }
    static std::uint32_t rva(std::uint32_t in_rdata) { return 0x100000 + in_rdata; }

    void put(std::uint64_t at, std::uint64_t v, unsigned n = 4) {
        for (unsigned i = 0; i < n; ++i) b[at + i] = static_cast<char>(v >> 8 * i);
    }
    void str(std::uint64_t at, const std::string& s) { b.replace(at, s.size() + 1, s.c_str(), s.size() + 1); }
    void thunk(std::uint64_t in_rdata, std::uint64_t v) { put(rdata() + in_rdata, v, plus ? 8 : 4); }
    void dir(unsigned i, std::uint32_t rva, std::uint32_t size) { put(dirs() + 8 * i, rva | std::uint64_t{size} << 32, 8); }
    void section(unsigned i, const char* name, std::uint32_t va, std::uint64_t size, std::uint64_t at) {
        str(table() + 40 * i, name);
        for (std::uint64_t f = 0; f < 4; ++f) put(table() + 40 * i + 8 + 4 * f, f == 1 ? va : f == 3 ? at : size);
    }

    explicit Pe(bool plus_, std::uint64_t text_ = 0x200, std::uint64_t rdata_ = 0x1000)
        : plus(plus_), text(text_), rdata_size(rdata_), b(symbols() + 52, '\0') {
        const std::uint64_t r = rdata();
        str(0, "MZ");
        put(0x3C, 0x80);
        str(0x80, "PE");
        put(0x86, 5, 2);  // sections
        put(0x8C, symbols());
        put(0x90, 2);
        put(0x94, plus ? 240 : 224, 2);
        put(0x98, plus ? 0x20b : 0x10b, 2);
        put(plus ? 0xB0 : 0xB4, plus ? 0x140000000 : 0x400000, plus ? 8 : 4);  // image base
        put(0xD4, 0x400);                                                     // size of the headers
        put(dirs() - 4, 16);
        section(0, ".text", 0x1000, text, 0x400);
        section(1, ".rdata", rva(0), rdata_size, r);
        section(2, "/4", 0x800000, 0x200, debug());
        section(3, ".idata", 0x60000000, 0x200, idata());
        section(4, ".didat", 0x60001000, 0x200, didat());
        str(idata() + 0x10, "CommDlgExtendedError");
        str(didat() + 0x1F0, "Delayed");
        put(symbols() + 36, 16);
        str(symbols() + 40, ".debug_info");
        dir(0, rva(kExports), 0x60);
        dir(1, rva(kImports), 40);
        dir(6, rva(kDebugDir), 28);
        dir(13, rva(kDelay), 64);
        for (auto [at, v] : std::initializer_list<std::pair<std::uint32_t, std::uint64_t>>{
                 {kImports, rva(kLookup)}, {kImports + 12, rva(kAlpha)}, {kImports + 16, rva(kAddresses)},
                 {kDelay, 1}, {kDelay + 4, rva(kBeta)}, {kDelay + 16, rva(kDelayLookup)},
                 {kExports + 12, rva(kAlpha)}, {kExports + 24, 2}, {kExports + 32, rva(kExportNames)},
                 {kExportNames, rva(kDoThing)}, {kExportNames + 4, rva(kFarExport)},
                 {kDebugDir + 16, 0x30}, {kDebugDir + 24, r + kPdb}}) {
            put(r + at, v);
        }
        for (auto [at, s] : std::initializer_list<std::pair<std::uint32_t, const char*>>{
                 {kAlpha, "alpha.dll"}, {kBeta, "beta.dll"}, {kOpen + 2, "OpenThing"}, {kClose + 2, "CloseThing"},
                 {kLate + 2, "LateThing"}, {kDoThing, "DoThing"}, {kFarExport, "FarExport"}, {kHello, "Hi, user"},
                 {kPdb, "RSDS"}, {kPdb + 24, "c:\\b\\alpha.pdb"}, {kStill, "Still shown"}}) {
            str(r + at, s);
        }
        const std::uint64_t entries[] = {rva(kOpen), ordinal(), rva(kClose), rva(kOpen)};
        for (unsigned i = 0; i < 4; ++i) {
            thunk(kLookup + i * (plus ? 8 : 4), entries[i]);
            thunk(kAddresses + i * (plus ? 8 : 4), entries[i]);
        }
        thunk(kDelayLookup, rva(kLate));
    }
};

// The delay-load directory of a PE32 image given by addresses, not RVAs.
Pe delay_by_address() {
    Pe pe(false);
    const std::uint64_t base = 0x400000;
    pe.put(pe.rdata() + kDelay, 0);
    pe.put(pe.rdata() + kDelay + 4, base + Pe::rva(kBeta));
    pe.put(pe.rdata() + kDelay + 16, base + Pe::rva(kDelayLookup));
    pe.thunk(kDelayLookup, base + Pe::rva(kLate));
    return pe;
}

TEST(PeSections, HiddenAndSectionByOffset) {
    enum From { file, table, rdata, debug, idata, didat, symbols };
    const struct {
        const char* what;
        From from;
        std::uint64_t offset;
        bool hidden;
        const char* section;
    } rows[] = {
        {"DOS header", file, 0, false, ""},          {"section table", table, 0, true, ""},
        {"its end", table, 199, true, ""},           {"after it", table, 200, false, ""},
        {"code", file, 0x400, false, ".text"},       {"symbols", symbols, 0, true, ""},
        {"string table's end", symbols, 51, true, ""},
        {"section named through the string table", debug, 0, true, ".debug_info"},
        {"import descriptors, zero one included", rdata, kImports + 39, true, ".rdata"},
        {"after them", rdata, kImports + 40, false, ".rdata"},
        {"delay-load descriptors", rdata, kDelay + 63, true, ".rdata"},
        {"DLL name's zero", rdata, kAlpha + 9, true, ".rdata"},
        {"after it", rdata, kAlpha + 10, false, ".rdata"},
        {"lookup table's zero entry", rdata, kLookup + 16, true, ".rdata"},
        {"address table", rdata, kAddresses, false, ".rdata"},
        {"hint", rdata, kOpen, true, ".rdata"},
        {"imported name's zero", rdata, kClose + 12, true, ".rdata"},
        {"after it", rdata, kClose + 13, false, ".rdata"},
        {"delay-load lookup table", rdata, kDelayLookup, true, ".rdata"},
        {"delay-load name", rdata, kLate + 2, true, ".rdata"},
        {"export directory's end", rdata, kExports + 0x5F, true, ".rdata"},
        {"after it", rdata, kExports + 0x60, false, ".rdata"},
        {"exported name outside the directory", rdata, kFarExport + 9, true, ".rdata"},
        {"a text the user sees", rdata, kHello, false, ".rdata"},
        {"debug directory", rdata, kDebugDir + 27, true, ".rdata"},
        {"pdb path", rdata, kPdb + 24, true, ".rdata"},
        {"after it", rdata, kStill, false, ".rdata"},
        {"import name no directory points to", idata, 0x10, true, ".idata"},
        {"delay-import section's end", didat, 0x1FF, true, ".didat"},
    };
    // The last: names far past the fd reader's first blocks.
    for (const Pe& pe : {Pe(false), Pe(true), delay_by_address(), Pe(true, 0x30000)}) {
        const std::uint64_t base[] = {0, pe.table(), pe.rdata(), pe.debug(), pe.idata(), pe.didat(), pe.symbols()};
        ProgramMap m = map_of(pe.b);
        ASSERT_EQ(m.format, ProgramFormat::pe);
        EXPECT_EQ(dump(map_of_file(pe.b), pe.b.size()), dump(m, pe.b.size())) << "by fd";
        for (const auto& row : rows) {
            std::uint64_t at = base[row.from] + row.offset;
            EXPECT_EQ(is_hidden(m, at), row.hidden) << row.what << " in PE32" << (pe.plus ? "+" : "");
            EXPECT_EQ(section_at(m, at) ? section_at(m, at)->name : "", row.section) << row.what;
        }
    }
}

// A delay-load entry's address table points to stubs in the code, never to
// names: an entry without a name table names no import.
TEST(PeSections, DelayLoadAddressTableNamesNothing) {
    for (Pe pe : {Pe(true), delay_by_address()}) {
        const std::uint64_t image = pe.plus ? 0x140000000 : 0x400000, stub = 0x1010;
        const std::uint64_t base = pe.plus ? 0 : image;  // the second is given by addresses
        pe.put(pe.rdata() + kDelay + 16, 0);
        pe.put(pe.rdata() + kDelay + 12, base + Pe::rva(kDelayLookup));
        pe.thunk(kDelayLookup, image + stub);
        ProgramMap m = map_of(pe.b);
        ASSERT_EQ(m.format, ProgramFormat::pe) << "PE32" << (pe.plus ? "+" : "");
        EXPECT_FALSE(is_hidden(m, 0x400 + stub - 0x1000));
        EXPECT_TRUE(is_hidden(m, pe.rdata() + kBeta));
    }
}

TEST(PeSections, BrokenHeadersGiveUnknown) {
    const std::pair<const char*, std::function<void(Pe&)>> rows[] = {
        {"cut in the headers", [](Pe& p) { p.b.resize(0x100); }},
        {"e_lfanew past the end", [](Pe& p) { p.put(0x3C, 0x7FFFFFF0); }},
        {"huge NumberOfSections", [](Pe& p) { p.put(0x86, 0xFFFF, 2); }},
        {"section past the end", [](Pe& p) { p.put(p.table() + 56, 0x7FFFFFFF); }},
        {"sections overlap", [](Pe& p) { p.put(p.table() + 100, p.rdata() + 0x10); }},
        {"section name past the string table", [](Pe& p) { p.str(p.table() + 80, "/99"); }},
        {"import directory outside the sections", [](Pe& p) { p.dir(1, 0x900000, 40); }},
        {"import name without end",
         [](Pe& p) {
             p.b.replace(p.debug() - 4, 4, "xxxx");
             p.put(p.rdata() + kImports + 12, Pe::rva(0xFFC));
         }},
        {"lookup table without end",
         [](Pe& p) {
             p.dir(0, 0, 0);
             p.dir(13, 0, 0);
             for (std::uint64_t at = kLookup; at < p.rdata_size; at += p.plus ? 8 : 4) p.thunk(at, p.ordinal());
         }},
        {"delay-load address below the image base", [](Pe& p) { p.put(p.rdata() + kDelay, 0); }},
        {"debug data past the end", [](Pe& p) { p.put(p.rdata() + kDebugDir + 24, 0xFFFFFFF0); }},
    };
    for (bool plus : {false, true}) {
        for (const auto& [what, change] : rows) {
            Pe pe(plus);
            change(pe);
            EXPECT_EQ(dump(map_of(pe.b), pe.b.size()), "0") << what << " in PE32" << (plus ? "+" : "");
        }
    }
}

// The image as the model reads it: the headers, the overlay and where a
// few RVAs lie (in the headers, at the end of .text, in .rdata, past
// .rdata's raw data, between the headers and .text).
std::string image_of(const std::string& b) {
    FileBytes file(reinterpret_cast<const unsigned char*>(b.data()), b.size());
    std::optional<PeImage> image = read_pe_image(file);
    if (!image) return "none";
    std::ostringstream out;
    out << std::hex << (image->plus ? "PE32+" : "PE32") << " base " << image->image_base << " align "
        << image->section_alignment << "/" << image->file_alignment << " headers " << image->headers_size << " dirs "
        << std::dec << image->directories.size() << std::hex << " debug "
        << image->directory(PeDirectoryIndex::debug).rva << " overlay " << image->overlay.begin << "-"
        << image->overlay.end << " at";
    for (std::uint64_t rva : {0x10u, 0x11FFu, Pe::rva(kHello), Pe::rva(0x1000), 0x500u}) {
        std::optional<PeSpan> span = image->span(rva, 1);
        out << " ";
        if (span) {
            out << span->offset << "+" << span->room;
        } else {
            out << "-";
        }
    }
    return out.str();
}

TEST(PeImage, HeadersOverlayAndRvas) {
    const std::string at = " at 10+3f0 5ff+1 940+cc0 - -";
    const struct {
        const char* what;
        bool plus;
        std::function<void(Pe&)> change;
        std::string image;
    } rows[] = {
        {"PE32", false, [](Pe&) {}, "PE32 base 400000 align 0/0 headers 400 dirs 16 debug 100400 overlay 1c00-1c34" + at},
        {"PE32+", true, [](Pe&) {}, "PE32+ base 140000000 align 0/0 headers 400 dirs 16 debug 100400 overlay 1c00-1c34" + at},
        {"alignment", true,
         [](Pe& p) {
             p.put(0xB8, 0x1000);
             p.put(0xBC, 0x200);
         },
         "PE32+ base 140000000 align 1000/200 headers 400 dirs 16 debug 100400 overlay 1c00-1c34" + at},
        {"bytes appended", false, [](Pe& p) { p.b.resize(p.b.size() + 0x100); },
         "PE32 base 400000 align 0/0 headers 400 dirs 16 debug 100400 overlay 1c00-1d34" + at},
        {"the last section reaches the end", false, [](Pe& p) { p.put(p.table() + 4 * 40 + 16, 0x234); },
         "PE32 base 400000 align 0/0 headers 400 dirs 16 debug 100400 overlay 1c34-1c34" + at},
        {"no section has bytes in the file", true,
         [](Pe& p) {
             for (unsigned i = 0; i < 5; ++i) p.put(p.table() + i * 40 + 20, 0);
         },
         "PE32+ base 140000000 align 0/0 headers 400 dirs 16 debug 100400 overlay 400-1c34 at 10+3f0 - - - -"},
        {"fewer directories than the debug one", false, [](Pe& p) { p.put(p.dirs() - 4, 6); },
         "PE32 base 400000 align 0/0 headers 400 dirs 6 debug 0 overlay 1c00-1c34" + at},
        {"unknown optional header", false, [](Pe& p) { p.put(0x98, 0x107, 2); }, "none"},
        {"string table past the end", true, [](Pe& p) { p.put(p.symbols() + 36, 0x40); }, "none"},
    };
    for (const auto& row : rows) {
        Pe pe(row.plus);
        row.change(pe);
        EXPECT_EQ(image_of(pe.b), row.image) << row.what;
    }
}

// Many thunks naming one long name cost one reading of it; as many names
// that overlap, each at its own offset, end in the work budget.
TEST(PeSections, CraftedThunksStayCheap) {
    const std::uint64_t count = 200000, name = 0x190000;
    for (const auto& [spread, format] : {std::pair{1ull, ProgramFormat::pe}, {count, ProgramFormat::unknown}}) {
        Pe pe(true, 0x200, 0x200000);
        pe.dir(0, 0, 0);
        pe.dir(6, 0, 0);
        pe.dir(13, 0, 0);
        pe.str(pe.rdata() + name + 2, std::string(210000, 'x'));
        for (std::uint64_t i = 0; i < count; ++i) pe.thunk(kLookup + i * 8, Pe::rva(name) + i % spread);
        ProgramMap m = map_of(pe.b);
        EXPECT_EQ(m.format, format) << spread;
        EXPECT_EQ(is_hidden(m, pe.rdata() + name + 4002), format == ProgramFormat::pe);
    }
}

// Crafted tables whose reading jumps between far places: the map of each,
// read by fd, reads each byte of the file about once. A reader that went
// back to the disk for every jump read 128 GB and took 3 to 8 s for each.
TEST(PeSections, CraftedTablesReadInLinearTime) {
    // About 8 times what a quiet machine takes, so that a loaded one (CI's
    // other jobs) passes; a walk that is quadratic takes minutes.
#ifdef NDEBUG
    const double kSeconds = 4;
#else
    const double kSeconds = 20;  // unoptimised, e.g. with the sanitizers: up to 2.5 s, 8.3 s seen under load
#endif
    const std::uint32_t count = 1000000, far = 128 * 1024;
    // No directories, nothing in .rdata, and the third section's addresses
    // past a large .rdata.
    auto blank = [](std::uint64_t rdata) {
        Pe pe(false, 0x200, rdata);
        pe.put(pe.table() + 92, 0x40000000);
        for (unsigned i : {0, 1, 6, 13}) pe.dir(i, 0, 0);
        pe.b.replace(pe.rdata(), 0x1000, 0x1000, '\0');
        return pe;
    };
    const std::pair<const char*, std::function<std::pair<Pe, std::uint64_t>()>> rows[] = {
        {"descriptors sharing a far lookup table",
         [&] {
             const std::uint32_t table = count * 20 + 20 + far;
             Pe pe = blank(table + 0x1000);
             pe.dir(1, Pe::rva(0), count * 20);
             for (std::uint32_t i = 0; i < count; ++i) pe.put(pe.rdata() + i * 20, Pe::rva(table));
             return std::pair{pe, pe.rdata() + table};
         }},
        {"descriptors naming scattered tables",
         [&] {
             const std::uint32_t tables = count * 20 + 20 + far, spread = 1 << 24;
             Pe pe = blank(tables + spread + 0x1000);
             pe.dir(1, Pe::rva(0), count * 20);
             for (std::uint32_t i = 0; i < count; ++i) {
                 pe.put(pe.rdata() + i * 20, Pe::rva(tables + (i * 2654435761u) % spread / 4 * 4));
             }
             return std::pair{pe, pe.rdata() + tables + (count - 1) * 2654435761u % spread / 4 * 4};
         }},
        {"export names far from their array",
         [&] {
             const std::uint32_t names = 0x1000 + count * 4 + far;
             Pe pe = blank(names + count + 0x1000);
             pe.dir(0, Pe::rva(0), 40);
             pe.put(pe.rdata() + 24, count);
             pe.put(pe.rdata() + 32, Pe::rva(0x1000));
             for (std::uint32_t i = 0; i < count; ++i) pe.put(pe.rdata() + 0x1000 + i * 4, Pe::rva(names + i));
             return std::pair{pe, pe.rdata() + names + count - 1};
         }},
    };
    for (const auto& [what, build] : rows) {
        auto [pe, probe] = build();
        std::FILE* f = std::tmpfile();
        std::fwrite(pe.b.data(), 1, pe.b.size(), f);
        std::fflush(f);
        FileBytes file(::fileno(f), pe.b.size());
        const auto start = std::chrono::steady_clock::now();
        ProgramMap m = read_pe_map(file);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        std::fclose(f);
        EXPECT_EQ(m.format, ProgramFormat::pe) << what;
        bool hidden = false;  // the reader's ranges, not yet sorted
        for (const FileRange& r : m.hidden) hidden = hidden || (r.begin <= probe && probe < r.end);
        EXPECT_TRUE(hidden) << what;
        EXPECT_LE(file.bytes_read(), 2 * pe.b.size()) << what;
        EXPECT_LT(took.count(), kSeconds) << what << ", " << pe.b.size() / 1000000 << " MB";
    }
}

// Reads in turn through the fd reader's blocks, from a file cut short
// before the last four.
TEST(FileBytes, ReadsAcrossTheWindow) {
    std::string bytes(200000, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + i / 251);
    std::FILE* f = std::tmpfile();
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fflush(f);
    FileBytes file(::fileno(f), bytes.size());
    const struct {
        std::uint64_t offset, size;
        bool ok;
    } rows[] = {{0, 4, true},        {65534, 4, true},      {65530, 2, true},   {100, 90000, true},
                {16380, 8, true},    {199997, 3, true},     {199998, 3, false}, {~0ull - 1, 4, false},
                {150000, 4, false},  {120000, 4, true},     {139998, 4, false}, {20, 8, true}};
    for (const auto& row : rows) {
        if (row.offset == 150000) {
            ASSERT_EQ(::ftruncate(::fileno(f), 140000), 0);
        }
        std::string got(row.size, '\0');
        EXPECT_EQ(file.read(row.offset, got.data(), got.size()), row.ok) << row.offset;
        EXPECT_EQ(got, row.ok ? bytes.substr(row.offset, row.size) : got) << row.offset;
    }
    std::fclose(f);
}

Elf64_Ehdr& header(std::string& b) { return *reinterpret_cast<Elf64_Ehdr*>(b.data()); }

// The section of that name, read plainly from the headers.
Elf64_Shdr& named(std::string& b, const std::string& name) {
    auto* sh = reinterpret_cast<Elf64_Shdr*>(b.data() + header(b).e_shoff);
    unsigned i = 0;
    while (i < header(b).e_shnum && b.data() + sh[header(b).e_shstrndx].sh_offset + sh[i].sh_name != name) ++i;
    static Elf64_Shdr none{};
    EXPECT_LT(i, header(b).e_shnum) << name;
    return i < header(b).e_shnum ? sh[i] : none;
}

TEST(ElfSections, OwnExecutable) {
    std::ifstream in("/proc/self/exe", std::ios::binary);
    const std::string own{std::istreambuf_iterator<char>(in), {}};
    if (own.size() < sizeof(Elf64_Ehdr) || own[EI_CLASS] != ELFCLASS64) GTEST_SKIP() << "not a 64-bit ELF program";
    std::string b = own;
    ProgramMap m = map_of_file(b);
    ASSERT_EQ(m.format, ProgramFormat::elf);
    EXPECT_EQ(dump(map_of(b), b.size()), dump(m, b.size())) << "from memory";
    for (const auto& [name, hidden] :
         {std::pair{".dynstr", true}, {".dynsym", true}, {".symtab", true}, {".strtab", true}, {".comment", true},
          {".shstrtab", true}, {".rodata", false}, {".text", false}, {".data", false}}) {
        const Elf64_Shdr& sh = named(b, name);
        for (std::uint64_t at : {sh.sh_offset, sh.sh_offset + sh.sh_size - 1}) {
            EXPECT_EQ(is_hidden(m, at), hidden) << name;
            EXPECT_EQ(section_at(m, at) ? section_at(m, at)->name : "", name);
        }
    }

    const std::pair<const char*, std::function<void(std::string&)>> broken[] = {
        {"cut in half", [](std::string& c) { c.resize(c.size() / 2); }},
        {"section headers past the end", [](std::string& c) { header(c).e_shoff = c.size() - 10; }},
        {"a section past the end", [](std::string& c) { named(c, ".rodata").sh_offset = c.size() - 1; }},
        {"sections overlap", [](std::string& c) { named(c, ".rodata").sh_offset = named(c, ".text").sh_offset; }},
        {"a name past the names", [](std::string& c) { named(c, ".rodata").sh_name = 0x7FFFFFFF; }},
        {"no section headers", [](std::string& c) { header(c).e_shoff = header(c).e_shnum = header(c).e_shstrndx = 0; }},
    };
    for (const auto& [what, change] : broken) {
        b = own;
        change(b);
        EXPECT_EQ(dump(map_of(b), b.size()), "0") << what;
        EXPECT_EQ(dump(map_of_file(b), b.size()), "0") << what << " by fd";
    }
}

// An ELF file of either class and byte order: the section table, then
// .rodata, .text, .dynstr and .bss, then the section names with room for a
// long one.
struct Elf {
    enum Field { shoff, shentsize, shnum, shstrndx, name, type, flags, offset, size, link };
    static constexpr std::uint64_t kTable = 0x40, kData = 0x200, kNames = 0x300, kLong = kNames + 38;
    bool is64, msb;
    std::string b;

    std::uint64_t entry() const { return is64 ? 64 : 40; }
    std::uint64_t table() const { return get(is64 ? 0x28 : 0x20, is64 ? 8 : 4); }
    std::uint64_t get(std::uint64_t at, unsigned n) const {
        std::uint64_t v = 0;
        for (unsigned i = 0; i < n; ++i) {
            v |= std::uint64_t{static_cast<unsigned char>(b[at + (msb ? n - 1 - i : i)])} << 8 * i;
        }
        return v;
    }
    void put(std::uint64_t at, std::uint64_t v, unsigned n) {
        for (unsigned i = 0; i < n; ++i) b[at + (msb ? n - 1 - i : i)] = static_cast<char>(v >> 8 * i);
    }
    // A field of the ELF header (section < 0) or of a section header.
    void set(Field f, std::uint64_t v, int section = -1) {
        static constexpr unsigned at32[] = {0x20, 0x2E, 0x30, 0x32, 0, 4, 8, 0x10, 0x14, 0x18};
        static constexpr unsigned at64[] = {0x28, 0x3A, 0x3C, 0x3E, 0, 4, 8, 0x18, 0x20, 0x28};
        const bool wide = is64 && (f == shoff || f == flags || f == offset || f == size);
        const std::uint64_t base = section < 0 ? 0 : table() + static_cast<std::uint64_t>(section) * entry();
        put(base + (is64 ? at64 : at32)[f], v, f >= shentsize && f <= shstrndx ? 2 : wide ? 8 : 4);
    }
    void section(int i, std::uint64_t name_at, std::uint64_t type_, std::uint64_t flags_, std::uint64_t at,
                 std::uint64_t size_) {
        for (auto [f, v] : {std::pair{name, name_at}, {type, type_}, {flags, flags_}, {offset, at}, {size, size_}}) {
            set(f, v, i);
        }
    }

    Elf(bool is64_, bool msb_) : is64(is64_), msb(msb_), b(0x480, '\0') {
        b.replace(0, 7, std::string{"\x7F" "ELF"} + (is64 ? '\2' : '\1') + (msb ? '\2' : '\1') + '\1');
        set(shoff, kTable);
        set(shentsize, entry());
        set(shnum, 6);
        set(shstrndx, 5);
        const char names[] = "\0.rodata\0.text\0.dynstr\0.bss\0.shstrtab";
        b.replace(kNames, sizeof names, names, sizeof names);
        b.replace(kLong, 300, 300, 'x');  // a name longer than any kept
        section(1, 1, SHT_PROGBITS, SHF_ALLOC, kData, 0x40);
        section(2, 9, SHT_PROGBITS, SHF_ALLOC | SHF_EXECINSTR, kData + 0x40, 0x20);
        section(3, 15, SHT_STRTAB, SHF_ALLOC, kData + 0x60, 0x10);
        section(4, 23, SHT_NOBITS, SHF_ALLOC | SHF_WRITE, kData + 0x70, 0x1000);
        section(5, 28, SHT_STRTAB, 0, kNames, 38);
    }

    // The count and the names index as the ELF header gives them when they
    // are too large for it.
    void in_section0(std::uint64_t count, std::uint64_t names) {
        set(shnum, 0);
        set(size, count, 0);
        set(shstrndx, SHN_XINDEX);
        set(link, names, 0);
    }

    // count section headers in all, the table moved to the end; those added
    // hold one byte each and share the long name.
    void grow(std::uint64_t count) {
        const std::uint64_t at = b.size(), data = at + count * entry();
        const std::string built = b.substr(kTable, 6 * entry());
        b += built;
        b.resize(data + count, '\0');
        set(shoff, at);
        in_section0(count, 5);
        set(size, kLong + 301 - kNames, 5);
        for (std::uint64_t i = 6; i < count; ++i) {
            section(static_cast<int>(i), kLong - kNames, SHT_PROGBITS, 0, data + i, 1);
        }
    }
};

constexpr const char* kElfMap =
    "1 .rodata@512-576 .text@576-608x .dynstr@608-624 .shstrtab@768-806 h608-624 h768-806";

TEST(ElfSections, ClassesByteOrdersAndBrokenHeaders) {
    const struct {
        const char* what;
        std::function<void(Elf&)> change;
        std::string map;
    } rows[] = {
        {"as built", [](Elf&) {}, kElfMap},
        {"count and names index in section 0", [](Elf& e) { e.in_section0(6, 5); }, kElfMap},
        {"a long name, cut",
         [](Elf& e) {
             e.set(Elf::name, Elf::kLong - Elf::kNames, 1);
             e.set(Elf::size, Elf::kLong + 301 - Elf::kNames, 5);
         },
         "1 " + std::string(256, 'x') +
             "@512-576 .text@576-608x .dynstr@608-624 .shstrtab@768-1107 h608-624 h768-1107"},
        {"section 0 counts more headers than the file holds", [](Elf& e) { e.in_section0(20, 5); }, "0"},
        {"names index in section 0 past the count", [](Elf& e) { e.in_section0(6, 6); }, "0"},
        {"reserved names index", [](Elf& e) { e.set(Elf::shstrndx, SHN_LORESERVE); }, "0"},
        {"no names index", [](Elf& e) { e.set(Elf::shstrndx, 0); }, "0"},
        {"no section table", [](Elf& e) { e.set(Elf::shoff, 0); }, "0"},
        {"section table past the end", [](Elf& e) { e.set(Elf::shoff, e.b.size() - 8); }, "0"},
        {"header size not the class's", [](Elf& e) { e.set(Elf::shentsize, e.entry() + 4); }, "0"},
        {"names not a string table", [](Elf& e) { e.set(Elf::type, SHT_PROGBITS, 5); }, "0"},
        {"names compressed", [](Elf& e) { e.set(Elf::flags, SHF_COMPRESSED, 5); }, "0"},
        {"names end inside one", [](Elf& e) { e.set(Elf::size, 36, 5); }, "0"},
        {"a name past the names", [](Elf& e) { e.set(Elf::name, 38, 1); }, "0"},
        {"a section past the end", [](Elf& e) { e.set(Elf::size, e.b.size(), 1); }, "0"},
        {"no class", [](Elf& e) { e.b[EI_CLASS] = 3; }, "0"},
        {"no byte order", [](Elf& e) { e.b[EI_DATA] = 0; }, "0"},
    };
    for (bool is64 : {false, true}) {
        for (bool msb : {false, true}) {
            for (const auto& row : rows) {
                Elf e(is64, msb);
                row.change(e);
                const std::string where =
                    std::string(row.what) + (is64 ? " in ELF64" : " in ELF32") + (msb ? " MSB" : " LSB");
                EXPECT_EQ(dump(map_of(e.b), e.b.size()), row.map) << where;
                EXPECT_EQ(dump(map_of_file(e.b), e.b.size()), row.map) << where << " by fd";
            }
        }
    }
}

// The peak resident memory of this process in KiB, or -1.
long peak_kib() {
    std::ifstream in("/proc/self/status");
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with("VmHWM:")) return std::atol(line.c_str() + 6);
    }
    return -1;
}

// Reading the map of the file at fd in a child process: its format, its
// sections, and how far it raised the peak memory (-1: not measurable).
struct Cost {
    int format = -1;
    std::uint64_t sections = 0;
    long grown_kib = -1;
};
Cost cost_of(int fd) {
    int pipe_fds[2];
    if (::pipe(pipe_fds) != 0) return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        Cost c;
        // "5" resets the peak to the present, so nothing the parent did counts.
        std::FILE* reset = std::fopen("/proc/self/clear_refs", "w");
        const bool reset_done = reset != nullptr && std::fputs("5", reset) >= 0 && std::fclose(reset) == 0;
        const long before = reset_done ? peak_kib() : -1;
        ProgramMap m = read_program_map(fd);
        c.format = static_cast<int>(m.format);
        c.sections = m.sections.size();
        if (before >= 0) c.grown_kib = peak_kib() - before;
        _exit(::write(pipe_fds[1], &c, sizeof c) == sizeof c ? 0 : 1);
    }
    ::close(pipe_fds[1]);
    Cost c;
    if (pid < 0 || ::read(pipe_fds[0], &c, sizeof c) != sizeof c) c = {};
    ::close(pipe_fds[0]);
    if (pid > 0) ::waitpid(pid, nullptr, 0);
    return c;
}

// Counts and sizes crafted in the headers of sparse files: the map costs
// memory for the sections kept only, and past 65,536 headers none.
TEST(ElfSections, CraftedCountsCostLittleMemory) {
    constexpr std::uint64_t kGiB = 1ull << 30;
    const struct {
        const char* what;
        std::function<void(Elf&)> change;
        std::uint64_t file_size;  // holes after the bytes built
        int format;
        std::uint64_t sections;
    } rows[] = {
        {"5 million headers counted in section 0", [](Elf& e) { e.in_section0(5000000, 5); },
         Elf::kTable + 5000000 * 64, 0, 0},
        {"section names over a 1.25 GiB file", [](Elf& e) { e.set(Elf::size, 5 * kGiB / 4 - Elf::kNames, 5); },
         5 * kGiB / 4, 1, 4},
        {"65,536 headers, all with the long name", [](Elf& e) { e.grow(65536); }, 0, 1, 65534},
        {"65,537 headers", [](Elf& e) { e.grow(65537); }, 0, 0, 0},
    };
    for (const auto& row : rows) {
        Elf e(true, false);
        row.change(e);
        std::FILE* f = std::tmpfile();
        ASSERT_NE(f, nullptr);
        std::fwrite(e.b.data(), 1, e.b.size(), f);
        std::fflush(f);
        if (row.file_size != 0) {
            ASSERT_EQ(::ftruncate(::fileno(f), static_cast<off_t>(row.file_size)), 0);
        }
        const Cost c = cost_of(::fileno(f));
        std::fclose(f);
        if (c.grown_kib < 0) GTEST_SKIP() << "the peak memory cannot be reset through /proc/self/clear_refs";
        EXPECT_EQ(c.format, row.format) << row.what;
        EXPECT_EQ(c.sections, row.sections) << row.what;
        EXPECT_LT(c.grown_kib, 64 * 1024) << row.what;
    }
}

TEST(ProgramSections, NeitherFormatGivesUnknown) {
    std::mt19937 rng(7);
    std::string noise(4096, '\0');
    for (char& c : noise) c = static_cast<char>(rng());
    const std::string rows[] = {"", "MZ", "Hello, world\nsecond line\n", noise, "MZ" + noise, "\x7F" "ELF" + noise};
    for (const std::string& b : rows) EXPECT_EQ(dump(map_of(b), b.size()), "0") << b.size();
    EXPECT_EQ(read_program_map(-1).format, ProgramFormat::unknown);
}

}  // namespace
