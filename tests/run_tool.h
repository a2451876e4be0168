// Runs the built imgpry in a directory of its own and collects what it did.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "image_builder.h"
#include "test_util.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/wait.h>
#endif

namespace testutil {

struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
    std::map<std::string, fixture::Bytes> files;  // what the run left in its working directory
};

inline std::string quoted(const std::string& s) { return "\"" + s + "\""; }

#if !defined(_WIN32)
// imgpry shows and writes names by the locale's character set: the tests
// run it in the C locale, where names are the disk's exact bytes, unless a
// command says otherwise (LC_ALL=C.UTF-8 before it).
inline const bool kCLocaleForTheTool = [] {
    (void)setenv("LC_ALL", "C", 1);
    return true;
}();
#endif

inline std::string asText(const fixture::Bytes& b) { return std::string(b.begin(), b.end()); }

// The command line that starts imgpry (through the emulator, where the
// tests need one) with the given arguments.
inline std::string toolCommand(const std::vector<std::string>& args) {
    std::string cmd = std::string(IMGPRY_RUNNER).empty() ? "" : std::string(IMGPRY_RUNNER) + " ";
    cmd += quoted(hostPath(IMGPRY_EXE));
    for (const std::string& a : args) cmd += " " + quoted(a);
    return cmd;
}

// Every regular file in dir, by name.
inline std::map<std::string, fixture::Bytes> filesIn(const std::filesystem::path& dir) {
    std::map<std::string, fixture::Bytes> files;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (entry.is_regular_file()) files[entry.path().filename().string()] = fixture::readFile(entry.path().string());
    }
    return files;
}

// Runs the shell command cmd (one that starts imgpry, see toolCommand) in
// workDir (which should be empty, or hold what the test put there) and
// reads back its standard streams and every regular file in workDir.
// Standard output goes to outTarget when one is given.
inline ToolRun runCommandIn(const std::filesystem::path& workDir, std::string cmd, const std::string& outTarget = "") {
    TempDir streams;
    cmd += " >" + (outTarget.empty() ? quoted(streams.file("out")) : outTarget) + " 2>" + quoted(streams.file("err"));
#if defined(_WIN32)
    // cmd.exe drops the first and the last quote of a command line that
    // starts with one: wrap it whole.
    cmd = "\"" + cmd + "\"";
#endif

    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(workDir);
#if defined(_WIN32)
    // Through the wide call, so that arguments in UTF-8 reach the program
    // whole, whatever the ANSI code page holds.
    std::wstring wide(cmd.size() + 1, L'\0');
    wide.resize(static_cast<size_t>(MultiByteToWideChar(CP_UTF8, 0, cmd.data(), static_cast<int>(cmd.size()),
                                                        wide.data(), static_cast<int>(wide.size()))));
    const int raw = _wsystem(wide.c_str());
#else
    const int raw = std::system(cmd.c_str());
#endif
    std::filesystem::current_path(before);

    ToolRun run;
#if defined(_WIN32)
    run.status = raw;
#else
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    // Ended by a signal: as a shell would say it.
    if (WIFSIGNALED(raw)) run.status = 128 + WTERMSIG(raw);
#endif
    run.out = asText(fixture::readFile(streams.file("out")));
    run.err = asText(fixture::readFile(streams.file("err")));
    run.files = filesIn(workDir);
    return run;
}

// Runs imgpry with the given arguments in workDir, as runCommandIn does.
inline ToolRun runImgpryIn(const std::filesystem::path& workDir, const std::vector<std::string>& args) {
    return runCommandIn(workDir, toolCommand(args));
}

// Whether the tests run the tool natively on a POSIX host, where strace,
// ulimit and signals reach it (not through an emulator, not on Windows).
inline bool nativePosix() {
#if defined(_WIN32)
    return false;
#else
    return std::string(IMGPRY_RUNNER).empty();
#endif
}

}  // namespace testutil

#if !defined(_WIN32)
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace testutil {

// Runs imgpry in workDir like runImgpryIn, but with standard output and/or
// standard error on a pseudo-terminal of its own (raw, so bytes pass as
// they are); the other stream goes to a file. Returns false in ok when no
// pseudo-terminal could be had.
inline ToolRun runImgpryOnTerminal(const std::filesystem::path& workDir, const std::vector<std::string>& args,
                                   bool outTerminal, bool errTerminal, bool& ok) {
    ToolRun run;
    TempDir streams;
    int master[2] = {-1, -1};
    int slave[2] = {-1, -1};
    const bool wanted[2] = {outTerminal, errTerminal};
    ok = true;
    for (int i = 0; i < 2; ++i) {
        if (!wanted[i]) continue;
        if (openpty(&master[i], &slave[i], nullptr, nullptr, nullptr) != 0) {
            ok = false;
            return run;
        }
        termios raw{};
        tcgetattr(slave[i], &raw);
        cfmakeraw(&raw);
        tcsetattr(slave[i], TCSANOW, &raw);
    }
    std::string cmd = toolCommand(args);
    if (!outTerminal) cmd += " >" + quoted(streams.file("out"));
    if (!errTerminal) cmd += " 2>" + quoted(streams.file("err"));

    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(workDir.c_str()) != 0) _exit(127);
        for (int i = 0; i < 2; ++i) {
            if (wanted[i]) dup2(slave[i], i + 1);
        }
        execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    for (int i = 0; i < 2; ++i) {
        if (wanted[i]) close(slave[i]);
    }
    // Read both terminals until the program is gone (EIO once no one holds
    // the other end).
    std::string got[2];
    int open = (outTerminal ? 1 : 0) + (errTerminal ? 1 : 0);
    while (open > 0) {
        pollfd fds[2];
        nfds_t n = 0;
        int which[2];
        for (int i = 0; i < 2; ++i) {
            if (master[i] >= 0) {
                fds[n] = pollfd{master[i], POLLIN, 0};
                which[n++] = i;
            }
        }
        if (poll(fds, n, 10000) <= 0) break;
        for (nfds_t k = 0; k < n; ++k) {
            if (fds[k].revents == 0) continue;
            char buf[4096];
            const ssize_t r = read(fds[k].fd, buf, sizeof buf);
            if (r > 0) {
                got[which[k]].append(buf, static_cast<size_t>(r));
            } else {
                close(fds[k].fd);
                master[which[k]] = -1;
                --open;
            }
        }
    }
    int raw = 0;
    waitpid(pid, &raw, 0);
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    run.out = outTerminal ? got[0] : asText(fixture::readFile(streams.file("out")));
    run.err = errTerminal ? got[1] : asText(fixture::readFile(streams.file("err")));
    run.files = filesIn(workDir);
    return run;
}

}  // namespace testutil
#endif
