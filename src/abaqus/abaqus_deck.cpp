// abaqus/abaqus_deck.cpp: an ABAQUS input deck made into the surface file "abaqus.dat".
//
// Shell elements become fans of triangles; the faces of solid elements named in the wanted
// *SURFACE sections become a triangle (three corners) or four around a centre (four). The
// deck is read in one pass into flat tables; the messages come in the order users have
// always seen them, a first reading that counts and a second that builds, because scripts
// grep them.
#include "abaqus/abaqus_deck.h"

#include "config/options.h"
#include "platform/fatal.h"
#include "platform/io.h"
#include "platform/numbers.h"
#include "surface/surface.h"

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace {

constexpr std::string_view deck_separators = " \t\r\n,=";
constexpr std::string_view face_separators = " \t\r\n,=S";
constexpr int max_surfaces = 100;

enum ElementShape { unsupported = 0, shell = 1, tetrahedron = 2, wedge = 3, hexahedron = 4 };

// Corner positions (1-based) of faces S1..S6, only corners also for second-order elements.
struct FaceCorners {
    int count;
    int node[4];
};
const FaceCorners tetrahedron_faces[4] = {
    {3, {1, 2, 3, 0}}, {3, {1, 4, 2, 0}}, {3, {2, 4, 3, 0}}, {3, {1, 3, 4, 0}}};
const FaceCorners wedge_faces[5] = {
    {3, {1, 2, 3, 0}}, {3, {4, 6, 5, 0}}, {4, {1, 4, 5, 2}}, {4, {2, 5, 6, 3}}, {4, {1, 3, 6, 4}}};
const FaceCorners hexahedron_faces[6] = {{4, {1, 2, 3, 4}}, {4, {5, 8, 7, 6}}, {4, {1, 5, 6, 2}},
                                         {4, {2, 6, 7, 3}}, {4, {3, 4, 8, 7}}, {4, {1, 4, 8, 5}}};

struct ElementBlock {
    std::string type;
    ElementShape shape = unsupported;
    int nodes_per_element = 0;  // nodes used (3 for STRI65)
    int nodes_on_line = 0;      // node words each element line holds
    int first_element = 0;      // index into the element table
    int element_count = 0;
};

struct Element {
    int number = 0;
    int block = 0;
    int node_begin = 0;  // into element_nodes, block.nodes_per_element of them
};

struct Face {
    int element = 0;   // element number as written
    int face = 0;      // n of Sn
    int surface = 0;   // index into settings.surface_names
    int line = 0;      // deck line of the surface entry
    int element_index = -1;
    int corner_count = 0;
    int corner[4] = {0, 0, 0, 0};  // node numbers
};

struct ElementSet {
    std::string name;
    std::vector<int> elements;
};

// Number to index; the first entry with a number wins, as a search from the front would
// find it. Dense numberings (the usual case) use a plain table.
struct NumberIndex {
    std::vector<int> direct;
    std::unordered_map<int, int> sparse;
    bool use_direct = false;

    void build(const std::vector<int>& numbers) {
        const std::size_t count = numbers.size();
        direct.clear();
        sparse.clear();
        int low = 0, high = -1;
        for (std::size_t i = 0; i < count; ++i) {
            int n = numbers[i];
            if (i == 0 || n < low) low = n;
            if (i == 0 || n > high) high = n;
        }
        use_direct = count == 0 || (low >= 0 && static_cast<std::size_t>(high) <= 4 * count + 1024);
        if (use_direct) {
            direct.assign(count == 0 ? 0 : static_cast<std::size_t>(high) + 1, -1);
            for (std::size_t i = count; i-- > 0;) direct[numbers[i]] = static_cast<int>(i);
        } else {
            sparse.reserve(count);
            for (std::size_t i = 0; i < count; ++i)
                sparse.emplace(numbers[i], static_cast<int>(i));
        }
    }
    int find(int number) const {
        if (use_direct) {
            if (number < 0 || static_cast<std::size_t>(number) >= direct.size()) return -1;
            return direct[number];
        }
        auto found = sparse.find(number);
        return found == sparse.end() ? -1 : found->second;
    }
};

struct Deck {
    std::string file_name;
    int header_lines = 0;
    std::vector<int> node_number;
    std::vector<double> node_xyz;  // 3 per node
    std::vector<ElementBlock> blocks;
    std::vector<Element> elements;
    std::vector<int> element_nodes;
    std::vector<ElementSet> element_sets;
    std::vector<Face> faces;
    int surface_sections = 0;
    std::vector<int> surface_found;  // per settings.surface_names entry
    std::vector<int> surface_faces;
};

bool is_keyword(std::string_view word) { return !word.empty() && word[0] == '*'; }
bool is_comment(std::string_view word) { return word.size() >= 2 && word[0] == '*' && word[1] == '*'; }

std::string upper_copy(std::string_view word) {
    std::string text(word);
    to_upper_in_place(text);
    return text;
}

bool same_upper(std::string_view word, std::string_view key) {
    if (word.size() != key.size()) return false;
    for (std::size_t i = 0; i < word.size(); ++i) {
        char c = word[i];
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if (c != key[i]) return false;
    }
    return true;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

char char_at(const std::string& text, std::size_t i) { return i < text.size() ? text[i] : '\0'; }

// The type table. A name that fits no row, or whose node count is not one the faces are
// known for, is unsupported: its elements are skipped, and only a surface face on one of
// them stops the run.
void classify_type(ElementBlock& block) {
    const std::string& t = block.type;
    char c0 = char_at(t, 0), c1 = char_at(t, 1), c2 = char_at(t, 2);
    block.shape = unsupported;
    if (c0 == 'S' && c1 == 'T') {
        char c4 = char_at(t, 4);
        if (c4 == '6') {
            // STRI65: six nodes on the line, the three corners used.
            block.shape = shell;
            block.nodes_per_element = 3;
            block.nodes_on_line = 6;
        } else if (is_digit(c4)) {
            fatal("Element type expected %d verts - not supported. Contact Applications Support at "
                  "TSL.\n",
                  c4 - '0');
        }
        return;
    }
    char count_char = c0 == 'S' ? c1 : (c0 == 'D' && c1 == 'S') ? c2 : '\0';
    if (c0 == 'S' || (c0 == 'D' && c1 == 'S')) {
        if (is_digit(count_char) && count_char >= '3') {
            block.shape = shell;
            block.nodes_per_element = block.nodes_on_line = count_char - '0';
            // S9R5: corners, mid-sides, then a centre node. A fan through all nine would
            // fold over itself; the eight-node fan around the mean covers the element once.
            if (block.nodes_on_line == 9) block.nodes_per_element = 8;
        }
        return;
    }
    if (c0 == 'D' || c0 == 'C' || c0 == 'G') {
        // C3D8 counts from the fourth character, DC3D8 and GK3D8 from the fifth. The "3D"
        // is required: DC2D4 or CPS3 are plane elements, not solids with four or three nodes.
        std::size_t at = (c1 == '3' && c2 == 'D') ? 3 : 4;
        if (at == 4 && !(c2 == '3' && char_at(t, 3) == 'D')) return;
        int count = 0;
        std::size_t i = at;
        for (; i < t.size() && is_digit(t[i]) && i < at + 3; ++i) count = count * 10 + (t[i] - '0');
        switch (count) {
        case 4: case 10: block.shape = tetrahedron; break;
        case 6: case 15: block.shape = wedge; break;
        case 8: case 20: block.shape = hexahedron; break;
        default: return;
        }
        block.nodes_per_element = block.nodes_on_line = count;
    }
}

const FaceCorners* face_table(ElementShape shape, int& face_count) {
    switch (shape) {
    case tetrahedron: face_count = 4; return tetrahedron_faces;
    case wedge: face_count = 5; return wedge_faces;
    case hexahedron: face_count = 6; return hexahedron_faces;
    default: face_count = 0; return nullptr;
    }
}

// Reads the deck: header, the one *NODE block, the *ELEMENT blocks, then (when surfaces
// are wanted) the *SURFACE and *ELSET sections.
class DeckReader {
public:
    DeckReader(Deck& deck, LineReader& in) : deck_(deck), in_(in) {}

    void read() {
        read_header();
        read_nodes();
        if (!have_line_) return;  // no *ELEMENT: a deck of nodes only
        read_element_blocks();
        if (settings.num_surface >= 1) read_sections();
    }

private:
    Deck& deck_;
    LineReader& in_;
    std::string_view line_;
    bool have_line_ = false;  // line_ is read but not yet taken

    bool next() {
        have_line_ = next_line(in_, line_);
        return have_line_;
    }
    static bool first_word(std::string_view line, std::string_view& word, std::string_view& rest) {
        rest = line;
        return next_word(rest, word, deck_separators);
    }

    void read_header() {
        std::string_view word, rest;
        while (next()) {
            if (first_word(line_, word, rest) && same_upper(word, "*NODE")) {
                deck_.header_lines = in_.line_number;
                say("   Headerlines=%d\n", deck_.header_lines);
                return;
            }
        }
        fatal("Error: %s has no *NODE line: the nodes must come in one *NODE block before the "
              "*ELEMENT blocks\n",
              deck_.file_name.c_str());
    }

    void read_nodes() {
        std::string_view word, rest, value;
        while (next()) {
            if (!first_word(line_, word, rest)) continue;
            if (same_upper(word, "*ELEMENT")) break;
            std::string_view numbers = rest;
            int words = 0;
            while (words < 3 && next_word(numbers, value, deck_separators)) ++words;
            if (words < 3) fatal("error, node line contains less than three coordinates\n");
            if (is_comment(word)) continue;
            deck_.node_number.push_back(read_int(word));
            for (int k = 0; k < 3; ++k) {
                next_word(rest, value, deck_separators);
                deck_.node_xyz.push_back(read_real(value));
            }
        }
        say("   Nodelines=%d\n", static_cast<int>(deck_.node_number.size()));
    }

    // Starts on the first *ELEMENT line; leaves the first other keyword line in line_.
    void read_element_blocks() {
        std::string_view word, rest;
        while (have_line_) {
            first_word(line_, word, rest);
            if (!same_upper(word, "*ELEMENT")) return;
            start_block(rest);
            ElementBlock& block = deck_.blocks.back();
            while (next()) {
                if (!first_word(line_, word, rest) || is_comment(word)) continue;
                if (is_keyword(word)) break;
                read_element_line(block, word, rest);
            }
        }
    }

    void start_block(std::string_view rest) {
        std::string_view key, type;
        if (!next_word(rest, key, deck_separators) || !next_word(rest, type, deck_separators))
            fatal("error: improperly formatted element line");
        ElementBlock block;
        block.type = std::string(type);
        block.first_element = static_cast<int>(deck_.elements.size());
        classify_type(block);
        if (block.shape == unsupported) say("Warning: element type %s not supported", block.type.c_str());
        deck_.blocks.push_back(std::move(block));
    }

    void read_element_line(ElementBlock& block, std::string_view number_word, std::string_view rest) {
        Element element;
        element.number = read_int(number_word);
        element.block = static_cast<int>(deck_.blocks.size()) - 1;
        element.node_begin = static_cast<int>(deck_.element_nodes.size());
        deck_.elements.push_back(element);
        ++block.element_count;
        if (block.shape == unsupported) {
            // The node count is unknown: a line ending in a comma continues, as in ABAQUS.
            while (ends_with_comma(line_)) {
                if (!next()) return;
            }
            return;
        }
        std::string first_line;  // for the message, only when the element goes on
        int found = 0;
        std::string_view word;
        while (true) {
            while (found < block.nodes_on_line && next_word(rest, word, deck_separators)) {
                if (found < block.nodes_per_element) deck_.element_nodes.push_back(read_int(word));
                ++found;
            }
            if (found == block.nodes_on_line) return;
            if (first_line.empty()) first_line = std::string(line_);
            // The node numbers go on on the next line that holds any.
            std::string_view next_first;
            do {
                if (!next()) fatal("token null with eof");
            } while (!first_word(line_, next_first, rest) || is_comment(next_first));
            if (is_keyword(next_first))
                fatal("error: improperly format, expected %d nodes for mm=%d with input line %s\n",
                      block.nodes_on_line, found, first_line.c_str());
            rest = line_;
        }
    }

    static bool ends_with_comma(std::string_view line) {
        std::size_t end = line.find_last_not_of(" \t\r");
        return end != std::string_view::npos && line[end] == ',';
    }

    enum class Section { none, surface, element_set };

    void read_sections() {
        Section section = Section::none;
        int current_surface = -1;  // matched entry of surface_names, or -1: lines ignored
        bool generate = false;     // element set given as start, end, step
        std::string_view word, rest;
        auto end_set = [&] {
            if (section == Section::element_set) {
                const ElementSet& set = deck_.element_sets.back();
                say("Read %d elements from elset %s\n", static_cast<int>(set.elements.size()),
                    set.name.c_str());
            }
            section = Section::none;
        };
        // The line ending the element blocks is the first section line.
        for (bool more = have_line_; more; more = next()) {
            if (!first_word(line_, word, rest)) continue;
            if (is_comment(word)) {
                // A comment does not end a section, so no face or set member after it is lost.
                say("skipping %s\n", upper_copy(word).c_str());
                continue;
            }
            if (is_keyword(word)) {
                end_set();
                if (same_upper(word, "*SURFACE")) {
                    current_surface = start_surface(rest);
                    section = Section::surface;
                } else if (same_upper(word, "*ELSET") && settings.use_elset == 1) {
                    generate = start_element_set(rest);
                    section = Section::element_set;
                } else {
                    say("Found %s section\n", upper_copy(word).c_str());
                }
                continue;
            }
            if (section == Section::surface && current_surface >= 0)
                read_surface_line(word, rest, current_surface);
            else if (section == Section::element_set)
                read_set_line(word, rest, generate);
        }
        end_set();
    }

    int start_surface(std::string_view rest) {
        ++deck_.surface_sections;
        std::string_view word, name;
        bool found_name = false;
        while (next_word(rest, word, deck_separators)) {
            if (same_upper(word, "NAME")) {
                found_name = next_word(rest, name, deck_separators);
                break;
            }
        }
        if (!found_name)
            fatal("error: improperly formatted element line, did not find NAME before eol");
        std::string name_text(name);
        say("Read surface %s\n", name_text.c_str());
        int current = -1;
        for (std::size_t s = 0; s < settings.surface_names.size() && s < max_surfaces; ++s) {
            if (settings.surface_names[s] == name_text) {
                say("   Creating surface %s\n", name_text.c_str());
                current = static_cast<int>(s);
                deck_.surface_found[s] = 1;
            }
        }
        return current;
    }

    bool start_element_set(std::string_view rest) {
        std::string_view key, name, word;
        if (!next_word(rest, key, deck_separators) || !same_upper(key, "ELSET") ||
            !next_word(rest, name, deck_separators))
            fatal("Error: %s line %d: expected \"*ELSET, ELSET=<name>\"\n", deck_.file_name.c_str(),
                  in_.line_number);
        bool generate = false;
        while (next_word(rest, word, deck_separators))
            if (same_upper(word, "GENERATE")) generate = true;
        ElementSet set;
        set.name = std::string(name);
        deck_.element_sets.push_back(std::move(set));
        return generate;
    }

    void read_set_line(std::string_view word, std::string_view rest, bool generate) {
        std::vector<int>& elements = deck_.element_sets.back().elements;
        if (!generate) {
            do {
                elements.push_back(read_int(word));
            } while (next_word(rest, word, deck_separators));
            return;
        }
        std::string_view end_word, step_word;
        if (!next_word(rest, end_word, deck_separators))
            fatal("Error: %s line %d: a GENERATE element set line needs a first and a last element\n",
                  deck_.file_name.c_str(), in_.line_number);
        long first = read_int(word), last = read_int(end_word), step = 1;
        if (next_word(rest, step_word, deck_separators)) step = read_int(step_word);
        if (step < 1 || last < first)
            fatal("Error: %s line %d: a GENERATE element set line needs first <= last and a step of "
                  "1 or more\n",
                  deck_.file_name.c_str(), in_.line_number);
        // A range wider than the deck's elements is a typo, not a set: refused before it
        // takes all memory.
        if ((last - first) / step + 1 > static_cast<long>(deck_.elements.size()))
            fatal("Error: %s line %d: GENERATE range %ld to %ld holds more elements than the deck's "
                  "%d\n",
                  deck_.file_name.c_str(), in_.line_number, first, last,
                  static_cast<int>(deck_.elements.size()));
        for (long e = first; e <= last; e += step) elements.push_back(static_cast<int>(e));
    }

    void read_surface_line(std::string_view word, std::string_view rest, int surface) {
        std::string_view face_word;
        if (!next_word(rest, face_word, face_separators))
            fatal("Error: %s line %d: surface line \"%.*s\" has no face (S1 to S6)\n",
                  deck_.file_name.c_str(), in_.line_number, static_cast<int>(line_.size()),
                  line_.data());
        Face face;
        face.face = read_int(face_word);
        face.surface = surface;
        face.line = in_.line_number;
        if (settings.use_elset != 1) {
            face.element = read_int(word);
            deck_.faces.push_back(face);
            ++deck_.surface_faces[surface];
            return;
        }
        std::string name(word);
        say("found elset %s\n", name.c_str());
        const ElementSet* set = nullptr;
        for (const ElementSet& candidate : deck_.element_sets) {
            if (candidate.name == name) {
                set = &candidate;
                break;
            }
        }
        if (!set) fatal("Error: could not find Elset, reached NULL\n");
        for (int e : set->elements) {
            face.element = e;
            deck_.faces.push_back(face);
        }
        deck_.surface_faces[surface] += static_cast<int>(set->elements.size());
    }
};

// Gives every face its element and corner nodes.
void set_up_faces(Deck& deck, const NumberIndex& element_index) {
    say("Setting up surface faces from element data\n");
    for (Face& face : deck.faces) {
        int e = element_index.find(face.element);
        if (e < 0)
            fatal("Error: %s line %d: the surface refers to element %d, which the deck does not "
                  "define\n",
                  deck.file_name.c_str(), face.line, face.element);
        const ElementBlock& block = deck.blocks[deck.elements[e].block];
        int face_count = 0;
        const FaceCorners* table = face_table(block.shape, face_count);
        if (!table)
            fatal("Error, a surface is referencing element type %s, which is currently not "
                  "supported. (Casetype=%d) Exiting. \n",
                  block.type.c_str(), static_cast<int>(block.shape));
        if (face.face < 1 || face.face > face_count) fatal("Error \n");
        const FaceCorners& corners = table[face.face - 1];
        face.element_index = e;
        face.corner_count = corners.count;
        for (int k = 0; k < corners.count; ++k)
            face.corner[k] = deck.element_nodes[deck.elements[e].node_begin + corners.node[k] - 1];
    }
}

// The surface being built: vertices 1.. as in the file, triangles with their surface number.
struct Builder {
    const Deck& deck;
    const NumberIndex& node_index;
    int vertex_limit = 0;
    std::vector<double> xyz;  // 3 per vertex
    std::vector<int> triangle_vertices;  // 3 per triangle, 1-based vertex numbers

    Builder(const Deck& deck_in, const NumberIndex& nodes) : deck(deck_in), node_index(nodes) {}

    int vertex_of(int node) const {
        int k = node_index.find(node);
        if (k < 0)
            fatal("Error: did not find node for nodeID %d with %d nodes\n\n", node,
                  static_cast<int>(deck.node_number.size()));
        return k + 1;
    }
    int add_centre(const int* nodes, int count) {
        double sum[3] = {0, 0, 0};
        for (int k = 0; k < count; ++k) {
            if (nodes[k] == 0) fatal("Error in find aver node %d %d\n", k + 1, count);
            int v = vertex_of(nodes[k]) - 1;
            for (int d = 0; d < 3; ++d) sum[d] += xyz[3 * v + d];
        }
        if (static_cast<int>(xyz.size() / 3) >= vertex_limit)
            fatal("Error: trying to create too many verts\n");
        for (int d = 0; d < 3; ++d) xyz.push_back(sum[d] / count);
        return static_cast<int>(xyz.size() / 3);
    }
    void add_triangle(int a, int b, int c, int element, int face, int surface) {
        triangle_vertices.push_back(a);
        triangle_vertices.push_back(b);
        triangle_vertices.push_back(c);
        element_number.push_back(element);
        face_number.push_back(face);
        surface_number.push_back(surface);
    }

    void add_shell(const Element& element, const int* nodes, int n) {
        if (n == 3) {
            add_triangle(vertex_of(nodes[0]), vertex_of(nodes[1]), vertex_of(nodes[2]),
                         element.number, 0, 0);
            return;
        }
        int c = add_centre(nodes, n);
        auto v = [&](int k) { return vertex_of(nodes[k - 1]); };  // 1-based, as N1..Nn
        add_triangle(c, v(1), v(n), element.number, 0, 0);
        if (n == 6 || n == 8) {
            // Corners first, then the mid-side nodes: the fan runs corner, mid-side, corner.
            int h = n / 2;
            add_triangle(c, v(h), v(n), element.number, 0, 0);
            for (int k = 1; k <= h - 1; ++k) {
                add_triangle(c, v(k), v(k + h), element.number, 0, 0);
                add_triangle(c, v(k + h), v(k + 1), element.number, 0, 0);
            }
        } else {
            for (int k = 1; k <= n - 1; ++k) add_triangle(c, v(k), v(k + 1), element.number, 0, 0);
        }
    }

    void add_face(const Face& face, int element) {
        int surface = face.surface + 1;
        const int* f = face.corner;
        if (face.corner_count == 3) {
            add_triangle(vertex_of(f[0]), vertex_of(f[1]), vertex_of(f[2]), element, face.face, surface);
            return;
        }
        int c = add_centre(f, 4);
        int v1 = vertex_of(f[0]), v2 = vertex_of(f[1]), v3 = vertex_of(f[2]), v4 = vertex_of(f[3]);
        add_triangle(c, v1, v4, element, face.face, surface);
        add_triangle(c, v1, v2, element, face.face, surface);
        add_triangle(c, v2, v3, element, face.face, surface);
        add_triangle(c, v3, v4, element, face.face, surface);
    }
};

void open_result(OutFile& file, const char* name) {
    if (!open_result_file(file, name, LineEnd::crlf))
        fatal("ERROR: %s file does not exist\n", name);
}

// A full disk must not pass for a finished conversion.
void close_result(OutFile& file) {
    std::string name = file.name;
    if (!try_close_out_file(file)) fatal("ERROR: could not write %s\n", name.c_str());
}

}  // namespace

void read_abaqus_deck(const std::string& file_name) {
    say("\n******************************************************************************************\n");
    say("Reading ABAQUS input file. This utility directly reads the .inp format ABAQUS file\nand "
        "generates a surface (.dat) that is read for mapping.\n");
    say("The automatically generated .dat file can be viewed in Kelvora Studio to verify accuracy.\n");
    say("Currently Shell elements and surfaces made from faces of DC3D elements are supported. \n");
    say("******************************************************************************************\n\n\n\n");
    if (settings.num_surface > max_surfaces)
        fatal("Error: maximum 100 surfaces can be read: contact support\n");

    element_number.clear();
    face_number.clear();
    surface_number.clear();

    Deck deck;
    deck.file_name = file_name;
    deck.surface_found.assign(settings.surface_names.size(), 0);
    deck.surface_faces.assign(settings.surface_names.size(), 0);
    {
        LineReader in;
        if (!open_line_reader(in, file_name))
            fatal("ERROR: %s file does not exist\n", file_name.c_str());
        say("Reading file %s\n", file_name.c_str());
        DeckReader reader(deck, in);
        reader.read();
        close_line_reader(in);
    }

    NumberIndex element_index;
    {
        std::vector<int> numbers(deck.elements.size());
        for (std::size_t e = 0; e < numbers.size(); ++e) numbers[e] = deck.elements[e].number;
        element_index.build(numbers);
    }
    set_up_faces(deck, element_index);

    // Faces of each element, in the order they were added.
    std::vector<int> face_begin(deck.elements.size() + 1, 0);
    for (const Face& face : deck.faces) ++face_begin[face.element_index + 1];
    for (std::size_t e = 0; e < deck.elements.size(); ++e) face_begin[e + 1] += face_begin[e];
    std::vector<int> faces_of_element(deck.faces.size());
    {
        std::vector<int> fill(face_begin.begin(), face_begin.end() - 1);
        for (std::size_t f = 0; f < deck.faces.size(); ++f)
            faces_of_element[fill[deck.faces[f].element_index]++] = static_cast<int>(f);
    }

    int shell_blocks = 0, solid_blocks = 0;
    for (const ElementBlock& block : deck.blocks) {
        if (block.shape == shell) ++shell_blocks;
        else if (block.shape != unsupported) ++solid_blocks;
    }
    const int node_count = static_cast<int>(deck.node_number.size());
    say("ABAQUS file contains:\n");
    say("Nodes: %d\n", node_count);
    say("Types of Shell Elements: %d, Types of 3D Elements: %d \n", shell_blocks, solid_blocks);
    say("Surfaces: %d\n", deck.surface_sections);
    for (const ElementBlock& block : deck.blocks) {
        if (block.shape == shell)
            say("There are %d shell element %s, with %d nodes each\n", block.element_count,
                block.type.c_str(), block.nodes_per_element);
    }
    for (std::size_t s = 0; s < deck.surface_found.size(); ++s) {
        if (deck.surface_found[s])
            say("There are %d faces for surface %s\n", deck.surface_faces[s],
                settings.surface_names[s].c_str());
    }

    long vertex_count = node_count, triangle_count = 0;
    for (const ElementBlock& block : deck.blocks) {
        if (block.shape != shell) continue;
        int n = block.nodes_per_element;
        vertex_count += n >= 4 ? block.element_count : 0;
        triangle_count += static_cast<long>(n >= 4 ? n : 1) * block.element_count;
    }
    for (const Face& face : deck.faces) {
        vertex_count += face.corner_count == 4 ? 1 : 0;
        triangle_count += face.corner_count == 4 ? 4 : 1;
    }
    if (vertex_count > 2147483647L / 3 || triangle_count > 2147483647L / 3)
        fatal("Error: %s makes %ld vertices and %ld triangles, more than a surface file can hold\n",
              file_name.c_str(), vertex_count, triangle_count);
    const int verts = static_cast<int>(vertex_count), triangles = static_cast<int>(triangle_count);
    say("Creating Kelvora surface with %d verts and %d triangles\n\n", verts, triangles);

    NumberIndex node_index;
    say("Reading nodes\n");
    node_index.build(deck.node_number);
    say("Done reading nodes\n");

    Builder builder(deck, node_index);
    builder.vertex_limit = verts;
    builder.xyz.reserve(3 * static_cast<std::size_t>(verts));
    builder.xyz.insert(builder.xyz.end(), deck.node_xyz.begin(), deck.node_xyz.end());
    builder.triangle_vertices.reserve(3 * static_cast<std::size_t>(triangles));
    element_number.reserve(triangles);
    face_number.reserve(triangles);
    surface_number.reserve(triangles);
    for (std::size_t b = 0; b < deck.blocks.size(); ++b) {
        const ElementBlock& block = deck.blocks[b];
        say("Reading element block %d of %d blocks with %d elements\n", static_cast<int>(b) + 1,
            static_cast<int>(deck.blocks.size()), block.element_count);
        for (int e = block.first_element; e < block.first_element + block.element_count; ++e) {
            const Element& element = deck.elements[e];
            if (block.shape == shell) {
                builder.add_shell(element, &deck.element_nodes[element.node_begin],
                                  block.nodes_per_element);
                continue;
            }
            for (int k = face_begin[e]; k < face_begin[e + 1]; ++k)
                builder.add_face(deck.faces[faces_of_element[k]], element.number);
        }
    }
    say("\n\nfile read complete\n\n");

    const int made_vertices = static_cast<int>(builder.xyz.size() / 3);
    const int made_triangles = static_cast<int>(element_number.size());
    OutFile surface;
    open_result(surface, "abaqus.dat");
    say("Numverts=%d, made=%d,Triangles=%d, made=%d\n", verts, made_vertices, triangles,
        made_triangles);
    if (made_triangles > 0) out_format(surface, "%d   %d   %d\n", verts, verts, made_triangles);
    else out_format(surface, "%d   %d   1\n", verts, verts);
    for (int v = 0; v < made_vertices; ++v)
        out_format(surface, "%d   %f   %f   %f\n", v + 1, builder.xyz[3 * v], builder.xyz[3 * v + 1],
                   builder.xyz[3 * v + 2]);
    const std::vector<int>& tv = builder.triangle_vertices;
    for (int t = 0; t < made_triangles; ++t)
        out_format(surface, "%d   %d   %d   %d\n", tv[3 * t], tv[3 * t + 1], tv[3 * t + 2],
                   surface_number[t]);
    if (made_triangles == 0) out_text(surface, "1 2 3 0\n");
    close_result(surface);

    OutFile list;
    open_result(list, "ABAQUS_elementlist.dat");
    out_format(list, "%d\n", made_triangles);
    for (int t = 0; t < made_triangles; ++t) {
        const char* name = surface_number[t] > 0 ? settings.surface_names[surface_number[t] - 1].c_str() : "";
        out_format(list, "%s.%d, P%d\n", name, element_number[t], face_number[t]);
    }
    close_result(list);
    // The surface is read back from abaqus.dat next: the pair takes its names now.
    commit_result_files();

    say("lists free\n");
    flush_say();
}
