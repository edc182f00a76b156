// The installed programs and man pages, and the .deb that holds them.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <utility>

#include "run_tool.h"

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

const char* const kPages[] = {"vorlang.1", "vorlang-extract.1", "vorlang-lint.1"};

// The file as gzip -9n wrote it, unpacked; a header that -9n would not have
// written (a name, a time stamp, another level) fails the test.
std::string gunzip(const std::string& path) {
    std::string gz = read_file(path);
    // magic, deflate, no flags (no name), time stamp 0, best compression
    EXPECT_EQ(gz.substr(0, 9), "\x1f\x8b\x08\0\0\0\0\0\x02"s) << path;
    RunResult r = run_program(GZIP_BIN, "/", {"-dc", path});
    EXPECT_EQ(r.status, 0) << path << ": " << r.err;
    return r.out;
}

TEST(ManPages, FormatWithoutWarnings) {
    if (std::string(GROFF_BIN).empty()) GTEST_SKIP() << "groff is not installed (Debian: groff-base)";
    for (const char* page : kPages) {
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
    for (const char* page : kPages) {
        EXPECT_EQ(gunzip(stage.file("usr/" INSTALL_MANDIR "/man1/"s + page + ".gz")), read_file(DOC_DIR "/"s + page));
    }
    EXPECT_EQ(stage.read("usr/" INSTALL_DOCDIR "/copyright"), read_file(DOC_DIR "/copyright"));

    TempDir work;
    work.write("tool.exe", "\x7f" "ELF"s + std::string(20, '\0') + "Open file\0Quit\0"s + std::string(120, '\0'));
    RunResult extract = run_program(stage.file(bin + "vorlang-extract"), work.path(), {"-p", "tool"});
    ASSERT_EQ(extract.status, 0) << extract.err;
    EXPECT_NE(extract.out.find("\n\"Open file\" \"Open file\"\nQuit Quit\n"), std::string::npos) << extract.out;
    work.write("tool_trans.txt", "Quit Weg\n");
    RunResult lint = run_program(stage.file(bin + "vorlang-lint"), work.path(), {"-p", "tool"});
    EXPECT_EQ(lint.status, 0) << lint.out << lint.err;
    RunResult vorlang = run_program(stage.file(bin + "vorlang"), work.path(), {"-p", "tool"});
    EXPECT_EQ(vorlang.status, 0) << vorlang.out;
    EXPECT_NE(vorlang.out.find("Translation complete: tool_t.exe.\n"), std::string::npos) << vorlang.out;
}

// Builds the .deb with cpack into a scratch folder and inspects it with
// dpkg-deb and lintian; nothing is installed on this machine.
TEST(Package, DebHasItsFieldsAndFilesAndLintianPassesIt) {
    if (!*DPKG_DEB_BIN || !*DPKG_SHLIBDEPS_BIN || !*FILE_BIN) {
        GTEST_SKIP() << "packaging needs dpkg-deb, dpkg-shlibdeps and file (Debian: dpkg-dev, file)";
    }
    TempDir out;
    RunResult pack = run_program(CPACK_BIN, out.path(), {"--config", BUILD_DIR "/CPackConfig.cmake", "-B", out.path()});
    ASSERT_EQ(pack.status, 0) << pack.out << pack.err;
    std::string deb;
    for (auto& entry : fs::directory_iterator(out.path())) {
        if (entry.path().extension() == ".deb") deb = entry.path().string();
    }
    ASSERT_NE(deb, "") << pack.out;

    const std::pair<const char*, std::string> fields[] = {
        {"Package", "vorlang\n"},
        {"Version", PACKAGE_VERSION "\n"},
        {"Section", "utils\n"},
        {"Priority", "optional\n"},
        {"Maintainer", "vorlang maintainers <"},
        // from dpkg-shlibdeps: without it the field would be missing (the
        // C++ runtime is linked in, so libstdc++6 is none of them)
        {"Depends", "libc6 (>= "},
        {"Depends", "libelf1 (>= "},
    };
    for (const auto& [name, part] : fields) {
        RunResult r = run_program(DPKG_DEB_BIN, out.path(), {"--field", deb, name});
        EXPECT_NE(r.out.find(part), std::string::npos) << name << ": " << r.out << r.err;
    }

    // Every file with its mode, owned by root.
    const std::map<std::string, std::string> files = {
        {"./usr/bin/vorlang", "-rwxr-xr-x"},
        {"./usr/bin/vorlang-extract", "-rwxr-xr-x"},
        {"./usr/bin/vorlang-lint", "-rwxr-xr-x"},
        {"./usr/share/man/man1/vorlang.1.gz", "-rw-r--r--"},
        {"./usr/share/man/man1/vorlang-extract.1.gz", "-rw-r--r--"},
        {"./usr/share/man/man1/vorlang-lint.1.gz", "-rw-r--r--"},
        {"./usr/share/doc/vorlang/copyright", "-rw-r--r--"},
        {"./usr/share/doc/vorlang/changelog.gz", "-rw-r--r--"},
    };
    RunResult list = run_program(DPKG_DEB_BIN, out.path(), {"--contents", deb});
    ASSERT_EQ(list.status, 0) << list.err;
    std::map<std::string, std::string> listed;
    std::istringstream lines(list.out);
    std::string mode, owner, size, date, time, path;
    while (lines >> mode >> owner >> size >> date >> time >> path) {
        EXPECT_EQ(owner, "root/root") << path;
        if (mode[0] == 'd') {
            EXPECT_EQ(mode, "drwxr-xr-x") << path;
        } else {
            listed[path] = mode;
        }
    }
    EXPECT_EQ(listed, files);

    ASSERT_EQ(run_program(DPKG_DEB_BIN, out.path(), {"--extract", deb, "root"}).status, 0);
    const std::string doc = out.file("root/usr/share/doc/vorlang/");
    for (const char* page : kPages) {
        EXPECT_EQ(gunzip(out.file("root/usr/share/man/man1/"s + page + ".gz")), read_file(DOC_DIR "/"s + page));
    }
    std::string changelog = gunzip(doc + "changelog.gz");
    EXPECT_EQ(changelog, read_file(DOC_DIR "/changelog"));
    EXPECT_EQ(changelog.rfind("vorlang (" PACKAGE_VERSION ") ", 0), 0u) << "the changelog's last entry is not this version";
    EXPECT_EQ(read_file(doc + "copyright"), read_file(DOC_DIR "/copyright"));

    if (!*LINTIAN_BIN) GTEST_SKIP() << "lintian is not installed; the rest of the package was checked";
    // lintian leaves files in its temporary folder: give it one of ours.
    const std::string scratch = out.file("tmp");
    std::filesystem::create_directory(scratch);
    RunResult lint = run_program(LINTIAN_BIN, out.path(), {"--fail-on", "error,warning", deb},
                                 [&scratch] { ::setenv("TMPDIR", scratch.c_str(), 1); });
    EXPECT_EQ(lint.status, 0) << lint.out << lint.err;
}

}  // namespace
