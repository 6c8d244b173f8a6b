// abaqus/deck_reader.cpp: the deck read line by line into flat tables: header, the *NODE
// block, the *ELEMENT blocks, then the *SURFACE and *ELSET sections. Nothing is built here;
// the surface builder turns the surface entries into faces.
#include "abaqus/deck_reader.h"

#include "config/options.h"
#include "platform/fatal.h"
#include "platform/io.h"
#include "platform/numbers.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::string_view deck_separators = " \t\r\n,=";
constexpr std::string_view face_separators = " \t\r\n,=S";

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
        for (std::size_t s = 0; s < settings.surface_names.size() && s < max_deck_surfaces; ++s) {
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

    // "element, Sn" or "set, Sn"; without a face identifier the line asks for the element's
    // free faces, which only the whole deck can tell, so the builder finds them.
    void read_surface_line(std::string_view word, std::string_view rest, int surface) {
        std::string_view face_word;
        SurfaceEntry entry;
        entry.free_faces = !next_word(rest, face_word, face_separators);
        if (!entry.free_faces) entry.face = read_int(face_word);
        entry.surface = surface;
        entry.line = in_.line_number;
        if (settings.use_elset != 1) {
            entry.element = read_int(word);
            deck_.surface_entries.push_back(entry);
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
            entry.element = e;
            deck_.surface_entries.push_back(entry);
        }
    }
};

}  // namespace

void read_deck(Deck& deck, const std::string& file_name) {
    deck.file_name = file_name;
    deck.surface_found.assign(settings.surface_names.size(), 0);
    LineReader in;
    if (!open_line_reader(in, file_name)) fatal("ERROR: %s file does not exist\n", file_name.c_str());
    say("Reading file %s\n", file_name.c_str());
    DeckReader reader(deck, in);
    reader.read();
    close_line_reader(in);
}
