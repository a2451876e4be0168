// Runs the built imgpry in a directory of its own and collects what it did.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "image_builder.h"
#include "test_util.h"

#if !defined(_WIN32)
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

inline std::string asText(const fixture::Bytes& b) { return std::string(b.begin(), b.end()); }

// Runs imgpry with the given arguments in workDir (which should be empty,
// or hold what the test put there) and reads back its standard streams and
// every regular file in workDir.
inline ToolRun runImgpryIn(const std::filesystem::path& workDir, const std::vector<std::string>& args) {
    TempDir streams;
    std::string cmd = std::string(IMGPRY_RUNNER).empty() ? "" : std::string(IMGPRY_RUNNER) + " ";
    cmd += quoted(hostPath(IMGPRY_EXE));
    for (const std::string& a : args) cmd += " " + quoted(a);
    cmd += " >" + quoted(streams.file("out")) + " 2>" + quoted(streams.file("err"));
#if defined(_WIN32)
    // cmd.exe drops the first and the last quote of a command line that
    // starts with one: wrap it whole.
    cmd = "\"" + cmd + "\"";
#endif

    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(workDir);
    const int raw = std::system(cmd.c_str());
    std::filesystem::current_path(before);

    ToolRun run;
#if defined(_WIN32)
    run.status = raw;
#else
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
#endif
    run.out = asText(fixture::readFile(streams.file("out")));
    run.err = asText(fixture::readFile(streams.file("err")));
    for (const auto& entry : std::filesystem::directory_iterator(workDir)) {
        if (entry.is_regular_file())
            run.files[entry.path().filename().string()] = fixture::readFile(entry.path().string());
    }
    return run;
}

}  // namespace testutil
