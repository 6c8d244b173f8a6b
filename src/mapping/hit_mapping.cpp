// mapping/hit_mapping.cpp: direct hits, neighbour growth, empty triangles, the per-step
// diagnostic point files and the step summary.
#include "mapping/hit_mapping.h"

#include "config/options.h"
#include "mapping/report.h"
#include "mapping/transfer.h"
#include "platform/fatal.h"
#include "platform/format.h"
#include "platform/system.h"
#include "platform/threads.h"
#include "surface/locate.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

std::vector<TriangleStep> triangle_step;
std::vector<std::uint8_t> triangle_hit_state;
std::vector<double> triangle_step_extra;
StepCounts step_counts;
bool growth_plans_allowed = true;

namespace {

// Sized once for the surface, so a step allocates nothing.
std::vector<int> hit_chain;        // directly hit triangles in order of first hit
// In order of first growth; in index order when a plan did the growth (only the grown
// points file, which no plan serves, lists them).
std::vector<int> grown_triangles;
// Whether grown_triangles lists the targets of the plan as it stands, as a still wall's
// steps leave it.
bool grown_are_plan_targets = false;
// Triangles hit in earlier steps whose values are not cleared yet (see clear_step).
std::vector<int> stale_hits;
// A triangle's state while it still holds an earlier step's values from a direct hit.
constexpr std::uint8_t hit_before = 3;
// Pool index of each sample that hit, in pool order; kept only for the hit file, it grows
// to the largest block once.
std::vector<int> hit_samples;

// A step computes before it applies: where each sample lies and how far each origin's data
// reaches are pure answers, found on every core into tables of their own; one thread then
// adds them up in the order a single thread always has, so sums, counters, lists and
// messages do not depend on the thread count.
//
// Both answers are kept from step to step: a wall that does not move sends the same
// samples every block, and its answers are the same.

// One pool record's location: the question (position and boundary ID, compared bit for
// bit) and its answer.
struct LocatedSample {
    double position[3];
    double distance;
    int bound_id;
    int triangle;
};
std::vector<LocatedSample> located;  // per pool record; a record with no answer yet is NaN

// An origin's search: every triangle it reaches and the refusals it met, stored as runs of
// consecutive triangle indices in varints (in index order, a disc of a fine surface is a
// few runs; in the search's order while the grown points file is written). An entry holds
// while the origin's reach is the same bits as when it was stored: the entry starts with
// them.
constexpr std::uint32_t not_stored = 0xffffffff;
std::vector<std::uint32_t> stored_search;  // per triangle, where its entry begins
std::vector<std::uint8_t> search_store;
// The store is emptied whenever it would outgrow this; the answers are found again.
std::size_t search_store_limit = 0;

// Whether the last step that searched replayed a quarter of its origins from the store, and
// the steps since the store last took searches.
bool stored_were_replayed = false;
// The empty triangles as grow_from_hits counted them, while no one changed a step value since.
bool empty_known = false;
int known_empty_count = 0;
int steps_since_stored = 1000;
int store_interval = 1;

// Each worker's scratch for the growth search.
struct SearchScratch {
    // Stamp of the search that last saw a triangle: 16 bits, a table cleared every 65535
    // searches, for half the room of a surface-sized table per worker.
    std::vector<std::uint16_t> mark;
    std::uint16_t stamp = 0;
    std::vector<int> found;  // the searches of one batch, one after another
    std::vector<std::uint64_t> window;  // sort_found's bits, all clear between calls
    std::vector<std::uint8_t> encoded;  // the batch's searches as store entries
};
std::vector<SearchScratch> search_scratch;

// A search's triangles in index order. They are distinct and, on a surface numbered with
// any locality, close together: as bits in a window of indices they come out sorted with
// no comparisons. Spread far apart, they are sorted as usual.
void sort_found(int* first, int* last, std::vector<std::uint64_t>& window) {
    constexpr int window_words = 512;
    if (last - first < 2) return;
    const auto [low, high] = std::minmax_element(first, last);
    const int base = *low & ~63;
    const int words = ((*high - base) >> 6) + 1;
    if (words > window_words) {
        std::sort(first, last);
        return;
    }
    // The window's bits, and after them one bit per word of it that holds any.
    constexpr int summary_words = window_words / 64;
    if (window.size() != window_words + summary_words) window.assign(window_words + summary_words, 0);
    std::uint64_t* bits = window.data();
    std::uint64_t* summary = bits + window_words;
    auto set = [&](int n) {
        const int offset = n - base;
        bits[offset >> 6] |= std::uint64_t{1} << (offset & 63);
        summary[offset >> 12] |= std::uint64_t{1} << ((offset >> 6) & 63);
    };
    // Neighbours in the search's order share a word: taken from four places at once, the
    // updates of one word are not each waiting on the one before.
    const std::ptrdiff_t count = last - first, quarter = count / 4;
    for (std::ptrdiff_t k = 0; k < quarter; ++k) {
        set(first[k]);
        set(first[k + quarter]);
        set(first[k + 2 * quarter]);
        set(first[k + 3 * quarter]);
    }
    for (std::ptrdiff_t k = 4 * quarter; k < count; ++k) set(first[k]);
    int* out = first;
    for (int s = 0; s <= (words - 1) >> 6; ++s) {
        for (std::uint64_t used = summary[s]; used != 0; used &= used - 1) {
            const int w = (s << 6) + __builtin_ctzll(used);
            for (std::uint64_t word = bits[w]; word != 0; word &= word - 1)
                *out++ = base + (w << 6) + __builtin_ctzll(word);
            bits[w] = 0;
        }
        summary[s] = 0;
    }
}

// The result of one search in a batch.
struct BatchSearch {
    int origin;
    int worker;
    int begin, count;  // in that worker's `found`
    int blocked;
    std::size_t entry_begin, entry_size;  // in that worker's `encoded`, when asked for
};

// Settings a stored answer depends on: a change empties the stores.
struct AnswerKey {
    double tolerance = 0, grow_mult = 0;
    int enforce = 0;
    std::uint64_t epoch = 0;
    bool operator==(const AnswerKey&) const = default;
};
AnswerKey stored_key;
std::uint64_t surface_epoch = 0;  // moves on whenever the step tables are prepared

const char* const directory_name = "detailedoutput";

// The point files list the newest point first.
template <typename Position>
void write_newest_first(const std::string& name, const std::vector<int>& items,
                        Position position) {
    OutFile file;
    open_point_file(file, name, static_cast<int>(items.size()));
    int number = 1;
    for (auto it = items.rbegin(); it != items.rend(); ++it, ++number) {
        const double* p = position(*it);
        out_format(file, "%d %e %e %e\n", number, p[0], p[1], p[2]);
    }
    close_point_file(file);
}

std::string point_file_name(const char* pattern, double time) {
    return format_string(pattern, time);
}

void add_sample(int t, int s, double time, const std::string& time_unit) {
    const CellDataPoint& sample = sample_pool[s];
    TriangleStep& step = triangle_step[t];
    double area = sample.area;
    step.step_weight += area;
    bool convective = settings.use_convective_ht == 1;
    double h = htc_of_sample(s);
    double q = flux_of_sample(s);
    if (h > settings.max_htc) {
        say(convective ? "warning: setting max htc value to %f at time %f %s: htc_conv = %f, "
                         "area = %e, at %e %e %e \n"
                       : "warning: setting max htc value to %f at time %f %s: htc = %f, "
                         "area = %e, at %e %e %e \n",
            settings.max_htc, time, time_unit.c_str(), h, area, sample.position[0],
            sample.position[1], sample.position[2]);
        h = settings.max_htc;
    }
    step.step_flux += q * area;
    step.step_htc += h * area;
    step.step_fluid_temp += h * sample.fluid_temp * area;
    step.step_boundary_temp += h * sample.boundary_temp * area;
    step.step_yplus += sample.yplus * area;
    int extra_count = static_cast<int>(extra_names.size());
    double* step_extra = step_extra_of(t);
    const double* sample_extra_values = extra_of_sample(s);
    for (int k = 0; k < extra_count; ++k) step_extra[k] += sample_extra_values[k] * area;
}

// Temperatures were summed with the HTC as weight, everything else with the step weight.
void average_step(int t) {
    TriangleStep& step = triangle_step[t];
    step.step_fluid_temp /= step.step_htc;
    step.step_boundary_temp /= step.step_htc;
    step.step_flux /= step.step_weight;
    step.step_htc /= step.step_weight;
    step.step_yplus /= step.step_weight;
    int extra_count = static_cast<int>(extra_names.size());
    double* step_extra = step_extra_of(t);
    for (int k = 0; k < extra_count; ++k) step_extra[k] /= step.step_weight;
}

bool growth_refused(int mode, int origin_boundary, int neighbor_boundary) {
    if (mode == 1) return neighbor_boundary != origin_boundary;
    // Piston values stay on the piston; other walls may still grow onto it.
    if (mode == 2) return origin_boundary == 1 && neighbor_boundary != 1;
    return false;
}

// Beyond the limit, as sqrt(d2) > limit decides it: the square of the limit settles all but
// a band of rounding around it, where the root is taken as before.
inline bool beyond(double d2, double limit) {
    const double limit2 = limit * limit;
    if (limit >= 0 && limit2 > 1e-280 && limit2 < 1e280) {
        if (d2 <= limit2 * (1 - 1e-12)) return false;
        if (d2 >= limit2 * (1 + 1e-12)) return true;
    }
    return std::sqrt(d2) > limit;
}

// A table of n copies of value in fresh memory that the system may back with large pages:
// touching a surface-sized table 4 KiB at a time is a large part of preparing it.
template <typename T>
void fresh_table(std::vector<T>& table, std::size_t n, const T& value) {
    std::vector<T>().swap(table);
    table.reserve(n);
    advise_large_pages(table.data(), n * sizeof(T));
    table.assign(n, value);
}

// Items per piece of parallel work: pieces enough for every worker to take several (a small
// step still runs on all of them), and at most `largest` so that none waits long for another.
int work_grain(int count, int largest) {
    return std::max(1, std::min(largest, count / (8 * thread_count())));
}

// The triangles the origin's data reaches, in the order the search meets them, with the
// refusals for boundary ID it meets on the way. Reads only the surface; the marks are the
// worker's own. The triangles found are also the search's queue, after the origin.
int search_from(int origin, double origin_reach, SearchScratch& scratch, std::vector<int>& found) {
    const TriangleGeometry* nodes = triangle_geometry.data();
    const TriangleGeometry& o = nodes[origin];
    // Local copies: the stores below could otherwise alias the settings for the compiler.
    const int mode = settings.enforce_boundID_match;
    const double grow_mult = settings.grow_mult;
    const double origin_centroid[3] = {o.centroid[0], o.centroid[1], o.centroid[2]};
    const int origin_boundary = o.boundary_id;
    if (++scratch.stamp == 0) {
        std::fill(scratch.mark.begin(), scratch.mark.end(), 0);
        scratch.stamp = 1;
    }
    const std::uint16_t mark = scratch.stamp;
    std::uint16_t* marks = scratch.mark.data();
    int blocked = 0;
    marks[origin] = mark;
    std::size_t next = found.size();
    for (int current = origin;; current = found[next++]) {
        const TriangleGeometry& f = nodes[current];
        for (int k = 0; k < 3; ++k) {
            const int n = f.neighbor[k];
            if (n < 0 || marks[n] == mark) continue;
            const TriangleGeometry& nt = nodes[n];
            // Not marked: a refused neighbour is looked at, and counted, again.
            if (growth_refused(mode, origin_boundary, nt.boundary_id)) {
                ++blocked;
                continue;
            }
            marks[n] = mark;
            // Measured from the origin, not from the triangle the search came through, so
            // the footprint does not creep across the surface.
            const double dx = nt.centroid[0] - origin_centroid[0];
            const double dy = nt.centroid[1] - origin_centroid[1];
            const double dz = nt.centroid[2] - origin_centroid[2];
            const double limit = (origin_reach + nt.radius) * grow_mult;
            if (beyond(dx * dx + dy * dy + dz * dz, limit)) continue;
            found.push_back(n);
        }
        if (next == found.size()) break;
    }
    return blocked;
}

// The origin's averages added to one triangle it reaches; a directly hit one keeps its own.
inline void contribute(int origin, int n) {
    std::uint8_t& state = triangle_hit_state[n];
    if (state == hit_directly) return;
    TriangleStep& ns = triangle_step[n];
    const TriangleStep& os = triangle_step[origin];
    if (state == no_data) {
        ++step_counts.grown_count;
        state = grown;
        grown_triangles.push_back(n);
    }
    ns.step_fluid_temp += os.step_fluid_temp * os.step_htc;
    ns.step_boundary_temp += os.step_boundary_temp * os.step_htc;
    ns.step_flux += os.step_flux;
    ns.step_htc += os.step_htc;
    ns.step_yplus += os.step_yplus;
    const int extra_count = static_cast<int>(extra_names.size());
    if (extra_count > 0) {
        const double* os_extra = step_extra_of(origin);
        double* ns_extra = step_extra_of(n);
        for (int e = 0; e < extra_count; ++e) ns_extra[e] += os_extra[e];
    }
    // The limit of the last origin to reach it, as the search measured it.
    triangle_table[n].reach = (triangle_table[origin].reach + triangle_geometry[n].radius) * settings.grow_mult;
    ns.step_weight += 1;
}

inline std::uint8_t* put_varint(std::uint8_t* at, std::uint64_t value) {
    while (value >= 0x80) {
        *at++ = static_cast<std::uint8_t>(value | 0x80);
        value >>= 7;
    }
    *at++ = static_cast<std::uint8_t>(value);
    return at;
}

inline std::uint64_t get_varint(const std::uint8_t*& p) {
    std::uint64_t value = 0;
    for (int shift = 0;; shift += 7) {
        const std::uint8_t byte = *p++;
        value |= static_cast<std::uint64_t>(byte & 0x7f) << shift;
        if (!(byte & 0x80)) return value;
    }
}

inline std::uint64_t zigzag(std::int64_t d) {
    return (static_cast<std::uint64_t>(d) << 1) ^ static_cast<std::uint64_t>(d >> 63);
}
inline std::int64_t unzigzag(std::uint64_t z) {
    return static_cast<std::int64_t>(z >> 1) ^ -static_cast<std::int64_t>(z & 1);
}

// The most bytes a store entry of a search of `count` triangles takes: the reach, the two
// counts and two varints per triangle.
std::size_t entry_bound(int count) { return 23 + 10 * static_cast<std::size_t>(count); }

// A search as an entry of the store, appended to `out`: the reach's bits, the refusals, and
// the triangles as runs of consecutive indices (the gap from the last run's end and the
// run's length). Made in a buffer of the thread's own, then appended at once.
void encode_search(std::vector<std::uint8_t>& out, int origin, double reach, const int* found,
                   int count, int blocked) {
    thread_local std::vector<std::uint8_t> entry;
    if (entry.size() < entry_bound(count)) entry.resize(entry_bound(count));
    std::uint8_t* at = entry.data();
    std::memcpy(at, &reach, sizeof reach);
    at += sizeof reach;
    at = put_varint(at, static_cast<std::uint64_t>(blocked));
    int runs = 0;
    for (int k = 0; k < count; ++k)
        if (k == 0 || found[k] != found[k - 1] + 1) ++runs;
    at = put_varint(at, static_cast<std::uint64_t>(runs));
    std::int64_t previous = origin;
    for (int k = 0; k < count;) {
        int length = 1;
        while (k + length < count && found[k + length] == found[k] + length) ++length;
        at = put_varint(at, zigzag(found[k] - previous));
        at = put_varint(at, static_cast<std::uint64_t>(length - 1));
        previous = found[k] + length;
        k += length;
    }
    out.insert(out.end(), entry.data(), at);
}

// Points the origin at the end of the store, where its entry (a search of `count`
// triangles) goes next; false when the store will not take it. The store is emptied when
// it would outgrow its limit.
bool make_room_for_search(int origin, int count) {
    const std::size_t largest = entry_bound(count);
    if (search_store.size() + largest > search_store_limit) {
        if (largest > search_store_limit / 4) return false;  // one search must not crowd out all
        search_store.clear();
        std::fill(stored_search.begin(), stored_search.end(), not_stored);
    }
    // Released while a plan did the growth: back on the first search stored after it.
    if (stored_search.size() != triangle_table.size())
        fresh_table(stored_search, triangle_table.size(), not_stored);
    // Room for the whole store at once: the system backs only the pages written, where
    // growing by doubling would copy it and touch fresh pages each time.
    if (search_store.capacity() < search_store_limit) search_store.reserve(search_store_limit);
    stored_search[origin] = static_cast<std::uint32_t>(search_store.size());
    return true;
}

// Keeps a search for the next steps, unless the store is full.
void store_search(int origin, double reach, const int* found, int count, int blocked) {
    if (make_room_for_search(origin, count)) encode_search(search_store, origin, reach, found, count, blocked);
}

// The same for a search a worker encoded.
void store_encoded(const BatchSearch& search) {
    if (!make_room_for_search(search.origin, search.count)) return;
    const std::uint8_t* entry = search_scratch[search.worker].encoded.data() + search.entry_begin;
    search_store.insert(search_store.end(), entry, entry + search.entry_size);
}

inline bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// The origin's stored search past its reach, or null when there is none for this reach.
const std::uint8_t* stored_for(int origin, double reach) {
    if (stored_search.empty() || stored_search[origin] == not_stored) return nullptr;
    const std::uint8_t* entry = search_store.data() + stored_search[origin];
    double stored_reach;
    std::memcpy(&stored_reach, entry, sizeof stored_reach);
    return same_bits(stored_reach, reach) ? entry + sizeof stored_reach : nullptr;
}

void replay_search(int origin, const std::uint8_t* p) {
    step_counts.boundary_blocked_count += static_cast<int>(get_varint(p));
    const int runs = static_cast<int>(get_varint(p));
    std::int64_t previous = origin;
    for (int r = 0; r < runs; ++r) {
        const int first = static_cast<int>(previous + unzigzag(get_varint(p)));
        const int length = static_cast<int>(get_varint(p)) + 1;
        for (int n = first; n < first + length; ++n) contribute(origin, n);
        previous = first + length;
    }
}

// Growth, once its searches are known, is a fixed sum: each grown triangle adds up, in
// growth order, the averages of the origins that reach it. Once every origin's search is in
// the store, the sums are gathered per grown triangle instead: the same additions in the
// same order, so the same bits, but each triangle is written once, from a compact table of
// the origins' values, and the triangles are independent of each other, so all workers share
// them. Kept while the next steps have the same origins in the same order with the same
// reaches.

// A share of a plan: the targets of a range of triangle indices, with their runs.
// A target's origins are runs of consecutive growth positions: the first starts at the
// target's base, each later one a gap after the end of the one before, gap and length in
// one 16-bit code. A gap past 11 bits is made of empty runs of the largest gap first; a run
// longer than 31 goes on in another after a gap of 0.
constexpr int run_bits = 5;
constexpr int longest_run = (1 << run_bits) - 1;
constexpr int largest_gap = (1 << (16 - run_bits)) - 1;
struct PlanSlice {
    std::vector<int> targets;              // ascending
    std::vector<std::uint32_t> runs_end;   // per target, the end of its runs
    std::vector<std::uint32_t> base;       // per target, its first origin's growth position
    std::vector<std::uint16_t> run_code;  // gap << run_bits | origins in the run (0 to 31)
};

struct GrowthPlan {
    bool ready = false;
    std::vector<int> origins;       // hit_chain as it was
    std::vector<double> reaches;    // of those origins
    std::vector<PlanSlice> slices;  // in triangle order
    std::size_t target_count = 0;
    long long blocked = 0;
};
GrowthPlan plan;

// Origin values in growth order, as contribute adds them.
struct OriginValues {
    double fluid, wall, flux, htc, yplus;
};
std::vector<OriginValues> origin_values;
std::vector<double> origin_extra;   // extra_names.size() per origin
// Whether the two hold this step's origins, taken as the hits were averaged.
bool origin_values_ready = false;

void size_origin_values() {
    origin_values.resize(hit_chain.size());
    origin_extra.resize(extra_names.size() * hit_chain.size());
}

// The values of the origin at growth position p, hit triangle `origin`, from its averages.
inline void take_origin_values(int p, int origin) {
    const TriangleStep& os = triangle_step[origin];
    origin_values[p] = {os.step_fluid_temp * os.step_htc, os.step_boundary_temp * os.step_htc,
                        os.step_flux, os.step_htc, os.step_yplus};
    const std::size_t extra_count = extra_names.size();
    if (extra_count > 0)
        std::memcpy(origin_extra.data() + p * extra_count, step_extra_of(origin), extra_count * sizeof(double));
}

// The origins' values in growth order from the hits' averages.
void fill_origin_values() {
    const int origin_count = static_cast<int>(hit_chain.size());
    size_origin_values();
    for (int p = 0; p < origin_count; ++p) take_origin_values(p, hit_chain[origin_count - 1 - p]);
    origin_values_ready = true;
}

// Making a plan is the peak of a run's memory: values taken before it go back first.
void drop_origin_values() {
    std::vector<OriginValues>().swap(origin_values);
    std::vector<double>().swap(origin_extra);
    origin_values_ready = false;
}

void size_search_scratch() {
    const int workers = thread_count();
    if (static_cast<int>(search_scratch.size()) < workers) search_scratch.resize(workers);
    for (int w = 0; w < workers; ++w) {
        SearchScratch& scratch = search_scratch[w];
        if (scratch.mark.size() != triangle_table.size()) {
            fresh_table(scratch.mark, triangle_table.size(), std::uint16_t{0});
            scratch.stamp = 0;
        }
    }
}

// Whether every origin's search is in the store, so that a plan can be made from it on
// all workers.
bool all_origins_stored() {
    for (int origin : hit_chain)
        if (!stored_for(origin, triangle_table[origin].reach)) return false;
    return true;
}

// A plan's first pass, over the whole surface: per target, the runs its origins make and
// the first one's growth position. Made as the searches are stored when a step stores them
// all, else from the store, a range of targets per worker.
struct RunCounts {
    // Side by side, as every reach reads and writes both: the last origin position that
    // reached the target (-2: none yet; -1 would pass for a run ending just before the first
    // origin) and its runs (in the plan's last pass, where its next run goes).
    struct Target {
        int last_position = -2;
        std::uint32_t runs = 0;
    };
    std::vector<Target> targets;
    std::vector<std::uint8_t> length;
    std::vector<std::uint32_t> first_position;
    bool made = false;

