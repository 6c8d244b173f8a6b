// mapping/report.cpp: the mapping report's sums, checks and files.
#include "mapping/report.h"

#include "config/options.h"
#include "mapping/deposit.h"
#include "platform/fatal.h"
#include "platform/format.h"
#include "platform/io.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

std::vector<int> report_ids;
std::map<int, int> report_slot_of_id;
std::vector<std::uint64_t> report_data_bits;
std::vector<BoundaryTally> report_step_tally;
std::vector<StepRecord> report_steps;
std::vector<BoundaryTally> report_window;
double report_window_time = 0;
int report_fast_slot[max_boundaries];

const char* const report_csv_name = "quorvel_report.csv";
const char* const report_text_name = "quorvel_report.txt";
const char* const report_steps_name = "quorvel_steps.csv";

namespace {

constexpr double not_known = std::numeric_limits<double>::quiet_NaN();
// Thresholds of the checks, in percent.
constexpr double max_heat_rate_error_pct = 5.0;
constexpr double min_coverage_pct = 99.0;
constexpr double max_unmapped_pct = 1.0;

// Mapped samples with HTC 0 in the step in progress: (slot, triangle).
std::vector<std::pair<int, int>> zero_htc_hits;


double heron_area(const Triangle& tri) {
    auto distance = [](const Vertex& a, const Vertex& b) {
        double dx = a.x - b.x, dy = a.y - b.y, dz = a.z - b.z;
        return std::sqrt(dx * dx + dy * dy + dz * dz);
    };
    // The same sums in the same order as the map's area, so the two agree to the last bit.
    double a = distance(vertex_table[tri.vert[1]], vertex_table[tri.vert[2]]);
    double b = distance(vertex_table[tri.vert[0]], vertex_table[tri.vert[2]]);
    double c = distance(vertex_table[tri.vert[0]], vertex_table[tri.vert[1]]);
    double s = (a + b + c) / 2;
    return std::sqrt(s * (s - a) * (s - b) * (s - c));
}

// Boundary IDs ascending with their slots.
std::vector<std::pair<int, int>> sorted_slots() {
    return std::vector<std::pair<int, int>>(report_slot_of_id.begin(), report_slot_of_id.end());
}

void add_counts(BoundaryTally& to, const BoundaryTally& from) {
    to.samples += from.samples;
    to.mapped += from.mapped;
    to.missed += from.missed;
    to.refused += from.refused;
    to.zero_htc += from.zero_htc;
    to.zero_htc_lost += from.zero_htc_lost;
    to.distance_sum += from.distance_sum;
    to.max_distance = std::max(to.max_distance, from.max_distance);
}

// Sum of every slot: the "all" row of one step.
BoundaryTally step_total(const StepRecord& step) {
    BoundaryTally total;
    for (const BoundaryTally& b : step.tally) {
        add_counts(total, b);
        total.sample_area += b.sample_area;
        total.q_source += b.q_source;
        total.ha_source += b.ha_source;
        total.q_mapped += b.q_mapped;
        total.ha_mapped += b.ha_mapped;
    }
    return total;
}

const BoundaryTally& step_tally(const StepRecord& step, int slot) {
    static const BoundaryTally empty;
    return slot < static_cast<int>(step.tally.size()) ? step.tally[slot] : empty;
}

double mean_distance(const BoundaryTally& b) {
    return b.mapped > 0 ? b.distance_sum / static_cast<double>(b.mapped) : not_known;
}

double coverage_pct(const BoundaryTally& b) {
    if (b.triangles == 0) return not_known;
    if (b.area > 0) return 100.0 * b.area_initialized / b.area;
    return 100.0 * static_cast<double>(b.triangles_initialized) /
           static_cast<double>(b.triangles);
}

double unmapped_pct(long long unmapped, long long samples) {
    return samples > 0 ? 100.0 * static_cast<double>(unmapped) / static_cast<double>(samples)
                       : 0.0;
}

// A field of a CSV row: empty when not known.
std::string csv_real(double value) {
    return std::isfinite(value) ? format_string("%.9e", value) : std::string();
}
std::string csv_pct(double value) {
    return std::isfinite(value) ? format_string("%.6f", value) : std::string();
}

// Fixed-width fields of the text report.
std::string text_real(double value) {
    return std::isfinite(value) ? format_string("%14.6e", value) : format_string("%14s", "-");
}
std::string text_pct(double value) {
    return std::isfinite(value) ? format_string("%+11.2f", value) : format_string("%11s", "-");
}

std::string id_text(int id) { return format_string("%d", id); }

void open_report_file(OutFile& file, const char* name) {
    if (!open_result_file(file, name, LineEnd::crlf))
        fatal("ERROR: could not create report file %s\n", name);
}

void write_csv(const std::vector<std::pair<int, int>>& slots, const BoundaryTally& all) {
    OutFile file;
    open_report_file(file, report_csv_name);
    out_text(file,
             "boundary_id,samples,samples_mapped,samples_missed,samples_refused,samples_zero_htc,"
             "triangles,triangles_initialized,area_m2,sample_area_m2,q_source_W,q_mapped_W,"
             "q_error_pct,ha_source_W_per_K,ha_mapped_W_per_K,ha_error_pct,max_hit_distance_m,"
             "mean_hit_distance_m\n");
    auto row = [&](const std::string& id, const BoundaryTally& b) {
        out_format(file, "%s,%lld,%lld,%lld,%lld,%lld,%lld,%lld,%s,%s,%s,%s,%s,%s,%s,%s,%s,%s\n",
                   id.c_str(), b.samples, b.mapped, b.missed, b.refused, b.zero_htc, b.triangles,
                   b.triangles_initialized, csv_real(b.area).c_str(),
                   csv_real(b.sample_area).c_str(), csv_real(b.q_source).c_str(),
                   csv_real(b.q_mapped).c_str(),
                   csv_pct(report_error_pct(b.q_mapped, b.q_source)).c_str(),
                   csv_real(b.ha_source).c_str(), csv_real(b.ha_mapped).c_str(),
                   csv_pct(report_error_pct(b.ha_mapped, b.ha_source)).c_str(),
                   csv_real(b.mapped > 0 ? b.max_distance : not_known).c_str(),
                   csv_real(mean_distance(b)).c_str());
    };
    for (const auto& [id, slot] : slots) row(id_text(id), report_window[slot]);
    row("all", all);
    close_out_file(file);
}

void write_steps_csv(const std::vector<std::pair<int, int>>& slots,
                     const std::string& time_unit) {
    OutFile file;
    open_report_file(file, report_steps_name);
    out_format(file,
               "step,time_%s,interval_%s,boundary_id,samples,samples_mapped,samples_missed,"
               "samples_refused,samples_zero_htc,samples_zero_htc_lost,q_source_W,q_mapped_W,"
               "ha_source_W_per_K,ha_mapped_W_per_K\n",
               time_unit.c_str(), time_unit.c_str());
    int number = 1;
    for (const StepRecord& step : report_steps) {
        auto row = [&](const std::string& id, const BoundaryTally& b) {
            out_format(file, "%d,%s,%s,%s,%lld,%lld,%lld,%lld,%lld,%lld,%s,%s,%s,%s\n", number,
                       csv_real(step.time).c_str(), csv_real(step.interval).c_str(), id.c_str(),
                       b.samples, b.mapped, b.missed, b.refused, b.zero_htc, b.zero_htc_lost,
                       csv_real(b.q_source).c_str(), csv_real(b.q_mapped).c_str(),
                       csv_real(b.ha_source).c_str(), csv_real(b.ha_mapped).c_str());
        };
        for (const auto& [id, slot] : slots) row(id_text(id), step_tally(step, slot));
        row("all", step_total(step));
        ++number;
    }
    close_out_file(file);
}

// The step with the largest heat-rate error, and the one with the most samples not mapped.
struct StepExtremes {
    int worst_error_step = -1;
    double worst_error = 0;
    int most_unmapped_step = -1;
    long long most_unmapped = 0;
};

template <typename TallyOf>
StepExtremes find_extremes(TallyOf tally_of) {
    StepExtremes e;
    for (int k = 0; k < static_cast<int>(report_steps.size()); ++k) {
        BoundaryTally b = tally_of(report_steps[k]);
        double error = report_error_pct(b.q_mapped, b.q_source);
        if (std::isfinite(error) &&
            (e.worst_error_step < 0 || std::fabs(error) > std::fabs(e.worst_error))) {
            e.worst_error_step = k;
            e.worst_error = error;
        }
        long long unmapped = b.missed + b.refused;
        if (unmapped > e.most_unmapped) {
            e.most_unmapped_step = k;
            e.most_unmapped = unmapped;
        }
    }
    return e;
}

void write_text(const std::vector<std::pair<int, int>>& slots, const BoundaryTally& all,
                const std::string& time_unit) {
    OutFile file;
    open_report_file(file, report_text_name);
    const char* unit = time_unit.c_str();
    out_text(file, "Mapping report\n\n");
    if (report_steps.empty()) {
        out_text(file, "Window: no step was used.\n");
    } else {
        out_format(file, "Window: %d steps from %e to %e %s, %e %s in all\n",
                   static_cast<int>(report_steps.size()),
                   report_steps.front().time - report_steps.front().interval,
                   report_steps.back().time, unit, report_window_time, unit);
    }
    bool convective = settings.use_convective_ht == 1;
    out_format(file, "Columns mapped: %s and %s (HTC limited to %e)\n",
               convective ? "FLUX_CONV" : "FLUX", convective ? "HTC_CONV" : "HTC",
               settings.max_htc);
    out_text(file,
             "Sample counts are summed over the steps; sample heat rates and areas are time "
             "averages over the window;\nmapped heat rates are sums of flux x area (htc x area) "
             "over the initialized triangles of the final map.\n\n");

    std::vector<std::pair<std::string, const BoundaryTally*>> rows;
    for (const auto& [id, slot] : slots) rows.emplace_back(id_text(id), &report_window[slot]);
    rows.emplace_back("all", &all);

    out_text(file, "Samples and triangles\n");
    out_format(file, "%-8s %10s %10s %10s %10s %10s %10s %10s %10s %10s\n", "boundary", "samples",
               "mapped", "missed", "refused", "zero_htc", "htc0_lost", "triangles", "init",
               "cover_%");
    for (const auto& [id, b] : rows) {
        double cover = coverage_pct(*b);
        out_format(file, "%-8s %10lld %10lld %10lld %10lld %10lld %10lld %10lld %10lld %10s\n",
                   id.c_str(), b->samples, b->mapped, b->missed, b->refused, b->zero_htc,
                   b->zero_htc_lost, b->triangles, b->triangles_initialized,
                   std::isfinite(cover) ? format_string("%.2f", cover).c_str() : "-");
    }

    out_text(file, "\nHeat rates and areas\n");
    out_format(file, "%-8s %14s %14s %14s %14s %11s %14s %14s %11s\n", "boundary", "area_m2",
               "sample_area_m2", "q_source_W", "q_mapped_W", "q_error_%", "ha_source_W/K",
               "ha_mapped_W/K", "ha_error_%");
    for (const auto& [id, b] : rows) {
        out_format(file, "%-8s %s %s %s %s %s %s %s %s\n", id.c_str(), text_real(b->area).c_str(),
                   text_real(b->sample_area).c_str(), text_real(b->q_source).c_str(),
                   text_real(b->q_mapped).c_str(),
                   text_pct(report_error_pct(b->q_mapped, b->q_source)).c_str(),
                   text_real(b->ha_source).c_str(), text_real(b->ha_mapped).c_str(),
                   text_pct(report_error_pct(b->ha_mapped, b->ha_source)).c_str());
    }

    out_text(file, "\nHit distances of the mapped samples\n");
    out_format(file, "%-8s %14s %14s\n", "boundary", "max_m", "mean_m");
    for (const auto& [id, b] : rows)
        out_format(file, "%-8s %s %s\n", id.c_str(),
                   text_real(b->mapped > 0 ? b->max_distance : not_known).c_str(),
                   text_real(mean_distance(*b)).c_str());

    out_format(file, "\nPer-step extremes (times in %s)\n", unit);
    out_format(file, "%-8s %14s %11s %14s %10s\n", "boundary", "worst_q_step", "q_error_%",
               "most_misses", "unmapped");
    auto extremes_row = [&](const std::string& id, const StepExtremes& e) {
        std::string worst = e.worst_error_step < 0
                                ? format_string("%14s %11s", "-", "-")
                                : format_string("%14.6e %+11.2f",
                                                report_steps[e.worst_error_step].time,
                                                e.worst_error);
        std::string misses = e.most_unmapped_step < 0
                                 ? format_string("%14s %10d", "-", 0)
                                 : format_string("%14.6e %10lld",
                                                 report_steps[e.most_unmapped_step].time,
                                                 e.most_unmapped);
        out_format(file, "%-8s %s %s\n", id.c_str(), worst.c_str(), misses.c_str());
    };
    for (const auto& [id, slot] : slots)
        extremes_row(id_text(id), find_extremes([slot = slot](const StepRecord& step) {
                         return step_tally(step, slot);
                     }));
    extremes_row("all", find_extremes([](const StepRecord& step) { return step_total(step); }));

    if (settings.mapping_method == 1) write_deposit_section(file);

    out_text(file, "\nVerdicts\n");
    for (const auto& [id, b] : rows) {
        std::string reasons = report_verdict(*b);
        std::string name = id == "all" ? std::string("all boundaries") : "boundary " + id;
        if (reasons.empty())
            out_format(file, "%s: OK\n", name.c_str());
        else
            out_format(file, "%s: WARNING: %s\n", name.c_str(), reasons.c_str());
    }
    close_out_file(file);
}

BoundaryTally window_total() {
    BoundaryTally all;
    for (const BoundaryTally& b : report_window) {
        add_counts(all, b);
        all.triangles += b.triangles;
        all.triangles_initialized += b.triangles_initialized;
        all.area += b.area;
        all.area_initialized += b.area_initialized;
        all.sample_area += b.sample_area;
        all.q_source += b.q_source;
        all.ha_source += b.ha_source;
        all.q_mapped += b.q_mapped;
        all.ha_mapped += b.ha_mapped;
    }
    return all;
}

}  // namespace

