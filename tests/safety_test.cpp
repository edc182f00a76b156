// Nothing the user owns is lost: failed, limited and interrupted runs leave
// the folder as it was, and hostile names and dictionaries are handled.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "run_tool.h"

namespace {

using namespace std::string_literals;
namespace fs = std::filesystem;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

const std::string kDict = "File Bestand\nQuit Weg\n";
const std::string kWarn = "Warn: 'File' ->\n      'Bestand': clipped to\n      'Best'\n";
const std::string kNames = "Program   =dornevo\nDictionary=dornevo_trans.txt\n";
const std::string kOld = "the older translated copy";

// A program with texts spread over its whole length.
std::string program(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t at = 16; at + 120 < size; at += 4096) bytes.replace(at, 11, "File\0Quit\0x"s);
    return bytes;
}

void write_folder(const TempDir& dir, const std::string& prog) {
    dir.write("dornevo_trans.txt", kDict);
    dir.write("dornevo.exe", prog);
    dir.write("dornevo_t.exe", kOld);
}

// Permissions only bind a user without privileges.
void unprivileged() {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(122);
}

void share(const TempDir& dir, fs::perms folder) {
    for (auto& entry : fs::directory_iterator(dir.path())) {
        fs::permissions(entry.path(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                                          fs::perms::others_read);
    }
    fs::permissions(dir.path(), folder);
}

TEST(FullDisk, LeavesTheOldOutputAndNoTemporaryFile) {
    const std::string prog = program(300000);
    for (rlim_t limit : {rlim_t{4096}, rlim_t{65536}, rlim_t{150000}, rlim_t{299999}}) {
        TempDir dir;
        write_folder(dir, prog);
        auto before = dir.snapshot();
        RunResult r = run_vorlang(dir.path(), {}, [limit] {
            struct rlimit rl {limit, limit};
            ::setrlimit(RLIMIT_FSIZE, &rl);
        });
        EXPECT_EQ(r.status, -5) << limit;
        EXPECT_EQ(r.err, "Error: Can't write dornevo_t.exe.\n") << limit;
        EXPECT_EQ(r.out.find("Translated:"), std::string::npos) << limit;
        EXPECT_EQ(r.out.substr(0, kNames.size() + kWarn.size()), kNames + kWarn);
        EXPECT_EQ(dir.snapshot(), before) << limit;
    }
}

struct FailCase {
    const char* name;
    std::function<void(const TempDir&)> setup;
    std::vector<std::string> args;
    bool drop_privileges;
    int status;
    std::string err;
};

void PrintTo(const FailCase& c, std::ostream* os) { *os << c.name; }

class Failures : public testing::TestWithParam<FailCase> {};

TEST_P(Failures, LeaveTheFolderAsItWas) {
    const FailCase& c = GetParam();
    TempDir dir;
    write_folder(dir, program(5000));
    c.setup(dir);
    auto before = dir.snapshot();
    RunResult r;
    if (c.drop_privileges) {
        // The build folder may be closed to other users: run a copy they can reach.
        TempDir bin;
        fs::copy_file(VORLANG_BIN, bin.file("vorlang"));
        fs::permissions(bin.path(), fs::perms(0755));
        r = run_program(bin.file("vorlang"), dir.path(), c.args, unprivileged);
    } else {
        r = run_vorlang(dir.path(), c.args);
    }
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.out.find("Translated:"), std::string::npos);
    EXPECT_EQ(dir.snapshot(), before);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Failures,
    testing::Values(
        FailCase{"ProgramIsAFolder",
                 [](const TempDir& d) {
                     fs::remove(d.file("dornevo.exe"));
                     fs::create_directory(d.file("dornevo.exe"));
                 },
                 {}, false, -2, "Error: Can't read file dornevo.exe to translate.\n"},
        FailCase{"UnwritableFolder", [](const TempDir& d) { share(d, fs::perms(0555)); }, {}, true, -5,
                 "Error: Can't open dornevo_t.exe for write.\n"},
        FailCase{"ReadOnlyOutput",
                 [](const TempDir& d) {
                     share(d, fs::perms(0777));
                     fs::permissions(d.file("dornevo_t.exe"), fs::perms(0444));
                 },
                 {}, true, -5, "Error: Can't open dornevo_t.exe for write.\n"},
        FailCase{"OutputIsAFolder", [](const TempDir& d) { fs::create_directory(d.file("out.exe")); },
                 {"-o", "out"}, false, -5, "Error: Can't open out.exe for write.\n"},
        FailCase{"OutputNameTooLong", [](const TempDir&) {}, {"-o", std::string(10000, 'o')}, false, -5,
                 "Error: Can't open " + std::string(10000, 'o') + ".exe for write.\n"},
        FailCase{"OutputIsTheProgramThroughALink",
                 [](const TempDir& d) { fs::create_symlink("dornevo.exe", d.file("same.exe")); },
                 {"-o", "same"}, false, -5, "Error: output same.exe would overwrite the program to translate.\n"}),
    [](const testing::TestParamInfo<FailCase>& info) { return info.param.name; });