    void start(std::size_t size) {
        targets.assign(size, Target{});
        length.assign(size, 0);
        first_position.assign(size, 0);
        made = false;
    }
    void release() {
        std::vector<Target>().swap(targets);
        std::vector<std::uint8_t>().swap(length);
        std::vector<std::uint32_t>().swap(first_position);
        made = false;
    }
    // The origin at growth position p reaches target n; positions come in order.
    void add(int p, int n) {
        Target& target = targets[n];
        if (target.last_position == p - 1 && length[n] < longest_run) {
            ++length[n];
        } else {
            if (target.last_position >= 0)
                target.runs += escapes(p - (target.last_position + 1));
            else
                first_position[n] = static_cast<std::uint32_t>(p);
            ++target.runs;
            length[n] = 1;
        }
        target.last_position = p;
    }
    // A run after a gap past the code's 11 bits is preceded by empty runs of the largest gap.
    static int escapes(int gap) { return gap > largest_gap ? (gap - 1) / largest_gap : 0; }
};
RunCounts run_counts;

// The triangles in [low, high) the stored search of the origin at growth position p
// reaches, but for direct hits, to visit(n).
template <typename Visit>
void each_stored_in_range(int p, int low, int high, Visit&& visit) {
    const int origin_count = static_cast<int>(hit_chain.size());
    const int origin = hit_chain[origin_count - 1 - p];
    const std::uint8_t* bytes = search_store.data() + stored_search[origin] + sizeof(double);
    get_varint(bytes);  // refusals: counted once, by the caller
    const int run_count = static_cast<int>(get_varint(bytes));
    std::int64_t previous = origin;
    for (int r = 0; r < run_count; ++r) {
        const int first = static_cast<int>(previous + unzigzag(get_varint(bytes)));
        const int end = first + static_cast<int>(get_varint(bytes)) + 1;
        previous = end;
        if (first >= high) break;  // runs come in index order
        for (int n = std::max(first, low); n < std::min(end, high); ++n)
            if (triangle_hit_state[n] != hit_directly) visit(n);
    }
}

// The plan's targets in [low, high), from the run counts: their list, their first origins,
// where each one's runs end.
void list_plan_targets(int low, int high, PlanSlice& slice) {
    std::size_t target_total = 0;
    for (int n = low; n < high; ++n) target_total += run_counts.targets[n].runs > 0;
    slice.targets.clear();
    slice.runs_end.clear();
    slice.base.clear();
    slice.targets.reserve(target_total);
    slice.runs_end.reserve(target_total);
    slice.base.reserve(target_total);
    std::uint32_t total = 0;
    for (int n = low; n < high; ++n)
        if (run_counts.targets[n].runs > 0) {
            slice.targets.push_back(n);
            const std::uint32_t begin = total;
            total += run_counts.targets[n].runs;
            slice.runs_end.push_back(total);
            slice.base.push_back(run_counts.first_position[n]);
            run_counts.targets[n].runs = begin;  // where the target's next run goes
        }
}

// The runs of the plan's targets in [low, high), from the store.
void fill_plan_runs(int low, int high, PlanSlice& slice) {
    const int origin_count = static_cast<int>(hit_chain.size());
    fresh_table(slice.run_code, slice.runs_end.empty() ? 0 : slice.runs_end.back(), std::uint16_t{0});
    RunCounts::Target* targets = run_counts.targets.data();
    for (int n = low; n < high; ++n) targets[n].last_position = -2;
    for (int p = 0; p < origin_count; ++p)
        each_stored_in_range(p, low, high, [&](int k) {
            RunCounts::Target& target = targets[k];
            if (target.last_position == p - 1 && (slice.run_code[target.runs - 1] & longest_run) < longest_run) {
                ++slice.run_code[target.runs - 1];
            } else {
                if (target.last_position >= 0) {
                    int gap = p - (target.last_position + 1);
                    for (int e = RunCounts::escapes(gap); e > 0; --e) {
                        slice.run_code[target.runs++] = static_cast<std::uint16_t>(largest_gap << run_bits);
                        gap -= largest_gap;
                    }
                    slice.run_code[target.runs] = static_cast<std::uint16_t>(gap << run_bits);
                }
                slice.run_code[target.runs] |= 1;
                ++target.runs;
            }
            target.last_position = p;
        });
}

// Every origin's search must be in the store.
void make_plan() {
    grown_are_plan_targets = false;
    // The searches' lists are in the store by now, and making a plan is the peak of a run's
    // memory: their room goes back first.
    for (SearchScratch& scratch : search_scratch) std::vector<int>().swap(scratch.found);
    const int origin_count = static_cast<int>(hit_chain.size());
    const int triangle_count = static_cast<int>(triangle_table.size());
    // Each worker takes a range of triangles: the targets are independent, and the slices
    // in range order are the plan a single pass makes.
    const int slice_count = std::max(1, std::min(thread_count(), triangle_count));
    plan.slices.assign(slice_count, PlanSlice{});
    auto each_slice = [&](auto&& work) {
        parallel_for(slice_count, 1, [&](int begin, int end, int) {
            for (int k = begin; k < end; ++k) {
                const long long low = static_cast<long long>(triangle_count) * k / slice_count;
                const long long high = static_cast<long long>(triangle_count) * (k + 1) / slice_count;
                work(static_cast<int>(low), static_cast<int>(high), plan.slices[k]);
            }
        });
    };
    if (!run_counts.made) {
        run_counts.start(triangle_count);
        each_slice([&](int low, int high, PlanSlice&) {
            for (int p = 0; p < origin_count; ++p)
                each_stored_in_range(p, low, high, [&](int n) { run_counts.add(p, n); });
        });
    }
    each_slice(list_plan_targets);
    // Back before the runs' tables are made: making a plan is the peak of a run's memory.
    std::vector<std::uint8_t>().swap(run_counts.length);
    std::vector<std::uint32_t>().swap(run_counts.first_position);
    each_slice(fill_plan_runs);
    run_counts.release();
    plan.blocked = 0;
    for (int origin : hit_chain) {
        const std::uint8_t* bytes = search_store.data() + stored_search[origin] + sizeof(double);
        plan.blocked += static_cast<long long>(get_varint(bytes));
    }
    plan.target_count = 0;
    for (const PlanSlice& slice : plan.slices) plan.target_count += slice.targets.size();
    plan.origins = hit_chain;
    plan.reaches.resize(origin_count);
    for (int k = 0; k < origin_count; ++k) plan.reaches[k] = triangle_table[hit_chain[k]].reach;
    plan.ready = true;
    // The plan holds all the stored searches say, in the form the next steps read: their
    // memory goes back until origins change and searches are stored again.
    std::vector<std::uint32_t>().swap(stored_search);
    std::vector<std::uint8_t>().swap(search_store);
}

// Four of an origin's values side by side: one vector addition adds all four, each as
// the scalar addition would (no fused operations are made of these).
using Four = double __attribute__((vector_size(32)));

// The plan's targets [begin, end): their sums, averages and reaches. Returns how many
// averages are 0 or less.
[[gnu::always_inline]] inline int plan_sums_body(const PlanSlice& slice, int begin, int end) {
    const int origin_count = static_cast<int>(hit_chain.size());
    const int extra_count = static_cast<int>(extra_names.size());
    const OriginValues* values = origin_values.data();
    const double grow_mult = settings.grow_mult;
    int empty = 0;
    for (int k = begin; k < end; ++k) {
        const int n = slice.targets[k];
        const std::uint32_t runs_begin = k == 0 ? 0 : slice.runs_end[k - 1], runs_end = slice.runs_end[k];
        // In the order of the origins: fluid, wall, flux and htc in one vector, yplus apart.
        Four sums = {0, 0, 0, 0};
        double yplus = 0;
        int count = 0, stop = static_cast<int>(slice.base[k]);
        for (std::uint32_t r = runs_begin; r < runs_end; ++r) {
            const int first = stop + (slice.run_code[r] >> run_bits);
            stop = first + (slice.run_code[r] & longest_run);
            for (int p = first; p < stop; ++p) {
                Four four;
                std::memcpy(&four, &values[p].fluid, sizeof four);
                sums += four;
                yplus += values[p].yplus;
            }
            count += stop - first;
        }
        const int last = stop - 1;
        // A sum of ones, exactly.
        const double weight = count;
        if (extra_count > 0) {
            // Not cleared since an earlier step (clear_stale).
            double* ns_extra = step_extra_of(n);
            for (int e = 0; e < extra_count; ++e) ns_extra[e] = 0;
            int run_stop = static_cast<int>(slice.base[k]);
            for (std::uint32_t r = runs_begin; r < runs_end; ++r) {
                const int first = run_stop + (slice.run_code[r] >> run_bits);
                run_stop = first + (slice.run_code[r] & longest_run);
                for (int p = first; p < run_stop; ++p) {
                    const double* os_extra = &origin_extra[static_cast<std::size_t>(p) * extra_count];
                    for (int e = 0; e < extra_count; ++e) ns_extra[e] += os_extra[e];
                }
            }
            for (int e = 0; e < extra_count; ++e) ns_extra[e] /= weight;
        }
        TriangleStep& ns = triangle_step[n];
        ns.step_fluid_temp = sums[0] / sums[3];
        ns.step_boundary_temp = sums[1] / sums[3];
        ns.step_flux = sums[2] / weight;
        ns.step_htc = sums[3] / weight;
        ns.step_yplus = yplus / weight;
        ns.step_weight = weight;
        triangle_hit_state[n] = grown;
        const int last_position = origin_count - 1 - last;
        // The limit of the last origin to reach it; plan.reaches holds its bits.
        triangle_table[n].reach = (plan.reaches[last_position] + triangle_geometry[n].radius) * grow_mult;
        if (ns.step_fluid_temp <= 0) ++empty;
    }
    return empty;
}

// The same, with the vector additions in one instruction where the processor has them.
[[gnu::target("avx2")]] int plan_sums_avx2(const PlanSlice& slice, int begin, int end) {
    return plan_sums_body(slice, begin, end);
}
int plan_sums_plain(const PlanSlice& slice, int begin, int end) {
    return plan_sums_body(slice, begin, end);
}
int plan_sums(const PlanSlice& slice, int begin, int end) {
    static const bool avx2 = __builtin_cpu_supports("avx2");
    return avx2 ? plan_sums_avx2(slice, begin, end) : plan_sums_plain(slice, begin, end);
}

// The plan's sums, and each grown triangle's averages and reach with them, as
// average_step and grow_from_hits would work them out afterwards: the same operations on
// the same values, while the sums are still at hand. Returns how many averages are 0 or
// less (empty).
int grow_by_plan() {
    // Taken as the hits were averaged, where a plan stood ready for them.
    if (!origin_values_ready) fill_origin_values();
    std::vector<int> non_positive(thread_count(), 0);
    for (const PlanSlice& slice : plan.slices) {
        const int target_count = static_cast<int>(slice.targets.size());
        parallel_for(target_count, work_grain(target_count, 4096), [&](int begin, int end, int worker) {
            non_positive[worker] += plan_sums(slice, begin, end);
        });
    }
    step_counts.grown_count += static_cast<int>(plan.target_count);
    step_counts.boundary_blocked_count += static_cast<int>(plan.blocked);
    if (!grown_are_plan_targets) {
        grown_triangles.clear();
        for (const PlanSlice& slice : plan.slices)
            grown_triangles.insert(grown_triangles.end(), slice.targets.begin(), slice.targets.end());
        grown_are_plan_targets = true;
    }
    int empty = 0;
    for (int count : non_positive) empty += count;
    return empty;
}

// The searches of the origins at these growth positions, on all workers, into `batch`
// (each worker's `found`). Sorted: in index order, which stores as a few runs.
void run_searches(const std::vector<int>& positions, bool sorted, bool encoded,
                  std::vector<BatchSearch>& batch) {
    const int origin_count = static_cast<int>(hit_chain.size());
    batch.assign(positions.size(), BatchSearch{});
    for (int w = 0; w < thread_count(); ++w) {
        search_scratch[w].found.clear();
        search_scratch[w].encoded.clear();
    }
    const int searches = static_cast<int>(batch.size());
    parallel_for(searches, work_grain(searches, 16), [&](int begin, int end, int worker) {
        SearchScratch& scratch = search_scratch[worker];
        for (int b = begin; b < end; ++b) {
            BatchSearch& search = batch[b];
            search.origin = hit_chain[origin_count - 1 - positions[b]];
            search.worker = worker;
            search.begin = static_cast<int>(scratch.found.size());
            search.blocked = search_from(search.origin, triangle_table[search.origin].reach,
                                         scratch, scratch.found);
            search.count = static_cast<int>(scratch.found.size()) - search.begin;
            // An origin reaches each triangle once, so the order of its contributions
            // changes no sum; only the grown points file lists them as the search met them.
            if (sorted)
                sort_found(scratch.found.data() + search.begin,
                           scratch.found.data() + scratch.found.size(), scratch.window);
            // Stored in origin order by one thread, but encoded here.
            if (encoded) {
                search.entry_begin = scratch.encoded.size();
                encode_search(scratch.encoded, search.origin, triangle_table[search.origin].reach,
                              scratch.found.data() + search.begin, search.count, search.blocked);
                search.entry_size = scratch.encoded.size() - search.entry_begin;
            }
        }
    });
}

// Every search the store lacks, run and stored, so that growth can be a plan at once
// instead of adding contributions one by one. Returns whether the store took them all,
// with how many it had already in `replayed`.
bool store_all_searches(int& replayed) {
    const int origin_count = static_cast<int>(hit_chain.size());
    constexpr int batch_origins = 4096;
    std::vector<int> positions;
    std::vector<BatchSearch> batch;
    replayed = 0;
    // The plan's first pass is made on the way, in growth order, from the lists at hand.
    run_counts.start(triangle_table.size());
    for (int p = 0; p < origin_count;) {
        const int batch_first = p;
        positions.clear();
        for (; p < origin_count && static_cast<int>(positions.size()) < batch_origins; ++p) {
            const int origin = hit_chain[origin_count - 1 - p];
            if (!stored_for(origin, triangle_table[origin].reach)) positions.push_back(p);
        }
        run_searches(positions, true, true, batch);
        std::size_t next_search = 0;
        for (int q = batch_first; q < p; ++q) {
            if (next_search < batch.size() && positions[next_search] == q) {
                const BatchSearch& search = batch[next_search++];
                const int* found = search_scratch[search.worker].found.data() + search.begin;
                for (int k = 0; k < search.count; ++k)
                    if (triangle_hit_state[found[k]] != hit_directly) run_counts.add(q, found[k]);
                store_encoded(search);
            } else {
                ++replayed;
                // Gone if a search of this batch emptied the store: then no plan is made.
                const int origin = hit_chain[origin_count - 1 - q];
                if (stored_for(origin, triangle_table[origin].reach))
                    each_stored_in_range(q, 0, static_cast<int>(triangle_table.size()),
                                         [&](int n) { run_counts.add(q, n); });
            }
        }
    }
    run_counts.made = all_origins_stored();
    if (!run_counts.made) run_counts.release();
    return run_counts.made;
}

// Every origin's data to the triangles it reaches: the most recently first-hit triangle
// first. Searches not kept from earlier steps run in batches on all workers; each batch is
// then applied in origin order.
// Storing costs a sort and a copy of every search: worth it while searches come back, not
// on walls that move every block. After a step that replayed few, a step now and then
// stores, to see whether they have started to come back: the 8th, then the 16th ... up to
// every 64th.
bool storing_this_step() {
    ++steps_since_stored;
    const bool storing = stored_were_replayed || steps_since_stored >= store_interval;
    if (storing) steps_since_stored = 0;
    return storing;
}

void note_replayed(bool storing, int replayed) {
    stored_were_replayed = 4 * replayed >= static_cast<int>(hit_chain.size());
    if (storing) store_interval = stored_were_replayed ? 1 : std::clamp(2 * store_interval, 8, 64);
}

// Each origin's data to the triangles it reaches, as its search (run now, or stored) says.
// Returns how many origins were found in the store.
int grow_by_searches(bool storing) {
    const int origin_count = static_cast<int>(hit_chain.size());
    // Origins in growth order: position p is hit_chain[origin_count - 1 - p].
    auto origin_at = [&](int p) { return hit_chain[origin_count - 1 - p]; };
    constexpr int batch_origins = 4096;
    const bool keep_search_order = settings.hit_location_output_files == 1;
    int replayed = 0;
    std::vector<BatchSearch> batch;
    std::vector<int> batch_positions;
    batch.reserve(batch_origins);
    batch_positions.reserve(batch_origins);
    int applied = 0;
    while (applied < origin_count) {
        // The next origins up to batch_origins searches to run, and the stored ones between.
        batch_positions.clear();
        int last = applied;
        for (; last < origin_count && static_cast<int>(batch_positions.size()) < batch_origins;
             ++last) {
            const int origin = origin_at(last);
            if (!stored_for(origin, triangle_table[origin].reach)) batch_positions.push_back(last);
        }
        const bool sorted = storing && !keep_search_order;
        run_searches(batch_positions, sorted, sorted, batch);
        std::size_t next_search = 0;
        for (int p = applied; p < last; ++p) {
            const int origin = origin_at(p);
            const double reach = triangle_table[origin].reach;
            auto apply_search = [&](const int* found, int count, int blocked) {
                step_counts.boundary_blocked_count += blocked;
                for (int k = 0; k < count; ++k) contribute(origin, found[k]);
            };
            if (next_search < batch.size() && batch_positions[next_search] == p) {
                const BatchSearch& search = batch[next_search++];
                const int* found = search_scratch[search.worker].found.data() + search.begin;
                apply_search(found, search.count, search.blocked);
                if (storing && sorted)
                    store_encoded(search);
                else if (storing)
                    store_search(origin, reach, found, search.count, search.blocked);
            } else if (const std::uint8_t* entry = stored_for(origin, reach)) {
                replay_search(origin, entry);
                ++replayed;
            } else {
                // The store was emptied by a search of this batch: this one is found again.
                std::vector<int>& found = search_scratch[0].found;
                const int begin = static_cast<int>(found.size());
                const int blocked = search_from(origin, reach, search_scratch[0], found);
                if (storing && !keep_search_order)
                    sort_found(found.data() + begin, found.data() + found.size(),
                               search_scratch[0].window);
                const int count = static_cast<int>(found.size()) - begin;
                apply_search(found.data() + begin, count, blocked);
                if (storing) store_search(origin, reach, found.data() + begin, count, blocked);
            }
        }
        applied = last;
    }
    return replayed;
}

// The grown points file lists triangles in the order growth first reached them, which
// only the searches know.
bool plans_allowed() { return settings.hit_location_output_files != 1 && growth_plans_allowed; }

// Growth as the searches or a plan say. With plan_holds (the plan's origins and reaches are
// this step's) the plan also averages what it grew: returns true then, with the averages 0
// or less it met in empty.
bool grow_all(bool plan_holds, int& empty) {
    size_search_scratch();
    const bool plan_allowed = plans_allowed();
    if (plan_allowed && plan_holds) {
        empty = grow_by_plan();
        return true;
    }
    plan.ready = false;
    const bool storing = storing_this_step();
    if (plan_allowed && !hit_chain.empty() && all_origins_stored()) {
        // Every search came back from an earlier step: the walls stand still, and a plan
        // made from the store, on all workers, serves this step and the next like it.
        note_replayed(storing, static_cast<int>(hit_chain.size()));
        drop_origin_values();
        make_plan();
        empty = grow_by_plan();
        return true;
    }
    // A step that stores its searches makes a plan of them too: summing per target costs
    // less than adding each contribution where it lands, and a step like it reuses it.
    int replayed = 0;
    if (plan_allowed && storing && !hit_chain.empty() && store_all_searches(replayed)) {
        note_replayed(storing, replayed);
        drop_origin_values();
        make_plan();
        empty = grow_by_plan();
        return true;
    }
    note_replayed(storing, grow_by_searches(storing));
    return false;
}

}  // namespace

