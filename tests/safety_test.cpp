// Nothing the user owns is lost: failed, limited and interrupted runs leave
// the folder as it was, and hostile names and dictionaries are handled.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstring>
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

bool root() { return ::geteuid() == 0; }

// The fault shim, preloaded into the tool, makes the named calls fail.
std::function<void()> with_fault(const std::string& faults) {
    return [faults] {
        ::setenv("LD_PRELOAD", FAULT_SHIM, 1);
        ::setenv("VORLANG_FAULT", faults.c_str(), 1);
        ::setenv("ASAN_OPTIONS", "verify_asan_link_order=0", 1);
    };
}

void make_socket(const std::string& path) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof addr.sun_path);
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0) << path;
    ::close(fd);
}

// Whether the folder's file system has unnamed files.
bool unnamed_files(const std::string& dir) {
    int fd = ::open(dir.c_str(), O_TMPFILE | O_WRONLY, 0600);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

// A sparse program of the given size with "File" near its end.
void sparse_program(const TempDir& dir, off_t size) {
    int fd = ::open(dir.file("dornevo.exe").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_EQ(::ftruncate(fd, size), 0);
    ASSERT_EQ(::pwrite(fd, "\0File\0", 6, size - 1000), 6);
    ::close(fd);
}

// Whether process pid has a file in folder open for writing: the copy,
// named or not.
bool writes_in(int pid, const std::string& folder) {
    std::error_code ec;
    for (auto& fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
        std::string to = fs::read_symlink(fd.path(), ec).string();
        if (to.rfind(folder + "/", 0) == 0 && to.find("dornevo.exe") == std::string::npos &&
            to.find("_trans.txt") == std::string::npos) {
            return true;
        }
    }
    return false;
}

void wait_for_copy(int pid, const std::string& folder) {
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!writes_in(pid, folder) && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
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
    std::function<void()> child = {};  // in the tool's process, before it starts
    bool needs_root = false;
    bool needs_unnamed_files = false;
};

void PrintTo(const FailCase& c, std::ostream* os) { *os << c.name; }

class Failures : public testing::TestWithParam<FailCase> {};

TEST_P(Failures, LeaveTheFolderAsItWas) {
    const FailCase& c = GetParam();
    TempDir dir;
    if (c.needs_root && !root()) GTEST_SKIP() << "needs root";
    if (c.needs_unnamed_files && !unnamed_files(dir.path())) GTEST_SKIP() << "no unnamed files here";
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
        r = run_vorlang(dir.path(), c.args, c.child);
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
                 {}, false, -2, "Error: Can't open file dornevo.exe to translate.\n"},
        FailCase{"ProgramIsADevice",
                 [](const TempDir& d) {
                     fs::remove(d.file("dornevo.exe"));
                     fs::create_symlink("/dev/zero", d.file("dornevo.exe"));
                 },
                 {}, false, -2, "Error: Can't open file dornevo.exe to translate.\n"},
        FailCase{"ProgramIsASocket",
                 [](const TempDir& d) {
                     fs::remove(d.file("dornevo.exe"));
                     make_socket(d.file("dornevo.exe"));
                 },
                 {}, false, -2, "Error: Can't open file dornevo.exe to translate.\n"},
        FailCase{"OutputIsAFifo", [](const TempDir& d) { ::mkfifo(d.file("out.exe").c_str(), 0666); }, {"-o", "out"},
                 false, -5, "Error: Can't open out.exe for write.\n"},
        FailCase{"OutputIsASocket", [](const TempDir& d) { make_socket(d.file("out.exe")); }, {"-o", "out"}, false,
                 -5, "Error: Can't open out.exe for write.\n"},
        FailCase{"OutputLinksToAFifo",
                 [](const TempDir& d) {
                     ::mkfifo(d.file("pipe").c_str(), 0666);
                     fs::create_symlink("pipe", d.file("out.exe"));
                 },
                 {"-o", "out"}, false, -5, "Error: Can't open out.exe for write.\n"},
        FailCase{"OutputLinksToADevice",
                 [](const TempDir& d) {
                     ASSERT_EQ(::mknod(d.file("null").c_str(), S_IFCHR | 0666, ::makedev(1, 3)), 0);
                     fs::create_symlink("null", d.file("out.exe"));
                 },
                 {"-o", "out"}, false, -5, "Error: Can't open out.exe for write.\n", {}, true},
        // Another user's link in a shared sticky folder is not followed, as
        // the kernel's rule for such folders would have it.
        FailCase{"OutputIsAnotherUsersLinkInASharedFolder",
                 [](const TempDir& d) {
                     d.write("elsewhere/victim", "secret");
                     ::chmod(d.file("elsewhere/victim").c_str(), 0600);
                     fs::create_symlink(d.file("elsewhere/victim"), d.file("out.exe"));
                     ASSERT_EQ(::lchown(d.file("out.exe").c_str(), 65534, 65534), 0);
                     fs::permissions(d.path(), fs::perms(01777));
                 },
                 {"-o", "out"}, false, -5, "Error: Can't open out.exe for write.\n", {}, true},
        // So is such a link on the way to the output's folder.
        FailCase{"OutputFolderIsAnotherUsersLinkInASharedFolder",
                 [](const TempDir& d) {
                     fs::create_directory(d.file("elsewhere"));
                     fs::create_symlink(d.file("elsewhere"), d.file("d"));
                     ASSERT_EQ(::lchown(d.file("d").c_str(), 65534, 65534), 0);
                     fs::permissions(d.path(), fs::perms(01777));
                 },
                 {"-o", "d/out"}, false, -5, "Error: Can't open d/out.exe for write.\n", {}, true},
        FailCase{"OutputIsTheDictionaryThroughALink",
                 [](const TempDir& d) { fs::create_symlink("dornevo_trans.txt", d.file("out.exe")); }, {"-o", "out"},
                 false, -5, "Error: output out.exe would overwrite the dictionary dornevo_trans.txt.\n"},
        FailCase{"OutputIsALinkLoop",
                 [](const TempDir& d) {
                     fs::create_symlink("b.exe", d.file("a.exe"));
                     fs::create_symlink("a.exe", d.file("b.exe"));
                 },
                 {"-o", "a"}, false, -5, "Error: Can't open a.exe for write.\n"},
        FailCase{"LinkFails", [](const TempDir&) {}, {}, false, -5, "Error: Can't write dornevo_t.exe.\n",
                 with_fault("linkat"), false, true},
        FailCase{"RenameFails", [](const TempDir&) {}, {}, false, -5, "Error: Can't write dornevo_t.exe.\n",
                 with_fault("renameat")},
        FailCase{"RenameOfHiddenNameFails", [](const TempDir&) {}, {}, false, -5,
                 "Error: Can't write dornevo_t.exe.\n", with_fault("tmpfile,renameat")},
        FailCase{"CloseFails", [](const TempDir&) {}, {}, false, -5, "Error: Can't write dornevo_t.exe.\n",
                 with_fault("close")},
        FailCase{"ProgramReadFails", [](const TempDir&) {}, {}, false, -2,
                 "Error: Can't read file dornevo.exe to translate.\n", with_fault("pread")},
        FailCase{"CloseOfHiddenNameFails", [](const TempDir&) {}, {}, false, -5,
                 "Error: Can't write dornevo_t.exe.\n", with_fault("tmpfile,close")},
        // Another user puts a link to a file of theirs where the copy was:
        // neither its mode changes nor does the link become the output.
        FailCase{"HiddenNameSwappedForALink",
                 [](const TempDir& d) {
                     d.write("elsewhere/victim", "secret");
                     ::chmod(d.file("elsewhere/victim").c_str(), 0600);
                 },
                 {}, false, -5, "Error: Can't write dornevo_t.exe.\n", [] {
                     with_fault("swap:" + fs::current_path().string() + "/elsewhere/victim")();
                 }},
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

// A link is followed, as opening it for writing would: the file it names is
// replaced (or, when the link dangles, created) and the link stays.
TEST(Output, KeepsTheModeAndFollowsLinks) {
    for (bool dangling : {false, true}) {
        TempDir dir;
        write_folder(dir, program(5000));
        fs::create_directory(dir.file("real"));
        if (!dangling) {
            dir.write("real/copy.exe", kOld);
            ::chmod(dir.file("real/copy.exe").c_str(), 0640);
        }
        fs::create_symlink("real", dir.file("via"));
        fs::create_symlink("via/../real/copy.exe", dir.file("link.exe"));
        RunResult r = run_vorlang(dir.path(), {"-o", "link"}, [] { ::umask(022); });
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(fs::is_symlink(dir.file("link.exe")));
        EXPECT_EQ(dir.read("real/copy.exe").size(), 5000u);
        struct stat st {};
        ASSERT_EQ(::stat(dir.file("real/copy.exe").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, dangling ? 0755u : 0751u);
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.file("real")), fs::directory_iterator()), 1);
        EXPECT_EQ(dir.snapshot().size(), 7u);
    }
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
    std::string dict;
    for (int i = 0; i < 700000; ++i) dict.append("t").append(std::to_string(i)).append(" x\n");
    TempDir dir;
    write_folder(dir, program(5000));
    dir.write("dornevo_trans.txt", dict);
    auto before = dir.snapshot();
    RunResult r = run_vorlang(dir.path(), {}, [] {
        struct rlimit rl {96u << 20, 96u << 20};
        ::setrlimit(RLIMIT_AS, &rl);
        ::alarm(60);
    });
    EXPECT_EQ(r.status, -3);
    EXPECT_EQ(r.err, "Error: out of memory.\n");
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(dir.snapshot(), before);
}