TEST(Output, KeepsTheModeAndFollowsLinks) {
    TempDir dir;
    write_folder(dir, program(5000));
    fs::create_directory(dir.file("real"));
    dir.write("real/copy.exe", kOld);
    ::chmod(dir.file("real/copy.exe").c_str(), 0640);
    fs::create_symlink("real/copy.exe", dir.file("link.exe"));
    RunResult r = run_vorlang(dir.path(), {"-o", "link"}, [] { ::umask(022); });
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::is_symlink(dir.file("link.exe")));
    EXPECT_NE(dir.read("real/copy.exe"), kOld);
    EXPECT_EQ(dir.read("real/copy.exe").size(), 5000u);
    struct stat st {};
    ASSERT_EQ(::stat(dir.file("real/copy.exe").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0751u);
    EXPECT_EQ(fs::directory_iterator(dir.file("real")) == fs::directory_iterator(), false);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.file("real")), fs::directory_iterator()), 1);
}

TEST(HostileNames, AreOnlyNames) {
    const std::vector<std::string> names = {"with blank", "quote\"d", "semi;touch ran", "$(touch ran)",
                                            "`touch ran`", "it's"};
    for (const std::string& name : names) {
        for (const char* option : {"-p", "-d", "-o"}) {
            TempDir dir;
            std::string prog = option == "-p"s ? name : "dornevo";
            std::string dict = option == "-p"s ? name + "_trans" : option == "-d"s ? name : "dornevo_trans";
            std::string out = option == "-o"s ? name : prog + "_t";
            dir.write(dict + ".txt", kDict);
            dir.write(prog + ".exe", program(5000));
            RunResult r = run_vorlang(dir.path(), {option, name});
            EXPECT_EQ(r.status, 0) << name << " " << option << " " << r.err;
            EXPECT_TRUE(dir.exists(out + ".exe")) << name << " " << option;
            EXPECT_FALSE(dir.exists("ran")) << name << " " << option;
            EXPECT_EQ(dir.snapshot().size(), 3u) << name << " " << option;
        }
    }
}

TEST(HostileInput, RandomDictionariesNeverCrash) {
    std::mt19937 rng(2026);
    for (int round = 0; round < 20; ++round) {
        std::string dict;
        int kind = round % 3;
        for (int i = 0; i < 20000; ++i) {
            unsigned char c = static_cast<unsigned char>(rng());
            if (kind == 1 && c < 40) c = 0;                 // many NUL bytes
            if (kind == 2) c = c < 8 ? '\n' : c < 20 ? ' ' : c < 24 ? '"' : 'a' + c % 26;
            dict.push_back(static_cast<char>(c));
        }
        if (kind == 2) dict += std::string(5000, 'L') + " " + std::string(5000, 'R') + "\n";
        TempDir dir;
        dir.write("dornevo_trans.txt", dict);
        dir.write("dornevo.exe", program(5000));
        RunResult r = run_vorlang(dir.path(), {});
        EXPECT_EQ(r.signal, 0) << round;
        EXPECT_TRUE(r.status == 0 || r.status == -1 || r.status == -3) << round << " " << r.status;
        if (r.status == 0) {
            EXPECT_EQ(dir.read("dornevo_t.exe").size(), 5000u);
        }
    }
}

