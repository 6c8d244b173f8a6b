// Line helpers and the good paths of the options reader; every error path is an
// end-to-end case, since it ends the process.
#include "config/options.h"
#include "platform/fatal.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// The counted lines of `text`; `copies` keeps their text, since the reader's buffer goes
// with it.
std::vector<InputLine> counted_lines(std::string_view text, std::vector<std::string>& copies) {
    LineReader in;
    open_memory_reader(in, text, "memory");
    InputLine line;
    std::vector<InputLine> lines;
    while (next_input_line(in, line)) {
        copies.emplace_back(line.text);
        lines.push_back(line);
    }
    EXPECT_TRUE(line.text.empty());
    for (std::size_t i = 0; i < lines.size(); ++i) lines[i].text = copies[i];
    return lines;
}

TEST(NextInputLine, SkipsBlankAndCommentLinesAndCutsInlineComments) {
    std::vector<std::string> text;
    auto lines = counted_lines("\n   \t\n# heading\n  ! note\n0.001 tolerance ! mm\n"
                               "0.001#x tolerance\n2 grow_mult\nlast line",
                               text);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(text[0], "0.001 tolerance ");
    EXPECT_FALSE(lines[0].has_line_end);  // the cut took the line end with it
    EXPECT_EQ(text[1], "0.001");
    EXPECT_EQ(text[2], "2 grow_mult");
    EXPECT_TRUE(lines[2].has_line_end);
    EXPECT_EQ(text[3], "last line");
    EXPECT_FALSE(lines[3].has_line_end);  // no final line feed
}

TEST(NextInputLine, CrLfReadsLikeLf) {
    std::vector<std::string> lf_text, crlf_text;
    auto lf = counted_lines("a b\n\n# c\nd e ! f\ng\n", lf_text);
    auto crlf = counted_lines("a b\r\n\r\n# c\r\nd e ! f\r\ng\r\n", crlf_text);
    EXPECT_EQ(lf_text, crlf_text);
    ASSERT_EQ(lf.size(), crlf.size());
    for (std::size_t i = 0; i < lf.size(); ++i) EXPECT_EQ(lf[i].has_line_end, crlf[i].has_line_end);
}

TEST(NextInputLine, LongLineIsOneLine) {
    std::string long_line = "0.5" + std::string(5000, ' ') + "tolerance";
    std::vector<std::string> text;
    auto lines = counted_lines(long_line + "\n" + std::string(3000, 'n') + " name\n", text);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_DOUBLE_EQ(read_real_keyword_line(&lines[0], "tolerance"), 0.5);
    EXPECT_EQ(read_name_keyword_line(&lines[1]), std::string(3000, 'n'));
}

TEST(CommentStart, FirstBangOrHash) {
    EXPECT_EQ(comment_start("0.001 tolerance"), -1);
    EXPECT_EQ(comment_start("a!b#c"), 1);
    EXPECT_EQ(comment_start("a#b!c"), 1);
    EXPECT_EQ(comment_start("#"), 0);
}

TEST(KeywordLines, ConvertLenientlyAndIgnoreFurtherWords) {
    InputLine line;
    line.text = "1.5e3 max_htc and more";
    EXPECT_DOUBLE_EQ(read_real_keyword_line(&line, "max_htc"), 1500.0);
    line.text = "abc tolerance";
    EXPECT_DOUBLE_EQ(read_real_keyword_line(&line, "tolerance"), 0.0);
    line.text = "\t2.7\tgrow_mult";
    EXPECT_EQ(read_int_keyword_line(&line, "grow_mult"), 2);
    line.text = "-3x boundary";
    EXPECT_EQ(read_int_keyword_line(&line, "boundary"), -3);
    line.text = "head name extra";
    EXPECT_EQ(read_name_keyword_line(&line), "head");
}