int report_slot(int boundary_id) {
    auto found = report_slot_of_id.find(boundary_id);
    int slot;
    if (found != report_slot_of_id.end()) {
        slot = found->second;
    } else {
        slot = static_cast<int>(report_ids.size());
        report_ids.push_back(boundary_id);
        report_slot_of_id.emplace(boundary_id, slot);
        report_step_tally.resize(report_ids.size());
    }
    if (boundary_id >= 0 && boundary_id < max_boundaries) report_fast_slot[boundary_id] = slot + 1;
    return slot;
}

void report_start_run() {
    for (int& slot : report_fast_slot) slot = 0;
    report_ids.clear();
    report_slot_of_id.clear();
    report_step_tally.clear();
    report_steps.clear();
    report_window.clear();
    report_window_time = 0;
    zero_htc_hits.clear();
    // Slots in triangle order first, as the files list them.
    for (std::size_t t = 0; t < triangle_table.size(); ++t) {
        report_slot_of(triangle_geometry[t].boundary_id);
        triangle_table[t].area = heron_area(triangle_table[t]);
    }
    report_data_bits.assign((triangle_table.size() + 63) / 64, 0);
}

void report_clear_step() {
    for (BoundaryTally& b : report_step_tally) b = BoundaryTally{};
    zero_htc_hits.clear();
    std::fill(report_data_bits.begin(), report_data_bits.end(), 0);
}