TEST(HostileInput, EmptyProgramGivesAnEmptyCopy) {
    TempDir dir;
    dir.write("dornevo_trans.txt", kDict);
    dir.write("dornevo.exe", "");
    RunResult r = run_vorlang(dir.path(), {});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, kNames + kWarn + "Translated:\n0x  File -> Best\n0x  Quit -> Weg\nNot translated:\n"
                                       "0x  File -> Best\n0x  Quit -> Weg\n");
    EXPECT_TRUE(dir.exists("dornevo_t.exe"));
    EXPECT_EQ(dir.read("dornevo_t.exe"), "");
}

TEST(Memory, ExhaustedStopsCleanly) {
    if (kSanitized) GTEST_SKIP() << "the sanitizers need more address space than the limit leaves";
    TempDir dir;
    std::string dict;
    for (int i = 0; i < 700000; ++i) dict.append("t").append(std::to_string(i)).append(" x\n");
    write_folder(dir, program(5000));
    dir.write("dornevo_trans.txt", dict);
    auto before = dir.snapshot();
    RunResult r = run_vorlang(dir.path(), {}, [] {
        struct rlimit rl {96u << 20, 96u << 20};
        ::setrlimit(RLIMIT_AS, &rl);
    });
    EXPECT_EQ(r.status, -3);
    EXPECT_EQ(r.err, "Error: out of memory.\n");
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(dir.snapshot(), before);
}

bool has_temporary(const std::string& dir) {
    for (auto& entry : fs::directory_iterator(dir)) {
        if (entry.path().filename().string().rfind(".dornevo_t.exe.", 0) == 0) return true;
    }
    return false;
}

TEST(Interrupt, RemovesTheTemporaryFile) {
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        TempDir dir;
        write_folder(dir, "");
        // A large sparse program keeps the translator busy.
        int fd = ::open(dir.file("dornevo.exe").c_str(), O_WRONLY);
        ASSERT_EQ(::ftruncate(fd, off_t{3} << 30), 0);
        ::close(fd);
        bool seen = false;
        RunResult r = run_vorlang(dir.path(), {}, {}, [&](int pid) {
            auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            while (!(seen = has_temporary(dir.path())) && std::chrono::steady_clock::now() < until) {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            ::kill(pid, sig);
        });
        ASSERT_TRUE(seen);
        EXPECT_EQ(r.signal, sig);
        EXPECT_FALSE(has_temporary(dir.path()));
        EXPECT_EQ(dir.read("dornevo_t.exe"), kOld);
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 3);
    }
}

TEST(LargeFile, CountsPastFourGiB) {
    TempDir dir;
    dir.write("dornevo_trans.txt", kDict);
    const off_t size = (off_t{4} << 30) + 200000;
    const off_t text_at = size - 1000;
    int fd = ::open(dir.file("dornevo.exe").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    if (::ftruncate(fd, size) != 0 || ::pwrite(fd, "\0File\0", 6, text_at) != 6) {
        ::close(fd);
        GTEST_SKIP() << "this file system refuses a sparse file of " << size << " bytes";
    }
    ::close(fd);
    if (fs::space(dir.path()).available < static_cast<std::uintmax_t>(size) + (1u << 30)) {
        GTEST_SKIP() << "not enough free space for the copy";
    }
    RunResult r = run_vorlang(dir.path(), {});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::int64_t counted = size - 99;
    const std::int64_t lines = counted / 100000;
    std::string last = std::to_string(lines * 100000) + "      \r";
    std::size_t progress = r.out.find("      \r");
    EXPECT_EQ(r.out.substr(0, progress), kNames + kWarn + "100000");
    std::size_t end = r.out.find("Translated:");
    ASSERT_NE(end, std::string::npos);
    EXPECT_EQ(r.out.substr(end - last.size(), last.size()), last);
    EXPECT_EQ(r.out.substr(end), "Translated:\n1x  File -> Best\n0x  Quit -> Weg\nNot translated:\n0x  Quit -> Weg\n");
    int copy = ::open(dir.file("dornevo_t.exe").c_str(), O_RDONLY);
    char got[6] = {};
    EXPECT_EQ(::pread(copy, got, 6, text_at), 6);
    ::close(copy);
    EXPECT_EQ(std::string(got, 6), "\0Best\0"s);
    EXPECT_EQ(fs::file_size(dir.file("dornevo_t.exe")), static_cast<std::uintmax_t>(size));
}

}  // namespace