// A dictionary without end (a link to a device, planted or not) is refused
// before it is read, by every program.
TEST(Memory, DeviceDictionaryIsRefused) {
    for (const char* device : {"/dev/urandom", "/dev/zero"}) {
        for (const char* tool : {VORLANG_BIN, VORLANG_LINT_BIN}) {
            TempDir dir;
            write_folder(dir, program(5000));
            fs::remove(dir.file("dornevo_trans.txt"));
            fs::create_symlink(device, dir.file("dornevo_trans.txt"));
            auto before = dir.snapshot();
            RunResult r = run_program(tool, dir.path(), {}, [] { ::alarm(20); });
            EXPECT_EQ(r.status, -3) << device << tool;
            EXPECT_EQ(r.err, "Error: Can't open translate file dornevo_trans.txt (or wrong format).\n") << device << tool;
            EXPECT_EQ(dir.snapshot(), before);
        }
    }
}

// A device is never opened, by any of the programs, as program or as
// dictionary: opening one may wait or act. inotify sees every open of the
// node.
TEST(Devices, AreRefusedUnopened) {
    if (!root()) GTEST_SKIP() << "needs root to make a device node";
    struct Role {
        const char* file;
        std::vector<std::string> args;
        int status;
    };
    for (const char* tool : {VORLANG_BIN, VORLANG_EXTRACT_BIN, VORLANG_LINT_BIN}) {
        for (const Role& role : {Role{"dornevo.exe", {}, -2}, Role{"dornevo_trans.txt", {"-d", "dornevo_trans"}, -3}}) {
            TempDir dir;
            write_folder(dir, program(5000));
            fs::remove(dir.file(role.file));
            ASSERT_EQ(::mknod(dir.file(role.file).c_str(), S_IFCHR | 0666, ::makedev(1, 3)), 0);
            int watch = ::inotify_init1(IN_NONBLOCK);
            ASSERT_GE(::inotify_add_watch(watch, dir.file(role.file).c_str(), IN_OPEN), 0);
            RunResult r = run_program(tool, dir.path(), role.args, [] { ::alarm(20); });
            EXPECT_EQ(r.status, role.status) << tool << " " << role.file << ": " << r.err;
            char events[4096];
            EXPECT_LT(::read(watch, events, sizeof events), 0) << tool << " opened " << role.file;
            ::close(watch);
        }
    }
}