void report_zero_htc_hit(int slot, int triangle) { zero_htc_hits.emplace_back(slot, triangle); }

bool report_ready() { return report_data_bits.size() == (triangle_table.size() + 63) / 64; }

void report_end_step(double time, double interval) {
    for (const auto& [slot, t] : zero_htc_hits) {
        bool kept = t < static_cast<int>(triangle_table.size()) &&
                    (report_data_bits[static_cast<unsigned>(t) / 64] >> (t % 64) & 1) != 0;
        if (!kept) ++report_step_tally[slot].zero_htc_lost;
    }
    zero_htc_hits.clear();
    report_steps.push_back(StepRecord{time, interval, report_step_tally});
    report_window_time += interval;
    report_clear_step();
}

void report_finish_window() {
    report_window.assign(report_ids.size(), BoundaryTally{});
    double window = report_window_time;
    for (const StepRecord& step : report_steps) {
        for (int slot = 0; slot < static_cast<int>(step.tally.size()); ++slot) {
            const BoundaryTally& b = step.tally[slot];
            BoundaryTally& w = report_window[slot];
            add_counts(w, b);
            w.sample_area += step.interval * b.sample_area;
            w.q_source += step.interval * b.q_source;
            w.ha_source += step.interval * b.ha_source;
        }
    }
    for (BoundaryTally& w : report_window) {
        // A window of no length has no time average.
        if (window > 0) {
            w.sample_area /= window;
            w.q_source /= window;
            w.ha_source /= window;
        } else {
            w.sample_area = w.q_source = w.ha_source = not_known;
        }
    }
    // The final averages leave an area only where the map shows one: the surface's is worked
    // out again, by the same operations.
    const std::size_t count = report_ready() ? triangle_table.size() : 0;
    for (std::size_t t = 0; t < count; ++t) {
        const Triangle& tri = triangle_table[t];
        const double area = heron_area(tri);
        BoundaryTally& w = report_window[report_slot_of(triangle_geometry[t].boundary_id)];
        ++w.triangles;
        w.area += area;
        if (tri.initialized != 1) continue;
        ++w.triangles_initialized;
        w.area_initialized += area;
        w.q_mapped += tri.flux * area;
        w.ha_mapped += tri.htc * area;
    }
}