TEST(OrderLine, StoresUpperCasedNamesAndRunsCallbackOnce) {
    struct Case {
        const char* line;
        std::vector<std::string> names;
    } cases[] = {
        {"Rx-sc-TZ-ty-rz-tx-ry orderofoperations", {"RX", "SC", "TZ", "TY", "RZ", "TX", "RY"}},
        {"sc-sc-sc-sc-sc-sc-sc orderofoperations", {"SC", "SC", "SC", "SC", "SC", "SC", "SC"}},
        {"sc-rx-ry-rz-tx-ty-tz-sc orderofoperations", {"SC", "RX", "RY", "RZ", "TX", "TY", "TZ"}},
        {"sc--rx-ry-rz-tx-ty-tz\torderofoperations", {"SC", "RX", "RY", "RZ", "TX", "TY", "TZ"}},
    };
    for (const Case& c : cases) {
        InputLine line;
        line.text = c.line;
        OperationOrder order;
        int calls = 0;
        read_order_line(&line, order, [](void* count) { ++*static_cast<int*>(count); }, &calls);
        EXPECT_EQ(calls, 1) << c.line;
        for (int i = 0; i < 7; ++i) EXPECT_EQ(order.name[i], c.names[i]) << c.line;
    }
}

TEST(ToUpperInPlace, UpperCasesEveryLetter) {
    std::string text = "sc-Rx_9z";
    to_upper_in_place(text);
    EXPECT_EQ(text, "SC-RX_9Z");
}

// Runs the reader on `text` as htc_inputs.in in a scratch directory; returns what it said.
std::string read_options(const std::string& text) {
    namespace fs = std::filesystem;
    std::string dir_template = (fs::temp_directory_path() / "quorvel-options-XXXXXX").string();
    if (!mkdtemp(dir_template.data())) return "mkdtemp failed";
    fs::path old = fs::current_path();
    fs::current_path(dir_template);
    std::FILE* file = std::fopen("htc_inputs.in", "wb");
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
    flush_say();
    testing::internal::CaptureStdout();
    read_options_file("surface.dat");
    flush_say();
    std::string said = testing::internal::GetCapturedStdout();
    fs::current_path(old);
    fs::remove_all(dir_template);
    return said;
}

const char* const bare_options =
    "0.001 tolerance\n2.7 grow_mult\n1.5 scale_xyz\n10 rot_angle_x\n-45 rot_angle_y\n"
    "90 rot_angle_z\n1 trans_x\n2 trans_y\n3 trans_z\ntx-ty-tz-rx-ry-rz-sc orderofoperations\n"
    "0 read_abaqus\n1e6 max_htc\n2 enforce_boundID_match\n1 hit_location_output_files\n"
    "1 map_additional_variables\n1 use_convective_ht\n1 ensight_outputfiles\n"
    "2 gmv_outputfiles\n-1 fieldview_outputfiles\n2 dedicatedboundaryoutputfiles\n"
    "head name\n3 numboundaries\n1 boundary\n2 boundary\n3 boundary\nliner name\n"
    "0 numboundaries\n0.25 start_time\n720 end_time\n1 startoption\n2 num_valve_entries\n"
    "3 7 9\n4 5\n";