// Nothing is written in a folder that refuses to remove or rename a name
// in it: the copy could never get the output's name, and its hidden name
// would stay.
TEST(Output, AppendOnlyFolderIsRefusedBeforeWriting) {
    if (!root()) GTEST_SKIP() << "needs root to make a folder append-only";
    for (const char* faults : {"", "tmpfile"}) {
        TempDir dir;
        write_folder(dir, program(5000));
        int fd = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
        int flags = 0;
        if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) != 0) GTEST_SKIP() << "no file flags here";
        flags |= FS_APPEND_FL;
        if (::ioctl(fd, FS_IOC_SETFLAGS, &flags) != 0) GTEST_SKIP() << "no append-only folders here";
        auto before = dir.snapshot();
        RunResult r = run_vorlang(dir.path(), {}, with_fault(faults));
        auto after = dir.snapshot();
        flags &= ~FS_APPEND_FL;
        ::ioctl(fd, FS_IOC_SETFLAGS, &flags);
        ::close(fd);
        EXPECT_EQ(r.status, -5) << faults;
        EXPECT_EQ(r.err, "Error: Can't open dornevo_t.exe for write.\n") << faults;
        EXPECT_EQ(after, before) << faults;
    }
}

struct ModeCase {
    const char* name;
    int existing;  // the output's mode before the run, or -1 for none
    bool other_owner;
    mode_t umask;
    std::string faults;
    mode_t copy;
};

