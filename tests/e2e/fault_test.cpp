// fault_test.cpp: what the user meets when the machine, not the input, goes wrong: a read
// error mid-file, a full disk, standard output on a full device, an endless line, and the
// memory a surface-sized tolerance takes. Each runs the built binary in a scratch copy of
// a case folder's input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string read_text(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void write_text(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

struct RunResult {
    int status = -1;
    std::string out, err;
    long peak_kilobytes = 0;
};

struct RunSetup {
    std::vector<std::string> args;
    std::vector<std::pair<std::string, std::string>> environment;
    const char* standard_output = nullptr;  // a device instead of the captured file
    long file_size_limit = -1;               // bytes; a full disk for every larger file
};

class Fault : public testing::Test {
protected:
    fs::path dir;

    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "quorvel-fault-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
    }
    void TearDown() override {
        if (!HasFailure()) fs::remove_all(dir);
        else std::printf("scratch directory kept: %s\n", dir.c_str());
    }

    void copy_case(const std::string& name) {
        fs::copy(fs::path(QUORVEL_E2E_CASES) / name / "input", dir, fs::copy_options::recursive);
    }

    RunResult run(const RunSetup& setup) {
        fs::path out = dir.parent_path() / (dir.filename().string() + ".out");
        fs::path err = dir.parent_path() / (dir.filename().string() + ".err");
        pid_t pid = fork();
        if (pid == 0) {
            if (chdir(dir.c_str()) != 0) _exit(126);
            const char* out_name = setup.standard_output ? setup.standard_output : out.c_str();
            int out_fd = open(out_name, O_WRONLY | O_CREAT | O_TRUNC, 0644);
            int err_fd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (out_fd < 0 || err_fd < 0) _exit(126);
            dup2(out_fd, 1);
            dup2(err_fd, 2);
            for (const auto& [key, value] : setup.environment) setenv(key.c_str(), value.c_str(), 1);
            if (setup.file_size_limit >= 0) {
                std::signal(SIGXFSZ, SIG_IGN);
                rlimit limit;
                limit.rlim_cur = limit.rlim_max = static_cast<rlim_t>(setup.file_size_limit);
                setrlimit(RLIMIT_FSIZE, &limit);
            }
            std::vector<char*> argv{const_cast<char*>(QUORVEL_BINARY)};
            for (const std::string& arg : setup.args) argv.push_back(const_cast<char*>(arg.c_str()));
            argv.push_back(nullptr);
            execv(QUORVEL_BINARY, argv.data());
            _exit(127);
        }
        RunResult result;
        int wait_status = 0;
        rusage usage{};
        if (wait4(pid, &wait_status, 0, &usage) != pid) return result;
        result.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
        result.out = setup.standard_output ? "" : read_text(out);
        result.err = read_text(err);
        result.peak_kilobytes = usage.ru_maxrss;
        fs::remove(out);
        fs::remove(err);
        return result;
    }

    // Names of every file under the scratch directory, for the no-temporaries checks.
    std::vector<std::string> all_files() {
        std::vector<std::string> names;
        for (const auto& entry : fs::recursive_directory_iterator(dir))
            if (entry.is_regular_file()) names.push_back(fs::relative(entry.path(), dir).string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

bool has_temporary(const std::vector<std::string>& names) {
    for (const std::string& name : names)
        if (name.find(".tmp") != std::string::npos) return true;
    return false;
}

TEST_F(Fault, ReadErrorMidFileStopsTheRunNamingFileAndLine) {
    copy_case("map_example_basic");
    // The disk fails where the second block begins: no block after it may be lost quietly.
    std::string transfer = read_text(dir / "transfer.out");
    std::size_t first = transfer.find("Time=");
    std::size_t second = transfer.find("\nTime=", first) + 1;
    ASSERT_NE(second, std::string::npos + 1);
    int second_line = 1 + static_cast<int>(std::count(transfer.begin(), transfer.begin() + second, '\n'));
    const char* asan = std::getenv("ASAN_OPTIONS");
    RunResult r = run({{"surface.dat", "transfer.out"},
                       {{"LD_PRELOAD", QUORVEL_FAULT_SHIM},
                        {"QUORVEL_FAULT_FILE", "/transfer.out"},
                        {"QUORVEL_FAULT_OFFSET", std::to_string(second)},
                        {"ASAN_OPTIONS", std::string(asan ? asan : "") + ":verify_asan_link_order=0"}}});
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_NE(r.out.find("Error, could not read file transfer.out at line " +
                         std::to_string(second_line) + " (Input/output error), exiting.\n"),
              std::string::npos)
        << r.out;
    // Nothing of the half-read run takes a result name.
    EXPECT_FALSE(fs::exists(dir / "htc_triangles.map"));
    EXPECT_FALSE(has_temporary(all_files()));
}

TEST_F(Fault, FullDiskKeepsThePreviousResultSetAndLeavesNoTemporary) {
    copy_case("view_ascii_gmv_fieldview");
    RunResult first = run({{"surface.dat", "transfer.out"}, {}});
    ASSERT_EQ(first.status, 0) << first.out;
    // Mark every result of the good run, then fail the last writer's file (the largest).
    std::vector<std::string> results = {"htc_triangles.map", "htc_vertex.map", "quorvel.gmv",
                                        "quorvel_ascii.uns", "ensight/quorvel.case",
                                        "ensight/quorvel.geo", "ensight/quorvel.btemp"};
    for (const std::string& name : results) {
        ASSERT_TRUE(fs::exists(dir / name)) << name;
        write_text(dir / name, "previous " + name + "\n");
    }
    std::vector<std::string> before = all_files();
    ASSERT_GT(fs::file_size(dir / "transfer.out"), 0u);
    // The log goes to /dev/null: the limit would fail it too, being larger than any result.
    RunResult second = run({{"surface.dat", "transfer.out"}, {}, "/dev/null", 900});
    EXPECT_EQ(second.status, 1);
    EXPECT_EQ(second.err, "Cannot close output file quorvel_ascii.uns: File too large\n");
    for (const std::string& name : results)
        EXPECT_EQ(read_text(dir / name), "previous " + name + "\n") << name;
    EXPECT_EQ(all_files(), before);
}

TEST_F(Fault, StandardOutputOnAFullDeviceFailsTheRun) {
    copy_case("map_example_basic");
    RunResult r = run({{"surface.dat", "transfer.out"}, {}, "/dev/full"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Error, could not write standard output (No space left on device), exiting.\n");
}

TEST_F(Fault, EndlessLineIsRefusedWithinItsBound) {
    copy_case("map_example_basic");
    RunResult r = run({{"surface.dat", "/dev/zero"}, {}});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("Error, line 1 of file /dev/zero is longer than 256 MiB, exiting.\n"),
              std::string::npos)
        << r.out.substr(r.out.size() > 400 ? r.out.size() - 400 : 0);
    // The 256 MiB buffer and the half-size one it is copied from; AddressSanitizer adds
    // its own shadow and quarantine.
#if defined(__SANITIZE_ADDRESS__)
    EXPECT_LT(r.peak_kilobytes, 1200 * 1024);
#else
    EXPECT_LT(r.peak_kilobytes, 450 * 1024);
#endif
}

// Every leaf within the tolerance of every triangle: 2,048 triangles with a tolerance of
// 1 m once took gigabytes; the shared lists keep it to the surface's own size.
TEST_F(Fault, SurfaceSizedToleranceStaysSmall) {
    copy_case("map_example_basic");
    std::ostringstream surface;
    const int k = 32;  // 2 * 32 * 32 = 2048 triangles over the example's 100 x 50 mm plate
    surface << (k + 1) * (k + 1) << " " << (k + 1) * (k + 1) << " " << 2 * k * k << "\n";
    for (int j = 0; j <= k; ++j)
        for (int i = 0; i <= k; ++i)
            surface << j * (k + 1) + i + 1 << " " << 100.0 * i / k << " " << 50.0 * j / k << " 0\n";
    for (int j = 0; j < k; ++j)
        for (int i = 0; i < k; ++i) {
            int a = j * (k + 1) + i + 1, b = a + 1, c = a + k + 1, d = c + 1;
            surface << a << " " << b << " " << d << " 1\n" << a << " " << d << " " << c << " 1\n";
        }
    write_text(dir / "surface.dat", surface.str());
    std::string options = read_text(dir / "htc_inputs.in");
    std::size_t at = options.find("0.0005 tolerance");
    ASSERT_NE(at, std::string::npos);
    options.replace(at, 6, "1");
    write_text(dir / "htc_inputs.in", options);
    RunResult r = run({{"surface.dat", "transfer.out"}, {}});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("level = 6, num_active=262144, num_triangles = 536870912\n"),
              std::string::npos);
    EXPECT_LT(r.peak_kilobytes, 400 * 1024);
}

// A denormal scale puts the whole surface into one point: every leaf within the tolerance
// of every triangle. It once took half a minute and most of a gigabyte.
TEST_F(Fault, DenormalScaleCollapsingTheSurfaceIsQuickAndSmall) {
    copy_case("map_example_basic");
    std::string options = read_text(dir / "htc_inputs.in");
    std::size_t at = options.find("0.001 scale_xyz");
    ASSERT_NE(at, std::string::npos);
    options.replace(at, 5, "1e-320");
    write_text(dir / "htc_inputs.in", options);
    auto start = std::chrono::steady_clock::now();
    RunResult r = run({{"surface.dat", "transfer.out"}, {}});
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("level = 6, num_active=262144, num_triangles = 16777216\n"),
              std::string::npos);
    EXPECT_LT(seconds, 20.0);
    EXPECT_LT(r.peak_kilobytes, 400 * 1024);
}

}  // namespace
