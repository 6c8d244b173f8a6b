// e2e_runner.cpp: runs every case folder under tests/e2e/cases/ against the built binary.
//
// A case folder holds:
//   args              one command-line argument per line, after the program name
//   input/            copied, recursively, into a fresh temporary working directory
//   expected/stdout   the exact standard output; a line "Program used N seconds" matches
//                     any N (a whole-second clock can tick mid-run)
//   expected/status   the exit status
//   expected/stderr   optional; without it standard error must stay empty, which also
//                     catches sanitizer reports
//   expected/files/   every file the run leaves beyond its unchanged inputs, byte for byte
//   expected/ignore   optional; created files not compared, one path or fnmatch pattern
//                     a line ("detailedoutput/*")
//   timeout           optional; seconds before the run is killed (default 300)
// Every case runs three times, with "--threads 1", "--threads 2" and "--threads 7" ahead of
// its arguments, against the same expected files: the thread count must not change a byte.
// The temporary directory of a failed case is kept and named in the failure.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fnmatch.h>
#include <fstream>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <tuple>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

fs::path cases_root() {
    if (const char* dir = std::getenv("QUORVEL_E2E_CASES")) return dir;
    return QUORVEL_E2E_CASES;
}

std::string binary_path() {
    if (const char* binary = std::getenv("QUORVEL_BINARY")) return binary;
    return QUORVEL_BINARY;
}

std::optional<std::string> read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// Shows control characters, so a CR LF against LF difference is visible.
std::string visible(const std::string& text, std::size_t limit = 200) {
    std::string out;
    for (std::size_t i = 0; i < text.size() && i < limit; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\r') out += "\\r";
        else if (c == '\n') out += "\\n";
        else if (c == '\t') out += "\\t";
        else if (c < 32 || c >= 127) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        } else out += static_cast<char>(c);
    }
    if (text.size() > limit) out += "...";
    return out;
}

// The line (from 1) holding byte `offset`, and that line's text with its line end.
std::pair<int, std::string> line_at(const std::string& text, std::size_t offset) {
    int line = 1 + static_cast<int>(std::count(text.begin(), text.begin() +
                                               std::min(offset, text.size()), '\n'));
    std::size_t begin = offset > text.size() ? text.size() : offset;
    while (begin > 0 && text[begin - 1] != '\n') --begin;
    std::size_t end = text.find('\n', begin);
    end = end == std::string::npos ? text.size() : end + 1;
    return {line, text.substr(begin, end - begin)};
}

// Empty when equal; otherwise where the two first differ.
std::string byte_difference(const std::string& expected, const std::string& actual) {
    if (expected == actual) return {};
    std::size_t at = 0;
    while (at < expected.size() && at < actual.size() && expected[at] == actual[at]) ++at;
    auto [expected_line, expected_text] = line_at(expected, at);
    auto [actual_line, actual_text] = line_at(actual, at);
    std::ostringstream out;
    out << "first difference at byte " << at << " (line " << expected_line << "); sizes "
        << expected.size() << " expected, " << actual.size() << " actual\n"
        << "  expected: " << (at < expected.size() ? visible(expected_text) : "<end of file>")
        << "\n  actual:   " << (at < actual.size() ? visible(actual_text) : "<end of file>")
        << "\n";
    return out.str();
}

bool is_run_time_line(const std::string& line) {
    static const std::regex pattern("Program used (-?[0-9]+|%d) seconds\r?");
    return std::regex_match(line, pattern);
}

std::string stdout_difference(const std::string& expected, const std::string& actual) {
    std::vector<std::string> want = split_lines(expected), got = split_lines(actual);
    bool equal = want.size() == got.size();
    for (std::size_t i = 0; equal && i < want.size(); ++i) {
        if (want[i] == got[i]) continue;
        equal = is_run_time_line(want[i]) && is_run_time_line(got[i]);
    }
    // A missing or extra final line feed matters too.
    bool want_end = !expected.empty() && expected.back() == '\n';
    bool got_end = !actual.empty() && actual.back() == '\n';
    if (equal && want_end == got_end) return {};
    std::size_t i = 0;
    while (i < want.size() && i < got.size() &&
           (want[i] == got[i] || (is_run_time_line(want[i]) && is_run_time_line(got[i]))))
        ++i;
    std::ostringstream out;
    out << "standard output differs at line " << i + 1 << " (" << want.size()
        << " lines expected, " << got.size() << " actual)\n"
        << "  expected: " << (i < want.size() ? visible(want[i]) : "<end of output>")
        << "\n  actual:   " << (i < got.size() ? visible(got[i]) : "<end of output>") << "\n";
    if (i == want.size() && i == got.size())
        out << "  (the final line feed differs)\n";
    out << "--- whole actual output ---\n" << actual << "\n--- end ---\n";
    return out.str();
}

// Regular files below `root`, by relative path with '/' separators.
std::map<std::string, fs::path> files_below(const fs::path& root) {
    std::map<std::string, fs::path> files;
    if (!fs::exists(root)) return files;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (!entry.is_regular_file()) continue;
        files[fs::relative(entry.path(), root).generic_string()] = entry.path();
    }
    return files;
}

std::vector<std::string> read_args(const fs::path& file) {
    std::vector<std::string> args;
    std::optional<std::string> text = read_file(file);
    if (!text) return args;
    for (std::string line : split_lines(*text)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        args.push_back(line);
    }
    return args;
}

struct RunResult {
    int status = -1;
    std::string how;  // "" for a normal exit, else what happened
};

