// The installed programs and man pages.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "run_tool.h"

namespace {

using namespace std::string_literals;

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

TEST(ManPages, FormatWithoutWarnings) {
    if (std::string(GROFF_BIN).empty()) GTEST_SKIP() << "groff is not installed";
    for (const char* page : {"vorlang.1", "vorlang-extract.1"}) {
        TempDir dir;
        RunResult r = run_program(GROFF_BIN, dir.path(), {"-man", "-Tutf8", "-ww", "-z", DOC_DIR "/"s + page});
        EXPECT_EQ(r.status, 0) << page;
        EXPECT_EQ(r.err, "") << page;
    }
}

TEST(Install, PutsProgramsAndManPagesInPlaceAndTheyRun) {
    TempDir stage;
    const std::string prefix = stage.file("usr");
    RunResult install = run_program(CMAKE_BIN, stage.path(), {"--install", BUILD_DIR, "--prefix", prefix});
    ASSERT_EQ(install.status, 0) << install.out << install.err;
    const std::string bin = "usr/" INSTALL_BINDIR "/";
    const std::string man = "usr/" INSTALL_MANDIR "/man1/";
    for (const char* page : {"vorlang.1", "vorlang-extract.1"}) {
        EXPECT_EQ(stage.read(man + page), slurp(DOC_DIR "/"s + page)) << page;
    }

    TempDir work;
    work.write("tool.exe", "\x7f" "ELF"s + std::string(20, '\0') + "Open file\0Quit\0"s + std::string(120, '\0'));
    RunResult extract = run_program(stage.file(bin + "vorlang-extract"), work.path(), {"-p", "tool"});
    ASSERT_EQ(extract.status, 0) << extract.err;
    EXPECT_NE(extract.out.find("\n\"Open file\" \"Open file\"\nQuit Quit\n"), std::string::npos) << extract.out;
    work.write("tool_trans.txt", "Quit Weg\n");
    RunResult vorlang = run_program(stage.file(bin + "vorlang"), work.path(), {"-p", "tool"});
    EXPECT_EQ(vorlang.status, 0) << vorlang.out;
    EXPECT_NE(vorlang.out.find("Translation complete: tool_t.exe.\n"), std::string::npos) << vorlang.out;
}

}  // namespace