TEST(ReadOptionsFile, ReadsEveryKeyInOrder) {
    std::string said = read_options(bare_options);
    EXPECT_EQ(said, "Only enforcing boundary ID match for boundary ID 1 (piston)\n");
    const MapSettings& s = settings;
    EXPECT_DOUBLE_EQ(s.tolerance, 0.001);
    EXPECT_EQ(s.grow_mult, 2.0);
    EXPECT_DOUBLE_EQ(s.scale_xyz, 1.5);
    EXPECT_DOUBLE_EQ(s.rot_angle_x, 10 * 3.141592654 / 180);
    EXPECT_DOUBLE_EQ(s.rot_angle_y, -45 * 3.141592654 / 180);
    EXPECT_DOUBLE_EQ(s.rot_angle_z, 1.570796327);
    EXPECT_EQ(s.trans_x, 1);
    EXPECT_EQ(s.trans_y, 2);
    EXPECT_EQ(s.trans_z, 3);
    EXPECT_EQ(operation_order.name[0], "TX");
    EXPECT_EQ(operation_order.name[6], "SC");
    EXPECT_EQ(s.read_abaqus, 0);
    EXPECT_EQ(s.use_elset, 0);
    EXPECT_TRUE(s.surface_names.empty());
    EXPECT_DOUBLE_EQ(s.max_htc, 1e6);
    EXPECT_EQ(s.enforce_boundID_match, 2);
    EXPECT_EQ(s.hit_location_output_files, 1);
    EXPECT_EQ(s.map_additional_variables, 1);
    EXPECT_EQ(s.use_convective_ht, 1);
    EXPECT_EQ(s.ensight_outputfiles, 1);
    EXPECT_EQ(s.gmv_outputfiles, 2);
    EXPECT_EQ(s.fieldview_outputfiles, -1);
    ASSERT_EQ(s.dedicatedboundaryoutputfiles, 2);
    ASSERT_EQ(s.boundary_groups.size(), 2u);
    EXPECT_EQ(s.boundary_groups[0].name, "head");
    EXPECT_EQ(s.boundary_groups[0].boundary, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(s.boundary_groups[1].name, "liner");
    EXPECT_EQ(s.boundary_groups[1].numboundaries, 0);
    EXPECT_TRUE(s.boundary_groups[1].boundary.empty());
    EXPECT_DOUBLE_EQ(s.start_time, 0.25);
    EXPECT_DOUBLE_EQ(s.end_time, 720);
    EXPECT_EQ(s.startoption, 1);
    ASSERT_EQ(s.valve_entries.size(), 2u);
    EXPECT_EQ(s.valve_entries[0].first, 3);
    EXPECT_EQ(s.valve_entries[0].second, 7);
    EXPECT_EQ(s.valve_entries[1].first, 4);
    EXPECT_EQ(s.valve_entries[1].second, 5);
}

TEST(ReadOptionsFile, CommentsBlankLinesAndCrLfReadLikeTheBareFile) {
    read_options(bare_options);
    MapSettings bare = settings;
    // Every line gets an inline comment and CR LF, with comment and blank lines between.
    std::string decorated = "# options for the test\r\n\r\n";
    std::string_view rest = bare_options;
    while (!rest.empty()) {
        std::size_t end = rest.find('\n');
        decorated.append(rest.substr(0, end));
        decorated += " ! comment\r\n  ! comment line\r\n\t\r\n";
        rest.remove_prefix(end + 1);
    }
    read_options(decorated);
    EXPECT_EQ(settings.tolerance, bare.tolerance);
    EXPECT_EQ(settings.rot_angle_y, bare.rot_angle_y);
    EXPECT_EQ(settings.boundary_groups.size(), bare.boundary_groups.size());
    EXPECT_EQ(settings.boundary_groups[0].boundary, bare.boundary_groups[0].boundary);
    EXPECT_EQ(settings.valve_entries.size(), bare.valve_entries.size());
    EXPECT_EQ(settings.startoption, bare.startoption);
}

TEST(ReadOptionsFile, AbaqusBlockAndListsBeyondTheOldLimits) {
    const std::string head =
        "0.001 tolerance\n2 grow_mult\n1 scale_xyz\n0 rot_angle_x\n0 rot_angle_y\n"
        "0 rot_angle_z\n0 trans_x\n0 trans_y\n0 trans_z\nsc-rx-ry-rz-tx-ty-tz orderofoperations\n";
    const std::string tail_before_groups =
        "1e6 max_htc\n0 enforce_boundID_match\n0 hit_location_output_files\n"
        "0 map_additional_variables\n0 use_convective_ht\n0 ensight_outputfiles\n"
        "0 gmv_outputfiles\n0 fieldview_outputfiles\n";
    const std::string tail_after_groups =
        "0 start_time\n1 end_time\n0 startoption\n0 num_valve_entries\n";

    // read_abaqus 1 with num_surface 0: no name lines, no use_elset line.
    std::string said = read_options(head + "1 read_abaqus\n0 num_surface\n" + tail_before_groups +
                                    "0 dedicatedboundaryoutputfiles\n" + tail_after_groups);
    EXPECT_EQ(said, "Boundary ID matching will not be checked during mapping\n");
    EXPECT_EQ(settings.read_abaqus, 1);
    EXPECT_EQ(settings.num_surface, 0);
    EXPECT_EQ(settings.use_elset, 0);

    // Counts below zero mean the block is absent, as zero does.
    read_options(head + "1 read_abaqus\n-2 num_surface\n" + tail_before_groups +
                 "-1 dedicatedboundaryoutputfiles\n0 start_time\n1 end_time\n0 startoption\n"
                 "-3 num_valve_entries\n");
    EXPECT_TRUE(settings.surface_names.empty());
    EXPECT_EQ(settings.use_elset, 0);
    EXPECT_TRUE(settings.boundary_groups.empty());
    EXPECT_TRUE(settings.valve_entries.empty());

    // 150 surfaces, one with a 5000-character name, one with the boundary ID 0 and one with
    // 2 as a third word, and a group of 150 boundaries.
    std::string surfaces = "2 read_abaqus\n150 num_surface\n";
    for (int i = 0; i < 150; ++i)
        surfaces += (i == 7 ? std::string(5000, 'S') : "surface_" + std::to_string(i)) +
                    (i == 3 ? " name 0\n" : i == 40 ? " name\t2 ! as the CFD numbers it\n" : " name\n");
    surfaces += "1 use_elset\n";
    std::string group = "1 dedicatedboundaryoutputfiles\nmany name\n150 numboundaries\n";
    for (int i = 0; i < 150; ++i) group += std::to_string(i) + " boundary\n";
    read_options(head + surfaces + tail_before_groups + group + tail_after_groups);
    EXPECT_EQ(settings.read_abaqus, 2);
    ASSERT_EQ(settings.surface_names.size(), 150u);
    EXPECT_EQ(settings.surface_names[7], std::string(5000, 'S'));
    EXPECT_EQ(settings.surface_names[149], "surface_149");
    ASSERT_EQ(settings.surface_ids.size(), 150u);
    EXPECT_EQ(settings.surface_ids[0], 1);
    EXPECT_EQ(settings.surface_ids[3], 0);
    EXPECT_EQ(settings.surface_ids[40], 2);
    EXPECT_EQ(settings.surface_ids[149], 150);
    EXPECT_EQ(settings.use_elset, 1);
    ASSERT_EQ(settings.boundary_groups.size(), 1u);
    ASSERT_EQ(settings.boundary_groups[0].boundary.size(), 150u);
    EXPECT_EQ(settings.boundary_groups[0].boundary[149], 149);
}

TEST(ReadOptionsFile, PrintsTheMatchingMode) {
    std::string text = bare_options;
    std::size_t at = text.find("2 enforce_boundID_match");
    text[at] = '1';
    EXPECT_EQ(read_options(text),
              "Boundary ID matching will be enforced\n"
              "Boundary ID in surface files MUST match boundary IDs in Kelvora surface file\n");
    text[at] = '0';
    EXPECT_EQ(read_options(text), "Boundary ID matching will not be checked during mapping\n");
}

TEST(ReadOptionsFile, ExtensionLinesAfterTheSequence) {
    // Without them every extension setting keeps its default and nothing more is said.
    std::string base_said = read_options(bare_options);
    EXPECT_EQ(settings.mapping_method, 0);
    EXPECT_EQ(settings.film_output, 0);
    EXPECT_EQ(settings.model_units, 0);

    // Any order, comments and CR LF as elsewhere; notes that are no setting are passed over
    // with a warning naming the line (old files carry such notes).
    std::string said = read_options(std::string(bare_options) +
                                    "# extension settings\r\n1 mapping_method ! deposit\r\n"
                                    "see the wiki for these values\nlonely\n"
                                    "1 model_units\n2 film_output\n");
    EXPECT_EQ(settings.mapping_method, 1);
    EXPECT_EQ(settings.film_output, 2);
    EXPECT_EQ(settings.model_units, 1);
    EXPECT_EQ(said, base_said +
                        "Warning, htc_inputs.in line 36: \"see the wiki for these values\" is not a known extension "
                        "setting, the line is not read.\n"
                        "Warning, htc_inputs.in line 37: \"lonely\" is not a known extension "
                        "setting, the line is not read.\n");
}

}  // namespace