void open_point_file(OutFile& file, const std::string& name, int count) {
    if (!open_result_file(file, name, LineEnd::crlf)) {
        bool made = make_directory(directory_name);
        // The directory may be there already; only a second failure is final.
        if (!open_result_file(file, name, LineEnd::crlf)) {
            if (!made) {
                say("*************************************************************************** \n");
                say("********* Error -- Unable to create directory: %s ***************\n",
                    directory_name);
                say("*************************************************************************** \n");
            }
            fatal("could not create %s\n", name.c_str());
        }
    }
    out_format(file, "%d %d 0\n", count, count);
}

void close_point_file(OutFile& file) {
    std::string name = file.name;
    // A full disk must not look like a finished run.
    if (!try_close_out_file(file)) fatal("ERROR: could not write %s\n", name.c_str());
    // Each diagnostic file stands alone: it takes its name at once.
    commit_result_files();
}

namespace {

void size_extra_tables() {
    std::size_t extra_size = triangle_table.size() * extra_names.size();
    if (triangle_step_extra.size() != extra_size) triangle_step_extra.assign(extra_size, 0.0);
    if (triangle_extra.size() != extra_size) triangle_extra.assign(extra_size, 0.0);
}

}  // namespace

void prepare_hit_mapping() {
    std::size_t triangle_count = triangle_table.size();
    if (triangle_step.size() != triangle_count) {
        fresh_table(triangle_step, triangle_count, TriangleStep{});
        fresh_table(triangle_hit_state, triangle_count, std::uint8_t{no_data});
        hit_chain.clear();
        hit_chain.reserve(triangle_count);
        grown_triangles.clear();
        grown_triangles.reserve(triangle_count);
        grown_are_plan_targets = false;
        stale_hits.clear();
    }
    size_extra_tables();
    // No answers kept from another surface, or from this one before it changed.
    ++surface_epoch;
    located.clear();
    fresh_table(stored_search, triangle_count, not_stored);
    search_store.clear();
    plan = GrowthPlan{};
    stored_were_replayed = false;
    steps_since_stored = 1000;
    store_interval = 1;
    // 32 bytes per triangle: a few runs per search, so every search of a run on a fine
    // surface, for less than the search's own tables take.
    search_store_limit = std::max<std::size_t>(std::size_t{1} << 20, 32 * triangle_count);
    search_store_limit = std::min<std::size_t>(search_store_limit, std::uint32_t{0xffffffff});
}

