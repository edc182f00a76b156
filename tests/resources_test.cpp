// A real Windows program, built here from a .rc file by the mingw-w64
// tools: its resource tree reads and writes back to the same bytes, and a
// tree with one resource grown, laid out into the program, holds what it
// should by pefile's reading. Skipped, saying why, without those tools.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "pe_layout.h"

namespace {

std::vector<unsigned char> slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Skips the test unless the program was built and pefile is there.
void need_tools() {
    if (std::string(TINY_WIN_EXE).empty()) GTEST_SKIP() << "no x86_64-w64-mingw32-gcc and -windres: no Windows program";
    ASSERT_TRUE(std::filesystem::exists(TINY_WIN_EXE)) << TINY_WIN_EXE << " was not built";
    if (std::string(PYTHON3_BIN).empty() ||
        std::system((std::string(PYTHON3_BIN) + " -c 'import pefile' 2>/dev/null").c_str()) != 0) {
        GTEST_SKIP() << "no python3 with pefile to check the result";
    }
}

TEST(WindowsProgram, ResourceTreeWritesBackToTheSameBytes) {
    need_tools();
    const std::vector<unsigned char> file = slurp(TINY_WIN_EXE);
    FileBytes bytes(file.data(), file.size());
    const std::optional<PeImage> img = read_pe_image(bytes);
    ASSERT_TRUE(img);
    const ResourceRead r = read_resource_tree(bytes, *img);
    ASSERT_TRUE(r.ok()) << r.message;
    EXPECT_EQ(r.tree.entries.size(), 7u);  // the .rc file's resources
    const PeDirectory dir = img->directory(PeDirectoryIndex::resources);
    const ResourceImage w = write_resource_tree(r.tree, dir.rva);
    ASSERT_TRUE(w.ok()) << w.message;
    // The resource compiler writes the normal form.
    const std::optional<PeSpan> span = img->span(dir.rva, w.bytes.size());
    ASSERT_TRUE(span);
    EXPECT_TRUE(std::equal(w.bytes.begin(), w.bytes.end(), file.begin() + static_cast<std::ptrdiff_t>(span->offset)));
    EXPECT_EQ(w.bytes.size(), dir.size);
}

TEST(WindowsProgram, GrownResourceLaidOutReadsRightInPefile) {
    need_tools();
    struct Row {
        std::string type, name;  // ids as numbers
        std::uint32_t language, times;
        LayoutWay way;
    };
    const Row rows[] = {
        {"4", "1", 0x409, 2, LayoutWay::in_place},                 // the menu doubled
        {"PLAINTEXT", "NOTES", 0, 120, LayoutWay::extended},  // by 2.5 KiB: .reloc moves
    };
    auto key = [](const std::string& s) {
        return s[0] >= '0' && s[0] <= '9' ? ResourceKey::of(static_cast<std::uint32_t>(std::stoul(s)))
                                          : ResourceKey::of(std::u16string(s.begin(), s.end()));
    };
    const std::vector<unsigned char> file = slurp(TINY_WIN_EXE);
    FileBytes bytes(file.data(), file.size());
    const std::optional<PeImage> img = read_pe_image(bytes);
    ASSERT_TRUE(img);
    const ResourceRead r = read_resource_tree(bytes, *img);
    ASSERT_TRUE(r.ok()) << r.message;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.type);
        ResourceTree tree = r.tree;
        bool found = false;
        for (ResourceEntry& e : tree.entries) {
            if (e.type == key(row.type) && e.name == key(row.name) &&
                e.language == ResourceKey::of(row.language)) {
                const std::vector<unsigned char> once = e.data;
                for (std::uint32_t i = 1; i < row.times; ++i) e.data.insert(e.data.end(), once.begin(), once.end());
                found = true;
            }
        }
        ASSERT_TRUE(found);
        const LayoutResult out = lay_out_resources(file.data(), file.size(), tree);
        ASSERT_TRUE(out.ok()) << out.message;
        EXPECT_EQ(out.way, row.way);
        const std::string path =
            (std::filesystem::path(testing::TempDir()) / ("grown_" + row.type + ".exe")).string();
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(out.bytes.data()),
                                                     static_cast<std::streamsize>(out.bytes.size()));
        const std::string command = std::string(PYTHON3_BIN) + " " + PE_CHECK + " " + TINY_WIN_EXE + " " + path +
                                    " " + row.type + " " + row.name + " " +
                                    std::to_string(row.language) + " " + std::to_string(row.times) + " 2>&1";
        std::FILE* p = ::popen(command.c_str(), "r");
        ASSERT_NE(p, nullptr);
        std::string said;
        char buf[512];
        while (std::fgets(buf, sizeof buf, p) != nullptr) said += buf;
        EXPECT_EQ(::pclose(p), 0) << command << "\n" << said;
        std::filesystem::remove(path);
    }
}

}  // namespace
