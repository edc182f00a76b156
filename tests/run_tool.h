// Helpers for tests that run the built tool in a scratch folder.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

struct RunResult {
    std::string out;
    std::string err;
    int status = 0;  // the exit status as the signed value main returned
    int signal = 0;  // the signal that ended the process, or 0
};

// The whole content of a file ("" when it cannot be read).
std::string read_file(const std::string& path);

// A fresh folder under the system's temporary folder, removed afterwards.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    void write(const std::string& name, const std::string& bytes) const;
    std::string read(const std::string& name) const;
    bool exists(const std::string& name) const;
    // Every entry below the folder, by relative name (folders with a
    // trailing slash), with its type, mode and owner, then its content (a
    // link: where it points; a file over 16 MiB: its size and time of change).
    std::map<std::string, std::string> snapshot() const;
    // The same without type, mode and owner.
    std::map<std::string, std::string> contents() const;

private:
    std::string path_;
};

// Runs the binary with args in dir; before_exec runs in the child first,
// while_running in the parent before it waits for the child.
RunResult run_program(const std::string& binary, const std::string& dir,
                      const std::vector<std::string>& args,
                      const std::function<void()>& before_exec = {},
                      const std::function<void(int pid)>& while_running = {});

// Runs the vorlang binary built beside the tests.
RunResult run_vorlang(const std::string& dir, const std::vector<std::string>& args,
                      const std::function<void()>& before_exec = {},
                      const std::function<void(int pid)>& while_running = {});