void release_hit_mapping() {
    std::vector<TriangleStep>().swap(triangle_step);
    std::vector<std::uint8_t>().swap(triangle_hit_state);
    std::vector<double>().swap(triangle_step_extra);
    std::vector<int>().swap(hit_chain);
    std::vector<int>().swap(grown_triangles);
    grown_are_plan_targets = false;
    std::vector<int>().swap(stale_hits);
    std::vector<int>().swap(hit_samples);
    std::vector<LocatedSample>().swap(located);
    std::vector<std::uint32_t>().swap(stored_search);
    std::vector<std::uint8_t>().swap(search_store);
    run_counts.release();
    std::vector<SearchScratch>().swap(search_scratch);
    drop_origin_values();
    plan = GrowthPlan{};
}

namespace {

void clear_values(int t) {
    triangle_step[t] = TriangleStep{};
    double* extra = step_extra_of(t);
    for (std::size_t k = 0; k < extra_names.size(); ++k) extra[k] = 0;
}

// The earlier steps' values growth is about to read or add to. A plan that holds writes
// every value of the triangles it grew last time: then only the old hits not hit again
// are left.
void clear_stale(bool plan_holds) {
    for (int t : stale_hits)
        if (triangle_hit_state[t] == hit_before) {
            clear_values(t);
            triangle_hit_state[t] = no_data;
        }
    stale_hits.clear();
    if (plan_holds) return;
    for (int t : grown_triangles)
        if (triangle_hit_state[t] == grown) {
            clear_values(t);
            triangle_hit_state[t] = no_data;
        }
    grown_triangles.clear();
    grown_are_plan_targets = false;
}

}  // namespace