// fork/exec with the arguments as they are: no shell, so no quoting to get wrong.
RunResult run_binary(const std::string& binary, const std::vector<std::string>& args,
                     const fs::path& work_dir, const fs::path& stdout_file,
                     const fs::path& stderr_file, int timeout_seconds) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(binary.c_str()));
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid < 0) return {-1, std::string("fork failed: ") + std::strerror(errno)};
    if (pid == 0) {
        int out = open(stdout_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open(stderr_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int in = open("/dev/null", O_RDONLY);
        if (out < 0 || err < 0 || in < 0 || chdir(work_dir.c_str()) != 0) _exit(127);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        execv(binary.c_str(), argv.data());
        _exit(127);
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_seconds);
    int wait_status = 0;
    for (;;) {
        pid_t done = waitpid(pid, &wait_status, WNOHANG);
        if (done == pid) break;
        if (done < 0 && errno != EINTR) return {-1, "waitpid failed"};
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &wait_status, 0);
            return {-1, "killed after " + std::to_string(timeout_seconds) + " s"};
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (WIFEXITED(wait_status)) return {WEXITSTATUS(wait_status), ""};
    if (WIFSIGNALED(wait_status))
        return {-1, std::string("killed by signal ") + strsignal(WTERMSIG(wait_status))};
    return {-1, "ended oddly"};
}

bool ignored(const std::string& path, const std::vector<std::string>& patterns) {
    for (const std::string& pattern : patterns) {
        if (pattern.empty()) continue;
        if (pattern == path || fnmatch(pattern.c_str(), path.c_str(), 0) == 0) return true;
        // "dir/" ignores everything below dir
        if (pattern.back() == '/' && path.compare(0, pattern.size(), pattern) == 0) return true;
    }
    return false;
}

std::vector<std::string> case_names() {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(cases_root(), error))
        if (entry.is_directory() && fs::exists(entry.path() / "expected"))
            names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

using CaseRun = std::tuple<std::string, int>;  // case folder, thread count

std::string test_name(const testing::TestParamInfo<CaseRun>& info) {
    std::string name = std::get<0>(info.param);
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name + "_threads" + std::to_string(std::get<1>(info.param));
}

class Case : public testing::TestWithParam<CaseRun> {};

TEST_P(Case, Run) {
    const fs::path case_dir = cases_root() / std::get<0>(GetParam());
    const fs::path expected = case_dir / "expected";

    std::string root_template = (fs::temp_directory_path() / "quorvel-e2e-XXXXXX").string();
    ASSERT_NE(mkdtemp(root_template.data()), nullptr) << "mkdtemp: " << std::strerror(errno);
    const fs::path root = root_template;
    const fs::path work = root / "work";
    fs::create_directory(work);
    if (fs::exists(case_dir / "input"))
        fs::copy(case_dir / "input", work, fs::copy_options::recursive);
    std::map<std::string, fs::path> inputs = files_below(case_dir / "input");

    int timeout = 300;
    if (auto text = read_file(case_dir / "timeout")) timeout = std::atoi(text->c_str());

    std::vector<std::string> args = {"--threads", std::to_string(std::get<1>(GetParam()))};
    for (const std::string& arg : read_args(case_dir / "args")) args.push_back(arg);
    RunResult run = run_binary(binary_path(), args, work,
                               root / "stdout", root / "stderr", timeout);
    bool ok = !HasFailure();
    auto fail = [&](const std::string& message) {
        ADD_FAILURE() << message;
        ok = false;
    };

    if (!run.how.empty()) fail("the run " + run.how);
    std::optional<std::string> want_status = read_file(expected / "status");
    if (!want_status) fail("expected/status is missing");
    else if (run.how.empty() && run.status != std::atoi(want_status->c_str()))
        fail("exit status " + std::to_string(run.status) + ", expected " +
             std::to_string(std::atoi(want_status->c_str())));

    std::string actual_stdout = read_file(root / "stdout").value_or("");
    std::optional<std::string> want_stdout = read_file(expected / "stdout");
    if (!want_stdout) fail("expected/stdout is missing");
    else if (std::string diff = stdout_difference(*want_stdout, actual_stdout); !diff.empty())
        fail(diff);

    std::string actual_stderr = read_file(root / "stderr").value_or("");
    std::string want_stderr = read_file(expected / "stderr").value_or("");
    if (actual_stderr != want_stderr)
        fail("standard error differs:\n" + byte_difference(want_stderr, actual_stderr) +
             "--- whole standard error ---\n" + actual_stderr + "--- end ---");

    std::vector<std::string> ignore;
    if (auto text = read_file(expected / "ignore")) {
        for (std::string line : split_lines(*text)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            ignore.push_back(line);
        }
    }
    std::map<std::string, fs::path> want_files = files_below(expected / "files");
    std::map<std::string, fs::path> got_files = files_below(work);
    for (const auto& [name, path] : want_files) {
        auto got = got_files.find(name);
        if (got == got_files.end()) {
            fail("expected file " + name + " was not created");
            continue;
        }
        std::string diff = byte_difference(*read_file(path), *read_file(got->second));
        if (!diff.empty()) fail("file " + name + " differs: " + diff);
    }
    for (const auto& [name, path] : got_files) {
        if (want_files.count(name) || ignored(name, ignore)) continue;
        auto input = inputs.find(name);
        if (input == inputs.end()) fail("unexpected file " + name + " was created");
        else if (read_file(input->second) != read_file(path))
            fail("input file " + name + " was changed and is not listed in expected/files");
    }

    if (ok) fs::remove_all(root);
    else ADD_FAILURE() << "working directory kept: " << work.string();
}

GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(Case);
INSTANTIATE_TEST_SUITE_P(E2E, Case,
                         testing::Combine(testing::ValuesIn(case_names()), testing::Values(1, 2, 7)),
                         test_name);

}  // namespace
