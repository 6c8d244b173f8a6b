// EnSight C Binary files: the standard form byte for byte, the scrambled form's key and
// masked count, and the key and mask functions.
#include "output/viewers.h"

#include "output_test_util.h"
#include "platform/io.h"

#include <set>

using namespace std::string_literals;

namespace {

using EnsightBinary = InTempDirectory;

// Three vertices, one triangle on boundary 0 and one on boundary 999.
void small_surface() {
    set_vertices({make_vertex(0, 0, 0), make_vertex(1, 0, 0), make_vertex(0, -1, 0.5)});
    set_triangles({make_triangle(0, 1, 2, 0), make_triangle(2, 1, 0, 999)});
    vertex_averages[0].initialized = 1;
    vertex_averages[0].boundary_temp = 300.1;
    vertex_averages[0].flux = -2.5;
    vertex_averages[1].boundary_temp = 55;  // uninitialized: written as -1
}

std::string standard_geometry() {
    Bytes b;
    // One text buffer for every record: each leaves the tail of a longer one behind its NUL.
    b.record("C Binary\0"s, ' ')
        .record("Triangulated surface\0"s, ' ')
        .record("for HTC mapping\0face\0"s, ' ')
        .record("node id assign\0\0face\0"s, ' ')
        .record("element id assign\0ce\0"s, ' ')
        .record("coordinates\0ssign\0ce\0"s, ' ')
        .i32(3);
    b.f32(0).f32(0).f32(0).f32(1).f32(0).f32(0).f32(0).f32(-1).f32(0.5f);
    b.record("part 1\0ates\0ssign\0ce\0"s, ' ')
        .record("boundary_1\0\0ssign\0ce\0"s, ' ')
        .record("tria3\0ry_1\0\0ssign\0ce\0"s, ' ')
        .i32(1).i32(1).i32(2).i32(3);
    b.record("part 1000\0\0\0ssign\0ce\0"s, ' ')
        .record("boundary_1000\0ign\0ce\0"s, ' ')
        .record("tria3\0ry_1000\0ign\0ce\0"s, ' ')
        .i32(1).i32(3).i32(2).i32(1);
    return b.data;
}

TEST_F(EnsightBinary, StandardFormReadableByAnyReader) {
    small_surface();
    settings.ensight_outputfiles = 2;
    write_ensight();
    commit_result_files();
    EXPECT_EQ(read_whole_file("ensight/quorvel.geo"), standard_geometry());
    Bytes btemp;
    btemp.record("boundary_temp\0"s, ' ').f32(300.1f).f32(-1).f32(-1);
    std::string file = read_whole_file("ensight/quorvel.btemp");
    EXPECT_EQ(file, btemp.data);
    EXPECT_EQ(file.substr(84, 4), "\x00\x00\x80\xbf"s);  // -1.0f
    Bytes flux;
    flux.record("flux\0"s, ' ').f32(-2.5f).f32(-1).f32(-1);
    EXPECT_EQ(read_whole_file("ensight/quorvel.flux"), flux.data);
    // Rounded to nearest: 0.1 is 0x3DCCCCCD (truncation would give ...CC).
    vertex_averages[0].htc = 0.1;
    write_ensight_binary_variable(2, "htc", "quorvel.htc");
    commit_result_files();
    EXPECT_EQ(read_whole_file("ensight/quorvel.htc").substr(80, 4), "\xcd\xcc\xcc\x3d"s);
    EXPECT_NE(read_whole_file("ensight/quorvel.case").find("scalar per node:\typlus\tquorvel.yplus\r\n"),
              std::string::npos);
}

TEST_F(EnsightBinary, ScrambledFormKeysAndMasksTheNodeCount) {
    small_surface();
    std::string standard = standard_geometry();
    write_ensight_binary(true, 12345);
    commit_result_files();
    std::string geo = read_whole_file("ensight/quorvel.geo");
    ASSERT_EQ(geo.size(), standard.size());
    EXPECT_EQ(geo.substr(0, 9), "C Binary ");
    for (int i = 9; i < 18; ++i) EXPECT_TRUE(geo[i] >= '1' && geo[i] <= '9') << i;
    EXPECT_EQ(geo[18], '1');
    EXPECT_EQ(geo[19], '\0');
    int index = scramble_index_of(geo.c_str() + 9);
    ASSERT_GE(index, 11);
    std::int32_t stored = int_at(geo, 480);
    EXPECT_NE(stored, 3);
    EXPECT_EQ(static_cast<std::uint32_t>(stored) ^ scramble_mask_of(index), 3u);
    // Everything else is the standard form.
    EXPECT_EQ(geo.substr(80, 400), standard.substr(80, 400));
    EXPECT_EQ(geo.substr(484), standard.substr(484));

    // Another seed, another key; the same seed, the same file.
    write_ensight_binary(true, 54321);
    commit_result_files();
    EXPECT_NE(read_whole_file("ensight/quorvel.geo").substr(0, 20), geo.substr(0, 20));
    write_ensight_binary(true, 12345);
    commit_result_files();
    EXPECT_EQ(read_whole_file("ensight/quorvel.geo"), geo);

    vertex_table.clear();
    triangle_table.clear();
    write_ensight_binary(true, 777);
    commit_result_files();
    EXPECT_EQ(int_at(read_whole_file("ensight/quorvel.geo"), 480), 0);
}

TEST_F(EnsightBinary, KeysHaveNineDigitsAndEndInOne) {
    std::set<std::string> keys;
    for (unsigned seed = 0; seed < 2000; ++seed) {
        char key[11];
        make_scramble_key(key, seed);
        ASSERT_EQ(key[10], '\0');
        ASSERT_EQ(key[9], '1');
        for (int i = 0; i < 9; ++i) ASSERT_TRUE(key[i] >= '1' && key[i] <= '9') << key;
        keys.insert(key);
    }
    EXPECT_GT(keys.size(), 1900u);
}

TEST_F(EnsightBinary, IndexFollowsTheSixWayTable) {
    // Digits at positions 1, 3, 5, 7, 8 are P, Q, R, S, T.
    EXPECT_EQ(scramble_index_of("2151416111"), (10 * 6 + 4) * 2);  // T < Q, Q + T even
    EXPECT_EQ(scramble_index_of("2151416211"), (10 * 4 + 2) * 6);  // T < Q, Q + T odd
    EXPECT_EQ(scramble_index_of("3141517411"), (10 * 4 + 7) * 3);  // T = Q, R + S even
    EXPECT_EQ(scramble_index_of("9131512311"), (10 * 9 + 5) * 3);  // T = Q, R + S odd
    EXPECT_EQ(scramble_index_of("1131517911"), (10 * 3 + 5) * 9);  // T > Q, P + T even
    EXPECT_EQ(scramble_index_of("1131517811"), (10 * 7 + 1) * 5);  // T > Q, P + T odd
    EXPECT_EQ(scramble_index_of("1131517812"), -1);
    // Every key of digits 1-9 lands inside the table.
    int low = 1000, high = -1;
    char key[11] = "1111111111";
    for (int p = 1; p <= 9; ++p)
        for (int q = 1; q <= 9; ++q)
            for (int r = 1; r <= 9; ++r)
                for (int s = 1; s <= 9; ++s)
                    for (int t = 1; t <= 9; ++t) {
                        key[0] = '0' + p, key[2] = '0' + q, key[4] = '0' + r;
                        key[6] = '0' + s, key[7] = '0' + t;
                        int index = scramble_index_of(key);
                        low = std::min(low, index);
                        high = std::max(high, index);
                    }
    EXPECT_EQ(low, 11);
    EXPECT_EQ(high, 891);
}

TEST_F(EnsightBinary, MaskTableIsFixed) {
    // Readers of scrambled files hold these values: a change would make old files unreadable.
    EXPECT_EQ(scramble_mask_of(0), 1738543978u);
    EXPECT_EQ(scramble_mask_of(11), 1269462817u);
    EXPECT_EQ(scramble_mask_of(500), 183250712u);
    EXPECT_EQ(scramble_mask_of(891), 513277618u);
    EXPECT_EQ(scramble_mask_of(999), 346114232u);
}

TEST_F(EnsightBinary, LongNamesAreCutAndEveryVariableKept) {
    small_surface();
    for (int k = 0; k < 20; ++k) extra_names.push_back("extra" + std::to_string(k));
    extra_names[3] = std::string(100, 'a');
    vertex_extra.assign(3 * extra_names.size(), 0.0);
    vertex_extra[3] = 4.5;  // vertex 0, extra 3
    write_ensight_binary(false, 1);
    commit_result_files();
    for (int k = 0; k < 20; ++k)
        EXPECT_TRUE(std::filesystem::exists("ensight/quorvel." + extra_names[k])) << k;
    std::string file = read_whole_file("ensight/quorvel." + extra_names[3]);
    Bytes expected;
    expected.record(std::string(79, 'a') + "\0"s, ' ').f32(4.5f).f32(-1).f32(-1);
    EXPECT_EQ(file, expected.data);
}

}  // namespace