void clear_step() {
    if (triangle_step.size() != triangle_table.size()) prepare_hit_mapping();
    size_extra_tables();
    // A still wall's next step hits the same triangles and grows the same ones, which then
    // take new values anyway: the old ones are cleared only where a hit or growth finds
    // them (record_hit, clear_stale), not all at every step start.
    for (int t : hit_chain) triangle_hit_state[t] = hit_before;
    stale_hits.insert(stale_hits.end(), hit_chain.begin(), hit_chain.end());
    step_counts = StepCounts{};
    empty_known = false;
    hit_chain.clear();
    hit_samples.clear();
    report_clear_step();
}

// The report takes locate_point's answers as they are.
static_assert(report_sample_missed == no_triangle &&
              report_sample_refused == refused_for_boundary_id);

namespace {

// Every sample goes into the report, mapped or not, with the columns add_sample uses.
void report_outcome(int s, int t, double distance) {
    double h = htc_of_sample(s);
    if (h > settings.max_htc) h = settings.max_htc;
    report_sample(sample_pool[s], t, flux_of_sample(s), h, distance);
}

}  // namespace

void record_hit(int s, int t, double distance, double time, const std::string& time_unit) {
    report_outcome(s, t, distance);
    if (t < 0) {
        ++step_counts.miss_count;
        if (t == refused_for_boundary_id) ++step_counts.boundary_blocked_count;
        return;
    }
    ++step_counts.direct_hit_count;
    if (settings.hit_location_output_files == 1) hit_samples.push_back(s);
    if (triangle_hit_state[t] != hit_directly) {
        // An earlier step's values, hit or grown, are not cleared yet.
        if (triangle_hit_state[t] != no_data) clear_values(t);
        ++step_counts.direct_triangle_count;
        hit_chain.push_back(t);
        triangle_hit_state[t] = hit_directly;
    }
    add_sample(t, s, time, time_unit);
    Triangle& tri = triangle_table[t];
    if (distance > tri.max_hit_distance) tri.max_hit_distance = distance;
}

