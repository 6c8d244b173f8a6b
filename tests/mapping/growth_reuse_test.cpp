// tests/mapping/growth_reuse_test.cpp: growth kept from step to step (stored searches, the
// gathered plan) and spread over workers gives the bits a fresh single-threaded search gives.
#include "mapping/hit_mapping.h"

#include "mapping_test_tables.h"
#include "platform/threads.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

namespace {

// A width x height grid of unit squares, each cut into two triangles, neighbours across
// every shared edge; boundary 1 on the left half and 2 on the right.
void make_grid(int width, int height) {
    const int count = 2 * width * height;
    triangle_table.assign(count, Triangle{});
    triangle_geometry.assign(count, TriangleGeometry{});
    auto id = [&](int i, int j, int half) { return 2 * (j * width + i) + half; };
    for (int j = 0; j < height; ++j)
        for (int i = 0; i < width; ++i)
            for (int half = 0; half < 2; ++half) {
                TriangleGeometry& tri = triangle_geometry[id(i, j, half)];
                tri.centroid[0] = i + (half ? 2.0 / 3 : 1.0 / 3);
                tri.centroid[1] = j + (half ? 2.0 / 3 : 1.0 / 3);
                tri.radius = 0.75;
                tri.boundary_id = i < width / 2 ? 1 : 2;
                // Lower triangle: below, the diagonal, left; upper: right, above, diagonal.
                if (half == 0) {
                    tri.neighbor[0] = j > 0 ? id(i, j - 1, 1) : -1;
                    tri.neighbor[1] = id(i, j, 1);
                    tri.neighbor[2] = i > 0 ? id(i - 1, j, 1) : -1;
                } else {
                    tri.neighbor[0] = i + 1 < width ? id(i + 1, j, 0) : -1;
                    tri.neighbor[1] = j + 1 < height ? id(i, j + 1, 0) : -1;
                    tri.neighbor[2] = id(i, j, 0);
                }
            }
    clear_step();
}

struct StepResult {
    std::vector<TriangleStep> steps;
    std::vector<std::uint8_t> states;
    std::vector<double> extra;
    std::vector<double> reach;
    int grown = 0, blocked = 0, direct = 0;
};

// One step: the samples hit the given triangles (the same pool records every step, so that
// steps with the same hits have the same origins), with values that change from step to step.
StepResult run_step(const std::vector<int>& hits, int step, bool fresh) {
    clear_step();
    // A fresh run forgets every answer kept before.
    if (fresh) prepare_hit_mapping();
    sample_pool.clear();
    sample_extra.clear();
    sample_count = 0;
    for (std::size_t k = 0; k < hits.size(); ++k) {
        int s = add_sample(10 + k % 7 + step, 300 + 3 * step + k % 11, 0.5 + 0.25 * (k % 3),
                           290 + step, 1000 + 17 * k);
        for (std::size_t e = 0; e < extra_names.size(); ++e)
            extra_of_sample(s)[e] = 0.1 * k + e + step;
        record_hit(s, hits[k], 0.01 * (k % 5), 1.0, "s");
    }
    grow_from_hits(1.0);
    StepResult result;
    result.steps = triangle_step;
    result.states = triangle_hit_state;
    result.extra = triangle_step_extra;
    for (const Triangle& tri : triangle_table) result.reach.push_back(tri.reach);
    result.grown = step_counts.grown_count;
    result.blocked = step_counts.boundary_blocked_count;
    result.direct = step_counts.direct_triangle_count;
    return result;
}

void expect_same_bits(const StepResult& a, const StepResult& b, int step) {
    ASSERT_EQ(a.steps.size(), b.steps.size());
    for (std::size_t t = 0; t < a.steps.size(); ++t) {
        const TriangleStep& x = a.steps[t];
        const TriangleStep& y = b.steps[t];
        ASSERT_EQ(a.states[t], b.states[t]) << "step " << step << ", triangle " << t;
        for (auto field : {&TriangleStep::step_fluid_temp, &TriangleStep::step_boundary_temp,
                           &TriangleStep::step_flux, &TriangleStep::step_htc,
                           &TriangleStep::step_yplus, &TriangleStep::step_weight})
            ASSERT_EQ(std::memcmp(&(x.*field), &(y.*field), sizeof(double)), 0)
                << "step " << step << ", triangle " << t;
        ASSERT_EQ(std::memcmp(&a.reach[t], &b.reach[t], sizeof(double)), 0)
            << "step " << step << ", triangle " << t;
    }
    ASSERT_EQ(a.extra.size(), b.extra.size());
    if (!a.extra.empty()) {
        EXPECT_EQ(std::memcmp(a.extra.data(), b.extra.data(), a.extra.size() * sizeof(double)), 0)
            << "step " << step;
    }
    EXPECT_EQ(a.grown, b.grown) << "step " << step;
    EXPECT_EQ(a.blocked, b.blocked) << "step " << step;
    EXPECT_EQ(a.direct, b.direct) << "step " << step;
}

TEST(GrowthReuse, KeptAnswersAndWorkersGiveTheBitsOfAFreshSingleThreadedSearch) {
    // Steps 0-2 repeat one set of hits, step 3 moves some, 4 and 5 repeat those, 6 returns
    // to the first, then the two alternate (searches stored only now and then). With plans,
    // a storing step makes one and the repeats use it; without, stored searches are
    // replayed. Growth mode 1 refuses across the boundary line, so refusals are counted
    // from kept answers too. The reference forgets everything each step and has no plans.
    // On the long grid a search's triangles lie rows apart, further than growth's sorting
    // takes at one sweep.
    for (auto [width, height] : {std::pair{20, 20}, std::pair{17000, 3}}) {
    const int count = 2 * width * height;
    std::mt19937 random(7);
    std::vector<int> first, moved;
    for (int k = 0; k < 60; ++k) first.push_back(static_cast<int>(random() % count));
    moved = first;
    for (int k = 0; k < 60; k += 4) moved[k] = static_cast<int>(random() % count);
    std::vector<std::vector<int>> steps = {first, first, first, moved, moved, moved, first};
    for (int k = 0; k < 12; ++k) steps.push_back(k % 2 ? first : moved);
    for (int threads : {1, 3})
    for (bool plans : {false, true}) {
        for (int mode : {0, 1}) {
            reset_mapping_tables();
            extra_names = {"A", "B"};
            settings.grow_mult = 1.5;
            settings.enforce_boundID_match = mode;
            make_grid(width, height);
            std::vector<StepResult> fresh;
            set_thread_count(1);
            growth_plans_allowed = false;
            for (int k = 0; k < static_cast<int>(steps.size()); ++k)
                fresh.push_back(run_step(steps[k], k, /*fresh=*/true));
            set_thread_count(threads);
            growth_plans_allowed = plans;
            // A second run over the same surface: reaches and hit distances start again.
            for (Triangle& tri : triangle_table) tri.reach = tri.max_hit_distance = 0;
            prepare_hit_mapping();
            for (int k = 0; k < static_cast<int>(steps.size()); ++k) {
                SCOPED_TRACE(testing::Message() << width << " x " << height << ", " << threads
                                                << " threads, mode " << mode
                                                << (plans ? ", plans" : ", no plans"));
                expect_same_bits(fresh[k], run_step(steps[k], k, /*fresh=*/false), k);
            }
            set_thread_count(0);
            growth_plans_allowed = true;
        }
    }
    }
}

TEST(GrowthReuse, OriginsFarApartInGrowthOrderReachTheSameTriangle) {
    // Two neighbouring hits with more than 65535 others between them in growth order reach
    // the same triangles: a plan must carry that gap exactly (past the bits a gap is coded
    // in, many times over).
    for (int filler : {70000, 140000}) {
        reset_mapping_tables();
        settings.grow_mult = 1.5;
        const int width = 500, height = 320;
        make_grid(width, height);
        auto lower = [&](int i, int j) { return 2 * (j * width + i); };
        std::vector<int> hits = {lower(10, 10)};
        // Rows far enough away that their reach stays there.
        for (int j = 20; static_cast<int>(hits.size()) <= filler; ++j)
            for (int i = 0; i < width && static_cast<int>(hits.size()) <= filler; ++i)
                hits.push_back(lower(i, j));
        hits.push_back(lower(11, 10));
        set_thread_count(1);
        growth_plans_allowed = false;
        const StepResult reference = run_step(hits, 0, /*fresh=*/true);
        EXPECT_GT(reference.grown, 0);
        growth_plans_allowed = true;
        prepare_hit_mapping();
        for (Triangle& tri : triangle_table) tri.reach = tri.max_hit_distance = 0;
        // The first step stores its searches and grows by a plan of them, the second reuses it.
        for (int step = 0; step < 2; ++step) {
            SCOPED_TRACE(testing::Message() << filler << " between, step " << step);
            expect_same_bits(reference, run_step(hits, 0, /*fresh=*/false), step);
        }
        set_thread_count(0);
    }
}

TEST(GrowthReuse, LongRunsOfOriginsReachingOneTriangle) {
    // Every lower triangle hit, in order, with a reach of many squares: each upper one is
    // reached by long runs of consecutive origins, longer than one coded run holds.
    reset_mapping_tables();
    settings.grow_mult = 20;
    make_grid(100, 20);
    std::vector<int> hits;
    for (int t = 0; t < 2 * 100 * 20; t += 2) hits.push_back(t);
    set_thread_count(1);
    growth_plans_allowed = false;
    const StepResult reference = run_step(hits, 0, /*fresh=*/true);
    EXPECT_EQ(reference.grown, 100 * 20);
    growth_plans_allowed = true;
    prepare_hit_mapping();
    for (Triangle& tri : triangle_table) tri.reach = tri.max_hit_distance = 0;
    for (int step = 0; step < 2; ++step) {
        SCOPED_TRACE(testing::Message() << "step " << step);
        expect_same_bits(reference, run_step(hits, 0, /*fresh=*/false), step);
    }
    set_thread_count(0);
}

}  // namespace
