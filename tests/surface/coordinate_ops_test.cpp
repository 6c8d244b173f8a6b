#include "surface/coordinate_ops.h"

#include "surface_test_support.h"

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>

TEST(CoordinateOperations, ScaleThenMoveDiffersFromMoveThenScale) {
    use_identity_frame();
    settings.scale_xyz = 0.001;
    settings.trans_x = 1;
    double x = 1000, y = 0, z = 0;
    apply_coordinate_operations(x, y, z);
    EXPECT_DOUBLE_EQ(x, 2.0);  // 1000 * 0.001 + 1

    operation_order = OperationOrder{{"TX", "SC", "TY", "TZ", "RX", "RY", "RZ"}};
    x = 1000;
    apply_coordinate_operations(x, y, z);
    EXPECT_DOUBLE_EQ(x, 1.001);  // (1000 + 1) * 0.001
}

TEST(CoordinateOperations, QuarterTurnAboutZUsesTheShortPi) {
    use_identity_frame();
    settings.rot_angle_z = 90 * pi_for_angles / 180;
    double x = 1, y = 0, z = 0;
    apply_coordinate_operations(x, y, z);
    // cos(3.141592654 / 2) = -2.0510343e-10: the stored results carry this, not an exact 0.
    EXPECT_NEAR(x, -2.0510343e-10, 1e-17);
    EXPECT_DOUBLE_EQ(y, 1.0);
    EXPECT_EQ(z, 0.0);

    // +x turns toward +y about z, +y toward +z about x, +z toward +x about y.
    use_identity_frame();
    settings.rot_angle_x = settings.rot_angle_y = 90 * pi_for_angles / 180;
    x = 0, y = 1, z = 0;
    apply_coordinate_operations(x, y, z);  // RX: (0,0,1); RY: (1,0,0)
    EXPECT_NEAR(x, 1.0, 1e-9);
    EXPECT_NEAR(y, 0.0, 1e-9);
    EXPECT_NEAR(z, 0.0, 1e-9);
}

TEST(CoordinateOperations, IdentityKeepsEveryBit) {
    use_identity_frame();
    const double values[] = {1.0 / 3, -7.123456789012345e-5, 1e300, 4.9e-324, 12345.678};
    for (double a : values)
        for (double b : values) {
            double x = a, y = b, z = -a;
            apply_coordinate_operations(x, y, z);
            EXPECT_EQ(std::memcmp(&x, &a, sizeof x), 0);
            EXPECT_EQ(std::memcmp(&y, &b, sizeof y), 0);
            EXPECT_EQ(z, -a);
        }
}

TEST(CoordinateOperations, RepeatedNameAppliesTwiceAndMissingNameNever) {
    use_identity_frame();
    settings.scale_xyz = 2;
    settings.trans_y = 1;
    settings.trans_z = 5;
    operation_order = OperationOrder{{"SC", "TY", "SC", "RX", "RY", "RZ", "TX"}};
    double x = 1, y = 1, z = 1;
    apply_coordinate_operations(x, y, z);
    EXPECT_DOUBLE_EQ(x, 4.0);
    EXPECT_DOUBLE_EQ(y, 6.0);  // (1 * 2 + 1) * 2
    EXPECT_DOUBLE_EQ(z, 4.0);  // no TZ
}

TEST(CoordinateOperationsDeath, UnknownNameEndsTheRun) {
    use_identity_frame();
    operation_order.name[3] = "RQ";
    double x = 0, y = 0, z = 0;
    EXPECT_EXIT((stdout_to_stderr(), apply_coordinate_operations(x, y, z)),
                testing::ExitedWithCode(1), "^Error, RQ is not a valid operation$");
}