void PrintTo(const ModeCase& c, std::ostream* os) { *os << c.name; }

class Modes : public testing::TestWithParam<ModeCase> {};

// The copy has the output's permission bits and the execute bits that
// "chmod +x" adds, never a set-ID or sticky bit, and belongs to whoever ran
// the tool.
TEST_P(Modes, OfTheCopy) {
    const ModeCase& c = GetParam();
    if (c.other_owner && !root()) GTEST_SKIP() << "needs root";
    TempDir dir;
    write_folder(dir, program(5000));
    if (c.existing < 0) fs::remove(dir.file("dornevo_t.exe"));
    if (c.other_owner) {
        ASSERT_EQ(::chown(dir.file("dornevo_t.exe").c_str(), 65534, 65534), 0);
    }
    if (c.existing >= 0) {
        ASSERT_EQ(::chmod(dir.file("dornevo_t.exe").c_str(), static_cast<mode_t>(c.existing)), 0);
    }
    mode_t mask = c.umask;
    auto faults = c.faults.empty() ? std::function<void()>{} : with_fault(c.faults);
    RunResult r = run_vorlang(dir.path(), {}, [mask, faults] {
        ::umask(mask);
        if (faults) faults();
    });
    ASSERT_EQ(r.status, 0) << r.err;
    struct stat st {};
    ASSERT_EQ(::lstat(dir.file("dornevo_t.exe").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode, S_IFREG | c.copy) << std::oct << st.st_mode;
    EXPECT_EQ(st.st_uid, ::geteuid());
    EXPECT_EQ(dir.read("dornevo_t.exe").size(), 5000u);
    EXPECT_EQ(dir.snapshot().size(), 3u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Modes,
    testing::Values(ModeCase{"New", -1, false, 022, "", 0755}, ModeCase{"NewPrivate", -1, false, 077, "", 0700},
                    ModeCase{"SetUserId", 04755, false, 022, "", 0755},
                    ModeCase{"SetGroupIdAndSticky", 03664, false, 002, "", 0775},
                    ModeCase{"OtherUsersSetUserId", 06755, true, 022, "", 0755},
                    ModeCase{"WithoutUnnamedFiles", 0640, false, 022, "tmpfile", 0751},
                    // The mode is set as "chmod +x" was: its failure leaves the
                    // copy owner-only, and the run goes on.
                    ModeCase{"ModeRefused", 0644, false, 022, "fchmod", 0600},
                    ModeCase{"ModeRefusedWithoutUnnamedFiles", 0644, false, 022, "tmpfile,fchmod", 0600}),
    [](const testing::TestParamInfo<ModeCase>& info) { return info.param.name; });

struct StreamCase {
    const char* name;
    const char* tool;
    std::vector<std::string> args;
    std::function<void()> child;
    int status;
    std::string err;
    std::string out = {};  // checked when standard error is merged into it
};

void PrintTo(const StreamCase& c, std::ostream* os) { *os << c.name; }

class Streams : public testing::TestWithParam<StreamCase> {};

void to_full() {
    int fd = ::open("/dev/full", O_WRONLY);
    ::dup2(fd, 1);
}

// Standard output is a file here: what passes 40 bytes fails (SIGXFSZ
// would kill a tool that did not ignore it), the error line still fits.
void file_size_limit() {
    struct rlimit rl {40, 40};
    ::setrlimit(RLIMIT_FSIZE, &rl);
}

// Whatever the standard streams are, the copy is exactly the translation,
// and a run that could not write all of its report says so.
TEST_P(Streams, NeverEnterTheCopyNorLoseTheReportSilently) {
    const StreamCase& c = GetParam();
    TempDir dir;
    write_folder(dir, program(300000));
    TempDir want;
    write_folder(want, program(300000));
    // Where a copy is written, it is the one a run with plain streams writes.
    if (c.tool == std::string(VORLANG_BIN) && c.args.empty()) {
        ASSERT_EQ(run_vorlang(want.path(), {}).status, 0);
    }
    RunResult r = run_program(c.tool, dir.path(), c.args, c.child);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.err, c.err);
    if (!c.out.empty()) {
        EXPECT_EQ(r.out, c.out);
    }
    EXPECT_EQ(dir.snapshot(), want.snapshot());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Streams,
    testing::Values(
        StreamCase{"InputAndOutputClosed", VORLANG_BIN, {}, [] { ::close(0), ::close(1); }, -6,
                   "Error: Can't write the report.\n"},
        StreamCase{"AllClosed", VORLANG_BIN, {}, [] { ::close(0), ::close(1), ::close(2); }, -6, ""},
        StreamCase{"OutputFull", VORLANG_BIN, {}, to_full, -6, "Error: Can't write the report.\n"},
        StreamCase{"CheckOnlyOutputFull", VORLANG_BIN, {"-c"}, to_full, -6, "Error: Can't write the report.\n"},
        StreamCase{"ErrorsFollowWhatWasWritten", VORLANG_BIN, {"-o", "no/x"}, [] { ::dup2(1, 2); }, -5, "",
                   kNames + kWarn + "Error: Can't open no/x.exe for write.\n"},
        StreamCase{"TemplateOutputClosed", VORLANG_EXTRACT_BIN, {}, [] { ::close(1); }, -5,
                   "Error: Can't write the template.\n"},
        StreamCase{"TemplateOutputFull", VORLANG_EXTRACT_BIN, {}, to_full, -5, "Error: Can't write the template.\n"},
        StreamCase{"TemplatePastFileSizeLimit", VORLANG_EXTRACT_BIN, {}, file_size_limit, -5,
                   "Error: Can't write the template.\n"},
        StreamCase{"FindingsPastFileSizeLimit", VORLANG_LINT_BIN, {}, file_size_limit, -6,
                   "Error: Can't write the findings.\n"}),
    [](const testing::TestParamInfo<StreamCase>& info) { return info.param.name; });

// A FIFO is read until its writer closes it; the template stops at its
// first failed write, also on a FIFO that never ends.
TEST(Fifo, IsReadToItsEndAndATemplateStopsAtAFailedWrite) {
    std::signal(SIGPIPE, SIG_IGN);
    const std::string texts = program(300000);
    for (bool endless : {false, true}) {
        TempDir dir;
        dir.write("dornevo_trans.txt", kDict);
        ASSERT_EQ(::mkfifo(dir.file("dornevo.exe").c_str(), 0644), 0);
        std::thread writer([&] {
            int fd = ::open(dir.file("dornevo.exe").c_str(), O_WRONLY);
            if (!endless) {
                EXPECT_EQ(::write(fd, texts.data(), texts.size()), static_cast<ssize_t>(texts.size()));
            }
            // New texts without end, until the reader goes.
            for (long n = 0; endless;) {
                std::string block;
                while (block.size() < 65536) block += "\0Text "s + std::to_string(n++);
                if (::write(fd, block.data(), block.size()) < 0) break;
            }
            ::close(fd);
        });
        RunResult r = endless ? run_program(VORLANG_EXTRACT_BIN, dir.path(), {},
                                            [] {
                                                to_full();
                                                ::alarm(60);
                                            })
                              : run_vorlang(dir.path(), {});
        writer.join();
        if (endless) {
            EXPECT_EQ(r.status, -5);
            EXPECT_EQ(r.err, "Error: Can't write the template.\n");
            continue;
        }
        EXPECT_EQ(r.status, 0) << r.err;
        std::string copy = dir.read("dornevo_t.exe");
        ASSERT_EQ(copy.size(), texts.size());
        EXPECT_EQ(copy.substr(16, 11), "Best\0Weg\0\0x"s);
    }
}

// A FIFO that -u would read twice is refused before it is opened: no
// writer is waited for.
TEST(Fifo, ReadTwiceIsRefusedUnopened) {
    TempDir dir;
    ASSERT_EQ(::mkfifo(dir.file("dornevo.exe").c_str(), 0644), 0);
    RunResult r = run_program(VORLANG_EXTRACT_BIN, dir.path(), {"-u"}, [] { ::alarm(20); });
    EXPECT_EQ(r.status, -2);
    EXPECT_EQ(r.err, "Error: Can't read file dornevo.exe: -u reads it twice, a FIFO only once.\n");
}

// Interrupts: nothing is left behind, with or without unnamed files, and
// the older copy stays.
TEST(Interrupt, LeavesNothingBehind) {
    const std::vector<int> caught = {SIGINT,  SIGTERM, SIGHUP,  SIGPIPE,   SIGQUIT, SIGALRM,
                                     SIGUSR1, SIGUSR2, SIGXCPU, SIGVTALRM, SIGPROF, SIGTRAP};
    TempDir probe;
    for (std::string faults : {"", "tmpfile"}) {
        std::vector<int> sigs = caught;
        // Only a copy without a name survives SIGKILL without a trace.
        if (faults.empty() && unnamed_files(probe.path())) sigs.push_back(SIGKILL);
        for (int sig : sigs) {
            TempDir dir;
            write_folder(dir, "");
            sparse_program(dir, off_t{3} << 30);
            auto before = dir.snapshot();
            auto fault = faults.empty() ? std::function<void()>{} : with_fault(faults);
            RunResult r = run_vorlang(
                dir.path(), {},
                [fault] {
                    struct rlimit none {0, 0};
                    ::setrlimit(RLIMIT_CORE, &none);
                    if (fault) fault();
                },
                [&](int pid) {
                    wait_for_copy(pid, dir.path());
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
                    ::kill(pid, sig);
                });
            EXPECT_EQ(r.signal, sig) << faults << " " << sig;
            EXPECT_EQ(dir.snapshot(), before) << faults << " " << sig;
        }
    }
}

// A folder renamed and replaced by a link during the run: the copy goes to
// the folder the run began in, or nowhere, and nothing is left elsewhere.
TEST(Interrupt, FolderSwappedDuringTheRunKeepsNothingElsewhere) {
    for (bool finish : {false, true}) {
        TempDir top;
        const std::string work = top.file("work");
        fs::create_directory(work);
        fs::create_directory(top.file("other"));
        top.write("work/dornevo_trans.txt", kDict);
        top.write("work/dornevo_t.exe", kOld);
        int fd = ::open((work + "/dornevo.exe").c_str(), O_WRONLY | O_CREAT, 0644);
        ASSERT_EQ(::ftruncate(fd, off_t{1} << 29), 0);
        ::close(fd);
        RunResult r = run_program(VORLANG_BIN, work, {}, {}, [&](int pid) {
            wait_for_copy(pid, work);
            fs::rename(work, top.file("moved"));
            fs::create_directory_symlink("other", work);
            if (!finish) ::kill(pid, SIGTERM);
        });
        if (finish) {
            ASSERT_EQ(r.status, 0) << r.err;
            EXPECT_EQ(fs::file_size(top.file("moved/dornevo_t.exe")), std::uintmax_t{1} << 29);
        } else {
            EXPECT_EQ(r.signal, SIGTERM);
            EXPECT_EQ(top.read("moved/dornevo_t.exe"), kOld);
        }
        EXPECT_EQ(std::distance(fs::directory_iterator(top.file("moved")), fs::directory_iterator()), 3) << finish;
        EXPECT_TRUE(fs::is_empty(top.file("other"))) << finish;
    }
}

// A program truncated or grown while it is read gives no copy.
TEST(ProgramChanged, DuringTheRunIsAReadError) {
    for (off_t now : {off_t{1} << 20, (off_t{1} << 28) + (off_t{1} << 20)}) {
        TempDir dir;
        write_folder(dir, "");
        sparse_program(dir, off_t{1} << 28);
        RunResult r = run_vorlang(dir.path(), {}, {}, [&](int pid) {
            wait_for_copy(pid, dir.path());
            ::truncate(dir.file("dornevo.exe").c_str(), now);
        });
        EXPECT_EQ(r.status, -2) << now;
        EXPECT_EQ(r.err, "Error: Can't read file dornevo.exe to translate.\n") << now;
        EXPECT_EQ(dir.read("dornevo_t.exe"), kOld);
        EXPECT_EQ(dir.snapshot().size(), 3u);
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
