#include "run_tool.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

TempDir::TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "vorlang-test-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
}

TempDir::~TempDir() {
    std::error_code ec;
    // Tests may leave read-only folders behind.
    for (auto& entry : fs::recursive_directory_iterator(path_, ec)) {
        fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::remove_all(path_, ec);
}

void TempDir::write(const std::string& name, const std::string& bytes) const {
    fs::create_directories(fs::path(file(name)).parent_path());
    std::ofstream out(file(name), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string TempDir::read(const std::string& name) const { return read_file(file(name)); }

bool TempDir::exists(const std::string& name) const { return fs::exists(file(name)); }

std::map<std::string, std::string> TempDir::snapshot() const {
    std::map<std::string, std::string> files;
    for (auto& entry : fs::recursive_directory_iterator(path_)) {
        // Not fs::relative: it follows links, and a link loop is a case.
        std::string rel = entry.path().string().substr(path_.size() + 1);
        struct stat st {};
        if (::lstat(entry.path().c_str(), &st) != 0) throw std::runtime_error("lstat failed: " + rel);
        char head[64];
        std::snprintf(head, sizeof head, "%06o %u:%u ", st.st_mode, st.st_uid, st.st_gid);
        if (S_ISDIR(st.st_mode)) {
            files[rel + "/"] = head;
        } else if (S_ISREG(st.st_mode) && st.st_size > (off_t{16} << 20)) {
            // Large (sparse) programs: reading them whole would cost more than the run.
            files[rel] = head + std::to_string(st.st_size) + " bytes, changed " + std::to_string(st.st_mtim.tv_sec) +
                         "." + std::to_string(st.st_mtim.tv_nsec);
        } else if (S_ISREG(st.st_mode)) {
            files[rel] = head + read_file(entry.path().string());
        } else if (S_ISLNK(st.st_mode)) {
            files[rel] = head + fs::read_symlink(entry.path()).string();
        } else {
            files[rel] = head + std::to_string(st.st_rdev);  // never read: it may not end
        }
    }
    return files;
}

std::map<std::string, std::string> TempDir::contents() const {
    std::map<std::string, std::string> files;
    for (auto& [name, value] : snapshot()) files[name] = value.substr(value.find(' ', value.find(' ') + 1) + 1);
    return files;
}

RunResult run_program(const std::string& binary, const std::string& dir,
                      const std::vector<std::string>& args,
                      const std::function<void()>& before_exec,
                      const std::function<void(int pid)>& while_running) {
    TempDir capture;
    std::string out_path = capture.file("stdout");
    std::string err_path = capture.file("stderr");
    pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int in = ::open("/dev/null", O_RDONLY);
        if (out < 0 || err < 0 || in < 0 || ::chdir(dir.c_str()) != 0) ::_exit(120);
        ::dup2(out, 1);
        ::dup2(err, 2);
        ::dup2(in, 0);
        // The tool is tested as a shell's foreground command would start it.
        for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGXFSZ, SIGPIPE}) ::signal(sig, SIG_DFL);
        if (before_exec) before_exec();
        std::vector<char*> argv;
        // Some programs (cmake) find their files from the name they are started as.
        argv.push_back(const_cast<char*>(binary.c_str()));
        for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(binary.c_str(), argv.data());
        ::_exit(121);
    }
    if (while_running) while_running(pid);
    int wstatus = 0;
    while (::waitpid(pid, &wstatus, 0) < 0) {
    }
    RunResult r;
    r.out = read_file(out_path);
    r.err = read_file(err_path);
    if (WIFEXITED(wstatus)) r.status = static_cast<signed char>(WEXITSTATUS(wstatus));
    if (WIFSIGNALED(wstatus)) r.signal = WTERMSIG(wstatus);
    return r;
}

RunResult run_vorlang(const std::string& dir, const std::vector<std::string>& args,
                      const std::function<void()>& before_exec,
                      const std::function<void(int pid)>& while_running) {
    return run_program(VORLANG_BIN, dir, args, before_exec, while_running);
}