double report_error_pct(double mapped, double source) {
    if (!std::isfinite(source) || source == 0) return not_known;
    return 100.0 * (mapped / source - 1.0);
}

std::string report_verdict(const BoundaryTally& b) {
    std::vector<std::string> reasons;
    double error = report_error_pct(b.q_mapped, b.q_source);
    if (std::isfinite(error) && std::fabs(error) > max_heat_rate_error_pct)
        reasons.push_back(format_string("heat rate error %+.2f %% (limit 5 %%)", error));
    else if (!std::isfinite(error) && b.q_mapped != 0)
        reasons.push_back(format_string("heat rate %e W mapped where the samples carry none",
                                        b.q_mapped));
    double cover = coverage_pct(b);
    if (std::isfinite(cover) && cover < min_coverage_pct)
        reasons.push_back(format_string("coverage %.2f %% of the area (limit 99 %%)", cover));
    double unmapped = unmapped_pct(b.missed + b.refused, b.samples);
    if (unmapped > max_unmapped_pct)
        reasons.push_back(format_string(
            "%.2f %% of the samples not mapped, %lld missed and %lld refused (limit 1 %%)",
            unmapped, b.missed, b.refused));
    if (b.zero_htc_lost > 0)
        reasons.push_back(
            format_string("%lld samples with HTC 0 lost their flux", b.zero_htc_lost));
    std::string text;
    for (const std::string& reason : reasons) {
        if (!text.empty()) text += "; ";
        text += reason;
    }
    return text;
}