namespace {

// Answers kept from earlier steps hold only while the settings they came from do.
void check_stored_answers() {
    const AnswerKey key{settings.tolerance, settings.grow_mult, settings.enforce_boundID_match,
                        surface_epoch};
    if (key == stored_key) return;
    stored_key = key;
    located.clear();
    std::fill(stored_search.begin(), stored_search.end(), not_stored);
    search_store.clear();
    plan = GrowthPlan{};
    stored_were_replayed = false;
    steps_since_stored = 1000;
    store_interval = 1;
}

}  // namespace

void locate_samples(double time, const std::string& time_unit) {
    check_stored_answers();
    if (located.size() < static_cast<std::size_t>(sample_count)) {
        LocatedSample unknown{};
        unknown.position[0] = std::nan("");
        if (located.empty()) {
            fresh_table(located, sample_count, unknown);
        } else {
            located.resize(sample_count, unknown);
        }
    }
    parallel_for(sample_count, work_grain(sample_count, 1024), [](int begin, int end, int) {
        for (int s = begin; s < end; ++s) {
            const CellDataPoint& sample = sample_pool[s];
            LocatedSample& answer = located[s];
            if (std::memcmp(answer.position, sample.position, sizeof answer.position) == 0 &&
                answer.bound_id == sample.bound_id)
                continue;
            std::memcpy(answer.position, sample.position, sizeof answer.position);
            answer.bound_id = sample.bound_id;
            answer.distance = -1.0;
            answer.triangle = locate_point(sample.position, sample.bound_id, answer.distance);
        }
    });
    // The triangles of samples in pool order are scattered over the surface tables: asked
    // for a few samples ahead, they are in cache when their turn comes.
    constexpr int ahead = 16;
    for (int s = 0; s < sample_count; ++s) {
        if (s + ahead < sample_count) {
            const int t = located[s + ahead].triangle;
            if (t >= 0) {
                __builtin_prefetch(&triangle_step[t], 1);
                __builtin_prefetch(&triangle_table[t].max_hit_distance, 1);
                __builtin_prefetch(&triangle_hit_state[t], 1);
            }
        }
        record_hit(s, located[s].triangle, located[s].distance, time, time_unit);
    }
    write_hit_points(time);
}

