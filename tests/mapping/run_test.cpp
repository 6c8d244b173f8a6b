// tests/mapping/run_test.cpp: the diagnostic point files every stage of the run writes.
#include "mapping/hit_mapping.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

// Runs each test in a fresh directory: the point files go to ./detailedoutput.
class PointFile : public ::testing::Test {
protected:
    void SetUp() override {
        previous_ = fs::current_path();
        char pattern[] = "/tmp/quorvel_run_test_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        fs::current_path(dir_);
    }
    void TearDown() override {
        fs::current_path(previous_);
        fs::remove_all(dir_);
    }
    static std::string read(const std::string& name) {
        std::ifstream in(name, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    fs::path previous_, dir_;
};

TEST_F(PointFile, CreatesTheDirectoryAndWritesCrLf) {
    OutFile file;
    open_point_file(file, "detailedoutput/grownpoints_0.002500.dat", 2);
    out_format(file, "%d %e %e %e\n", 1, 0.5, -0.25, 1e-3);
    close_point_file(file);
    EXPECT_EQ(read("detailedoutput/grownpoints_0.002500.dat"),
              "2 2 0\r\n1 5.000000e-001 -2.500000e-001 1.000000e-003\r\n");
    // A second file finds the directory there.
    open_point_file(file, "detailedoutput/uninit_triangles_1.000000.dat", 0);
    close_point_file(file);
    EXPECT_EQ(read("detailedoutput/uninit_triangles_1.000000.dat"), "0 0 0\r\n");
}

TEST_F(PointFile, FileThatCannotBeCreatedStopsWithStatus1) {
    // A plain file where the directory belongs: neither the file nor the directory can be
    // made. The message goes to stdout, which EXPECT_EXIT does not see; the e2e case
    // pins it.
    std::ofstream("detailedoutput") << "in the way\n";
    OutFile file;
    EXPECT_EXIT(open_point_file(file, "detailedoutput/directhitpoints_1.000000.dat", 1),
                ::testing::ExitedWithCode(1), "");
}

}  // namespace
