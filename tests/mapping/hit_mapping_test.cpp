// tests/mapping/hit_mapping_test.cpp: direct hits, their averages and neighbour growth on
// hand-built triangle strips.
#include "mapping/hit_mapping.h"

#include "mapping_test_tables.h"

#include <cmath>
#include <gtest/gtest.h>
#include <vector>

namespace {

class HitMapping : public ::testing::Test {
protected:
    void SetUp() override {
        reset_mapping_tables();
        settings.grow_mult = 1;
    }
    void hit(int triangle, double htc, double fluid_temp, double area, double distance = 0) {
        int s = add_sample(htc, fluid_temp, area, fluid_temp - 10, 2 * htc);
        record_hit(s, triangle, distance, 1.0, "s");
    }
    // Takes the strip as the tests left it, as a run takes the surface.
    void grow() {
        prepare_hit_mapping();
        grow_from_hits(1.0);
    }
};

TEST_F(HitMapping, TwoSamplesAverageByAreaAndHtc) {
    // Areas 1 and 3, HTC 10 and 30, fluid 300 K and 400 K, both on triangle 0:
    // htc = (10*1 + 30*3) / 4 = 25, fluid = (10*300*1 + 30*400*3) / (10*1 + 30*3) = 390,
    // wall 290 and 390 likewise 380, flux 2*htc so 50; reach = sqrt(4) + the larger distance.
    make_strip({0}, 0.5);
    hit(0, 10, 300, 1, 0.25);
    hit(0, 30, 400, 3, 0.125);
    grow();
    const TriangleStep& step = triangle_step[0];
    EXPECT_DOUBLE_EQ(step.step_htc, 25.0);
    EXPECT_DOUBLE_EQ(step.step_fluid_temp, 390.0);
    EXPECT_DOUBLE_EQ(step.step_boundary_temp, 380.0);
    EXPECT_DOUBLE_EQ(step.step_flux, 50.0);
    EXPECT_DOUBLE_EQ(step.step_weight, 4.0);
    EXPECT_DOUBLE_EQ(triangle_table[0].reach, 2.25);
    EXPECT_DOUBLE_EQ(triangle_table[0].max_hit_distance, 0.25);
    EXPECT_EQ(step_counts.direct_hit_count, 2);
    EXPECT_EQ(step_counts.direct_triangle_count, 1);
}

TEST_F(HitMapping, HtcAboveLimitIsCutFluxIsNot) {
    // max_htc 20: a sample of 20 stays, one of 40 counts as 20; its flux (2*40) is kept.
    settings.max_htc = 20;
    make_strip({0, 10}, 0.5);
    hit(0, 20, 300, 1);
    hit(1, 40, 300, 1);
    grow();
    EXPECT_DOUBLE_EQ(triangle_step[0].step_htc, 20.0);
    EXPECT_DOUBLE_EQ(triangle_step[1].step_htc, 20.0);
    EXPECT_DOUBLE_EQ(triangle_step[1].step_flux, 80.0);
}

TEST_F(HitMapping, ConvectiveColumnsReplaceHtcAndFlux) {
    use_convective_columns();
    make_strip({0}, 0.5);
    int s = add_sample(999, 300, 2);
    set_convective_columns(s, 3, 7);
    record_hit(s, 0, 0, 1.0, "s");
    grow();
    EXPECT_DOUBLE_EQ(triangle_step[0].step_htc, 7.0);
    EXPECT_DOUBLE_EQ(triangle_step[0].step_flux, 3.0);
}

TEST_F(HitMapping, StepAfterTheTablesAreReleasedMapsAsBefore) {
    // The end of a run gives the step tables back; a step after that prepares them again.
    make_strip({0, 0.1, 0.2}, 1.0);
    hit(0, 10, 300, 1);
    grow();
    const TriangleStep before = triangle_step[2];
    release_hit_mapping();
    clear_step();
    hit(0, 10, 300, 1);
    grow();
    EXPECT_EQ(triangle_hit_state[2], grown);
    EXPECT_EQ(triangle_step[2].step_htc, before.step_htc);
    EXPECT_EQ(triangle_step[2].step_fluid_temp, before.step_fluid_temp);
    EXPECT_EQ(step_counts.grown_count, 2);
}

TEST_F(HitMapping, MissesAndRefusalsAreCounted) {
    make_strip({0}, 0.5);
    int s = add_sample(10, 300, 1);
    record_hit(s, -1, -1, 1.0, "s");
    record_hit(s, -2, -1, 1.0, "s");
    EXPECT_EQ(step_counts.miss_count, 2);
    EXPECT_EQ(step_counts.boundary_blocked_count, 1);
    EXPECT_EQ(step_counts.direct_hit_count, 0);
}

TEST_F(HitMapping, GrowthStopsAtTheDistanceLimitFromTheOrigin) {
    // Origin 0 with area 1 and distance 0 has reach 1; radius 1 makes the limit 2.
    // Triangle 2 sits exactly at 2 and is grown, 3 lies beyond. The reach of a grown
    // triangle is its limit from the origin, (1 + 1) * 1.
    make_strip({0, 1, 2, 3}, 1.0);
    hit(0, 10, 300, 1);
    grow();
    EXPECT_EQ(triangle_hit_state[1], grown);
    EXPECT_EQ(triangle_hit_state[2], grown);
    EXPECT_EQ(triangle_hit_state[3], no_data);
    EXPECT_EQ(step_counts.grown_count, 2);
    EXPECT_DOUBLE_EQ(triangle_step[2].step_fluid_temp, 300.0);
    EXPECT_DOUBLE_EQ(triangle_step[2].step_htc, 10.0);
    EXPECT_DOUBLE_EQ(triangle_step[2].step_weight, 1.0);
    EXPECT_DOUBLE_EQ(triangle_table[2].reach, 2.0);
}

TEST_F(HitMapping, SearchDoesNotPassBeyondTheLimit) {
    // Triangle 1 lies just beyond the limit; 2 is close to the origin but reachable only
    // through 1, so it stays empty and unvisited.
    make_strip({0, 2.000000001, 0.5}, 1.0);
    hit(0, 10, 300, 1);
    grow();
    EXPECT_EQ(triangle_hit_state[1], no_data);
    EXPECT_EQ(triangle_hit_state[2], no_data);
}

TEST_F(HitMapping, GrowMultZeroGrowsOnlyOntoCoincidentCentroids) {
    settings.grow_mult = 0;
    make_strip({0, 0, 1}, 1.0);
    hit(0, 10, 300, 1);
    grow();
    EXPECT_EQ(triangle_hit_state[1], grown);
    EXPECT_EQ(triangle_hit_state[2], no_data);
}

// The limit is compared by its square where rounding cannot decide otherwise: a limit
// below zero still takes nothing (not even a coincident centroid), and centroids one ulp
// either side of the limit, tiny, ordinary or huge, fall as the root decides.
TEST_F(HitMapping, DistanceLimitHoldsAtEveryScale) {
    settings.grow_mult = -1;
    make_strip({0, 0}, 1.0);
    hit(0, 10, 300, 1);
    grow();
    EXPECT_EQ(triangle_hit_state[1], no_data);

    for (double scale : {1e-160, 1e-3, 1.0, 1e150}) {
        reset_mapping_tables();
        settings.grow_mult = 1;
        const double area = scale * scale;
        const double limit = (std::sqrt(area) + scale) * 1;  // reach + radius, as grown
        const std::vector<double> x = {0, limit, std::nextafter(limit, 0.0),
                                       std::nextafter(limit, 1e300)};
        make_strip(x, scale);
        hit(0, 10, 300, area);
        grow();
        bool reachable = true;  // the strip is searched through its predecessor
        for (int t = 1; t < 4; ++t) {
            reachable = reachable && !(std::sqrt(x[t] * x[t]) > limit);
            EXPECT_EQ(triangle_hit_state[t], reachable ? grown : no_data)
                << "scale " << scale << " triangle " << t;
        }
        if (scale == 1.0) {
            EXPECT_EQ(triangle_hit_state[2], grown);
            EXPECT_EQ(triangle_hit_state[3], no_data);
        }
    }
}

TEST_F(HitMapping, SearchPassesThroughDirectHitsWithoutChangingThem) {
    // 0 and 1 hit, 2 empty: 2 receives from both origins. HTC 10 at 300 K and 30 at 400 K
    // give it htc (10 + 30) / 2 = 20 and fluid (10*300 + 30*400) / 40 = 375. The chain
    // grows from the most recent first hit (1) first, so the last contribution to 2 is
    // origin 0's and 2's reach is (reach of 0 + radius) * grow_mult = (1 + 1) * 1, not 3.
    make_strip({0, 0.5, 1.0}, 1.0);
    hit(0, 10, 300, 1);    // reach 1
    hit(1, 30, 400, 4);    // reach 2
    grow();
    EXPECT_DOUBLE_EQ(triangle_step[0].step_htc, 10.0);
    EXPECT_DOUBLE_EQ(triangle_step[0].step_fluid_temp, 300.0);
    EXPECT_DOUBLE_EQ(triangle_step[1].step_htc, 30.0);
    EXPECT_DOUBLE_EQ(triangle_step[2].step_htc, 20.0);
    EXPECT_DOUBLE_EQ(triangle_step[2].step_fluid_temp, 375.0);
    EXPECT_DOUBLE_EQ(triangle_step[2].step_flux, 40.0);  // (20 + 60) / 2
    EXPECT_DOUBLE_EQ(triangle_step[2].step_weight, 2.0);
    EXPECT_DOUBLE_EQ(triangle_table[2].reach, 2.0);
    EXPECT_EQ(step_counts.grown_count, 1);
}

TEST_F(HitMapping, BoundaryIdMatchBlocksGrowthAndCountsEachRefusal) {
    // Mode 1: origin of boundary 3 never grows onto 4. Triangle 2 (boundary 4) is a
    // neighbour of both 1 and 3, so it is refused, and counted, twice.
    settings.enforce_boundID_match = 1;
    make_strip({0, 0.1, 0.2, 0.3}, 1.0);
    triangle_geometry[1].neighbor[2] = 3;
    triangle_geometry[3].neighbor[2] = 1;
    for (int t : {0, 1, 3}) triangle_geometry[t].boundary_id = 3;
    triangle_geometry[2].boundary_id = 4;
    hit(0, 10, 300, 1);
    grow();
    EXPECT_EQ(triangle_hit_state[1], grown);
    EXPECT_EQ(triangle_hit_state[3], grown);
    EXPECT_EQ(triangle_hit_state[2], no_data);
    EXPECT_EQ(step_counts.boundary_blocked_count, 2);
}

TEST_F(HitMapping, PistonValuesStayOnThePiston) {
    // Mode 2: boundary 1 never grows onto 2, but 2 grows onto 1.
    settings.enforce_boundID_match = 2;
    make_strip({0, 0.1, 5, 5.1}, 1.0);
    triangle_geometry[0].boundary_id = 1;
    triangle_geometry[1].boundary_id = 2;
    triangle_geometry[2].boundary_id = 2;
    triangle_geometry[3].boundary_id = 1;
    triangle_geometry[1].neighbor[0] = -1;  // two separate pairs: 0-1 and 2-3
    triangle_geometry[2].neighbor[1] = 3;
    triangle_geometry[1].neighbor[1] = -1;
    triangle_geometry[2].neighbor[0] = -1;
    hit(0, 10, 300, 1);
    hit(2, 10, 300, 1);
    grow();
    EXPECT_EQ(triangle_hit_state[1], no_data);
    EXPECT_EQ(triangle_hit_state[3], grown);
    EXPECT_EQ(step_counts.boundary_blocked_count, 1);
}

TEST_F(HitMapping, ExtraColumnsAverageLikeFlux) {
    extra_names = {"A", "B"};
    make_strip({0, 0.5}, 1.0);
    int s0 = add_sample(10, 300, 1);
    int s1 = add_sample(10, 300, 3);
    extra_of_sample(s0)[0] = 4;
    extra_of_sample(s0)[1] = -1;
    extra_of_sample(s1)[0] = 8;
    extra_of_sample(s1)[1] = -1;
    record_hit(s0, 0, 0, 1.0, "s");
    record_hit(s1, 0, 0, 1.0, "s");
    grow();
    EXPECT_DOUBLE_EQ(step_extra_of(0)[0], 7.0);  // (4*1 + 8*3) / 4
    EXPECT_DOUBLE_EQ(step_extra_of(0)[1], -1.0);
    EXPECT_DOUBLE_EQ(step_extra_of(1)[0], 7.0);
}

// A step start leaves the last step's values where they are, to be cleared where a hit or
// growth meets them: none of them may show in the next step, whatever it hits.
TEST_F(HitMapping, LastStepsValuesNeverShowInTheNext) {
    make_strip({0, 0.5, 1.0, 30}, 1.0);
    hit(0, 10, 300, 1, 0.5);
    grow();
    ASSERT_EQ(triangle_hit_state[1], grown);
    clear_step();
    EXPECT_EQ(step_counts.direct_hit_count, 0);
    EXPECT_DOUBLE_EQ(triangle_table[0].reach, 1.5);
    EXPECT_DOUBLE_EQ(triangle_table[0].max_hit_distance, 0.5);

    // The grown triangle 1 is hit now; 0 is not, and 3 is too far for anything to reach.
    hit(1, 20, 400, 2);
    hit(3, 30, 500, 1);
    grow();
    EXPECT_EQ(triangle_hit_state[1], hit_directly);
    EXPECT_DOUBLE_EQ(triangle_step[1].step_weight, 2.0);
    EXPECT_DOUBLE_EQ(triangle_step[1].step_fluid_temp, 400.0);
    // 0 and 2 are grown from 1 alone, with one contribution each.
    for (int t : {0, 2}) {
        EXPECT_EQ(triangle_hit_state[t], grown) << t;
        EXPECT_DOUBLE_EQ(triangle_step[t].step_weight, 1.0) << t;
        EXPECT_DOUBLE_EQ(triangle_step[t].step_fluid_temp, 400.0) << t;
    }

    // A step that hits only 3 leaves 0, 1 and 2 with nothing.
    clear_step();
    hit(3, 30, 500, 1);
    grow();
    for (int t : {0, 1, 2}) {
        EXPECT_EQ(triangle_hit_state[t], no_data) << t;
        EXPECT_EQ(triangle_step[t].step_weight, 0.0) << t;
        EXPECT_EQ(triangle_step[t].step_fluid_temp, 0.0) << t;
        EXPECT_EQ(triangle_step[t].step_flux, 0.0) << t;
    }
    EXPECT_DOUBLE_EQ(triangle_step[3].step_fluid_temp, 500.0);
}

}  // namespace
