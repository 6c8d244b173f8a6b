// The transform mode's good paths that need numbers rather than fixed bytes; its exits and
// exact output files are end-to-end cases.
#include "config/options.h"
#include "platform/fatal.h"
#include "platform/numbers.h"
#include "transform/transform.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

// Runs the mode on `input` in a scratch directory; returns the output file's data rows,
// each as its four numbers.
std::vector<std::vector<double>> transform_rows(const std::string& input) {
    std::string dir = (fs::temp_directory_path() / "quorvel-transform-XXXXXX").string();
    if (!mkdtemp(dir.data())) return {};
    std::ofstream(fs::path(dir) / "in.txt", std::ios::binary) << input;
    testing::internal::CaptureStdout();
    transform_bc_file((fs::path(dir) / "in.txt").string(), (fs::path(dir) / "out.txt").string());
    flush_say();
    testing::internal::GetCapturedStdout();
    std::ifstream out(fs::path(dir) / "out.txt", std::ios::binary);
    std::vector<std::vector<double>> rows;
    std::string line;
    for (int n = 0; std::getline(out, line); ++n) {
        if (n < 11) continue;  // the identity header
        std::vector<double> row;
        std::istringstream words(line);
        std::string word;
        while (words >> word) row.push_back(read_real(word));
        rows.push_back(row);
    }
    fs::remove_all(dir);
    return rows;
}

std::string header(const char* rotations, const char* order) {
    return std::string("title\n1 scale_xyz\n") + rotations +
           "0 trans_x\n0 trans_y\n0 trans_z\n" + order + " orderofoperations\nten\neleven\n";
}

TEST(TransformBcFile, RotatesByDegreesInHeaderOrder) {
    // 90 degrees about z takes (1, 0, 0) to (0, 1, 0); then 90 about x takes it to (0, 0, 1).
    auto rows = transform_rows(header("90 rot_angle_x\n0 rot_angle_y\n90 rot_angle_z\n",
                                      "rz-rx-sc-ry-tx-ty-tz") +
                               "1 0 0 300\n0 0 2 -5\n");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_NEAR(rows[0][0], 0, 1e-9);
    EXPECT_NEAR(rows[0][1], 0, 1e-9);
    EXPECT_NEAR(rows[0][2], 1, 1e-9);
    EXPECT_EQ(rows[0][3], 300);
    // (0, 0, 2): z rotation leaves it, x rotation by +90 takes z to -y.
    EXPECT_NEAR(rows[1][0], 0, 1e-9);
    EXPECT_NEAR(rows[1][1], -2, 1e-9);
    EXPECT_NEAR(rows[1][2], 0, 1e-9);
    EXPECT_EQ(rows[1][3], -5);
    EXPECT_DOUBLE_EQ(settings.rot_angle_z, 1.570796327);
    EXPECT_EQ(operation_order.name[0], "RZ");
}

TEST(TransformBcFile, ManyPointsStreamThrough) {
    std::string input = header("0 rot_angle_x\n0 rot_angle_y\n0 rot_angle_z\n",
                               "sc-rx-ry-rz-tx-ty-tz");
    for (int i = 0; i < 20000; ++i) {
        if (i % 5000 == 0) input += std::to_string(i) + " time\nstep\n";
        input += std::to_string(i) + " " + std::to_string(-i) + " 0.5 " + std::to_string(i % 7) + "\n";
    }
    auto rows = transform_rows(input);
    int points = 0;
    for (const auto& row : rows) {
        if (row.size() != 4) continue;  // the time records
        EXPECT_EQ(row[0], points);
        EXPECT_EQ(row[1], -points);
        EXPECT_EQ(row[3], points % 7);
        ++points;
    }
    EXPECT_EQ(points, 20000);
}

}  // namespace