void write_hit_points(double time) {
    if (settings.hit_location_output_files == 1) {
        write_newest_first(point_file_name("detailedoutput/directhitpoints_%f.dat", time),
                           hit_samples, [](int s) { return sample_pool[s].position; });
    }
    hit_samples.clear();
}

void grow_from_hits(double time) {
    check_stored_answers();
    // Whether the plan's origins and their reaches are this step's, checked as the reaches
    // are set; and the averages 0 or less, so that collect_empty need not look at every
    // triangle to count the empty ones.
    const int origin_count = static_cast<int>(hit_chain.size());
    const bool plan_ready = plan.ready && static_cast<int>(plan.origins.size()) == origin_count;
    // Each hit triangle on its own: any worker.
    std::vector<int> non_positive_hits(thread_count(), 0);
    std::vector<std::uint8_t> plan_broken(thread_count(), 0);
    // The origins' values in growth order, for the plan that stands ready, while each hit
    // is at hand.
    const bool plan_values = plans_allowed() && plan_ready;
    if (plan_values) size_origin_values();
    origin_values_ready = plan_values;
    parallel_for(origin_count, work_grain(origin_count, 8192), [&](int begin, int end, int worker) {
        int count = 0;
        bool broken = false;
        for (int k = begin; k < end; ++k) {
            if (k + 16 < end) {  // scattered: see locate_samples
                __builtin_prefetch(&triangle_step[hit_chain[k + 16]], 1);
                __builtin_prefetch(&triangle_table[hit_chain[k + 16]].reach, 1);
            }
            const int t = hit_chain[k];
            const double reach = std::sqrt(triangle_step[t].step_weight) + triangle_table[t].max_hit_distance;
            triangle_table[t].reach = reach;
            if (plan_ready && (plan.origins[k] != t || !same_bits(plan.reaches[k], reach)))
                broken = true;
            average_step(t);
            const TriangleStep& os = triangle_step[t];
            if (os.step_fluid_temp <= 0) ++count;
            if (plan_values) take_origin_values(origin_count - 1 - k, t);
        }
        non_positive_hits[worker] += count;
        if (broken) plan_broken[worker] = 1;
    });
    bool plan_holds = plan_ready;
    int empty = 0;
    for (int w = 0; w < thread_count(); ++w) {
        empty += non_positive_hits[w];
        if (plan_broken[w]) plan_holds = false;
    }
    clear_stale(plan_holds && plans_allowed());
    int grown_empty = 0;
    if (!grow_all(plan_holds, grown_empty)) {
        // Each grown triangle on its own (the origins' reaches it reads are settled): any
        // worker.
        const int grown_count = static_cast<int>(grown_triangles.size());
        std::vector<int> non_positive(thread_count(), 0);
        parallel_for(grown_count, work_grain(grown_count, 8192), [&](int begin, int end, int worker) {
            int count = 0;
            for (int k = begin; k < end; ++k) {
                const int t = grown_triangles[k];
                average_step(t);
                if (triangle_step[t].step_fluid_temp <= 0) ++count;
            }
            non_positive[worker] += count;
        });
        for (int count : non_positive) grown_empty += count;
    }
    // A triangle with no data holds 0, which is empty too.
    empty_known = true;
    known_empty_count = static_cast<int>(triangle_table.size()) - step_counts.direct_triangle_count -
                        step_counts.grown_count + empty + grown_empty;
    say("initialized %i triangles from %i direct hits, initialized %i triangles through "
        "neighbor triangles.\n",
        step_counts.direct_triangle_count, step_counts.direct_hit_count, step_counts.grown_count);
    if (settings.hit_location_output_files == 1) {
        write_newest_first(point_file_name("detailedoutput/grownpoints_%f.dat", time),
                           grown_triangles, [](int t) { return triangle_geometry[t].centroid; });
    }
}