void write_report_files(const std::string& time_unit) {
    if (report_window.size() != report_ids.size()) report_finish_window();
    std::vector<std::pair<int, int>> slots = sorted_slots();
    BoundaryTally all = window_total();
    write_csv(slots, all);
    write_text(slots, all, time_unit);
    write_steps_csv(slots, time_unit);
}

void print_report_summary() {
    say("Mapping report: %s, %s and %s\n", report_csv_name, report_text_name, report_steps_name);
    BoundaryTally all = window_total();
    double total_error = report_error_pct(all.q_mapped, all.q_source);
    std::string error_text =
        std::isfinite(total_error) ? format_string("%+.2f %%", total_error) : std::string("n/a");
    say("Total heat rate: %e W from the samples, %e W mapped, error %s\n",
        std::isfinite(all.q_source) ? all.q_source : 0.0, all.q_mapped, error_text.c_str());
    // Worst: the largest heat-rate error; heat where the samples carry none beats any.
    int worst_id = 0;
    double worst = -1;
    bool found = false;
    for (const auto& [id, slot] : sorted_slots()) {
        const BoundaryTally& b = report_window[slot];
        double error = report_error_pct(b.q_mapped, b.q_source);
        double size = std::isfinite(error) ? std::fabs(error)
                      : b.q_mapped != 0    ? std::numeric_limits<double>::infinity()
                                           : -1;
        if (size > worst) {
            worst = size;
            worst_id = id;
            found = true;
        }
    }
    if (!found) {
        say("Worst boundary: none (no boundary has a heat rate to compare)\n");
    } else {
        const BoundaryTally& b = report_window[report_slot_of_id[worst_id]];
        double error = report_error_pct(b.q_mapped, b.q_source);
        if (std::isfinite(error))
            say("Worst boundary: %d, heat rate error %+.2f %%\n", worst_id, error);
        else
            say("Worst boundary: %d, %e W mapped where the samples carry none\n", worst_id,
                b.q_mapped);
    }
    for (const auto& [id, slot] : sorted_slots()) {
        std::string reasons = report_verdict(report_window[slot]);
        if (!reasons.empty()) say("WARNING: boundary %d: %s\n", id, reasons.c_str());
    }
}