void collect_empty(double time) {
    int triangle_count = static_cast<int>(triangle_table.size());
    // A NaN average is not "0 or less" and so not empty.
    int empty_count = 0;
    if (empty_known) {
        empty_count = known_empty_count;
        empty_known = false;
    } else {
        for (int t = 0; t < triangle_count; ++t)
            if (triangle_step[t].step_fluid_temp <= 0) ++empty_count;
    }
    step_counts.empty_count = empty_count;
    if (settings.hit_location_output_files == 1) {
        OutFile file;
        open_point_file(file, point_file_name("detailedoutput/cfd_datapoints_%f.dat", time),
                        sample_count);
        for (int s = 0; s < sample_count; ++s) {
            const double* p = sample_pool[s].position;
            out_format(file, "%d %e %e %e\n", s, p[0], p[1], p[2]);
        }
        close_point_file(file);
    }
    if (empty_count == 0) return;
    say("there are %i triangles that are isolated from any initialized triangles, and "
        "therefore remain uninitialized\n",
        empty_count);
    OutFile file;
    open_point_file(file, point_file_name("detailedoutput/uninit_triangles_%f.dat", time),
                    empty_count);
    int number = 1;
    for (int t = 0; t < triangle_count; ++t) {
        if (!(triangle_step[t].step_fluid_temp <= 0)) continue;
        const double* c = triangle_geometry[t].centroid;
        out_format(file, "%d %e %e %e\n", number++, c[0], c[1], c[2]);
    }
    close_point_file(file);
}

void map_step(double time, const std::string& time_unit) {
    locate_samples(time, time_unit);
    grow_from_hits(time);
    collect_empty(time);
}

void report_step(double time, double previous_time, const std::string& time_unit,
                 int not_assigned_count) {
    say("there were %i triangles that were not assigned any heat flux information in this time "
        "step\n",
        not_assigned_count);
    say("there were %i cell datapoints that did not hit a triangle\n", step_counts.miss_count);
    if (step_counts.boundary_blocked_count > 0) {
        say("WARNING: mapping of %d triangles was prevented due to boundID difference\n",
            step_counts.boundary_blocked_count);
        say("with the enforce_boundID_match!=0, differences between the Kelvora surface and the "
            "mapping surface in boundary ID flagging will prevent data mapping\n");
    }
    say("this time interval was %e %s\n", time - previous_time, time_unit.c_str());
    say("\n");
    flush_say();
}
