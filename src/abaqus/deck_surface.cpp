// abaqus/deck_surface.cpp: from the deck's records to the triangles of the surface file.
#include "abaqus/deck_surface.h"

#include "config/options.h"
#include "platform/fatal.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

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

const FaceCorners* face_table(ElementShape shape, int& face_count) {
    switch (shape) {
    case tetrahedron: face_count = 4; return tetrahedron_faces;
    case wedge: face_count = 5; return wedge_faces;
    case hexahedron: face_count = 6; return hexahedron_faces;
    default: face_count = 0; return nullptr;
    }
}

// The faces of every solid element of the deck, each known by its sorted corner nodes: a
// face whose corners another solid's face also has is inside the body, any other is free.
// Every face is hashed once, so finding the free faces is linear in the deck.
class SharedFaces {
public:
    explicit SharedFaces(const Deck& deck) : deck_(deck) {
        if (deck.elements.size() > static_cast<std::size_t>(2147483647 / faces_per_element))
            fatal("Error: %s has too many elements to find free faces\n", deck.file_name.c_str());
        std::size_t solid_faces = 0;
        for (const ElementBlock& block : deck.blocks) {
            int count = 0;
            face_table(block.shape, count);
            solid_faces += static_cast<std::size_t>(count) * block.element_count;
        }
        std::size_t capacity = 16;
        while (capacity < 2 * solid_faces) capacity *= 2;
        slots_.assign(capacity, -1);
        shared_.assign(deck.elements.size() * faces_per_element, 0);
        for (const ElementBlock& block : deck.blocks) {
            int count = 0;
            if (!face_table(block.shape, count)) continue;
            for (int e = block.first_element; e < block.first_element + block.element_count; ++e)
                for (int f = 0; f < count; ++f) insert(e * faces_per_element + f);
        }
    }
    bool shared(int element_index, int face) const {
        return shared_[element_index * faces_per_element + face - 1] != 0;
    }

private:
    static constexpr int faces_per_element = 6;
    struct Key {
        int count;
        int node[4];
        bool operator==(const Key& other) const {
            if (count != other.count) return false;
            for (int k = 0; k < count; ++k)
                if (node[k] != other.node[k]) return false;
            return true;
        }
    };
    const Deck& deck_;
    std::vector<int> slots_;             // face ids (element index * 6 + face - 1), -1 empty
    std::vector<unsigned char> shared_;  // per face id

    Key key_of(int id) const {
        const int e = id / faces_per_element;
        const ElementBlock& block = deck_.blocks[deck_.elements[e].block];
        int count = 0;
        const FaceCorners& corners = face_table(block.shape, count)[id % faces_per_element];
        Key key{corners.count, {0, 0, 0, 0}};
        const int* nodes = &deck_.element_nodes[deck_.elements[e].node_begin];
        for (int k = 0; k < corners.count; ++k) {
            int node = nodes[corners.node[k] - 1], at = k;
            for (; at > 0 && key.node[at - 1] > node; --at) key.node[at] = key.node[at - 1];
            key.node[at] = node;
        }
        return key;
    }
    static std::size_t hash(const Key& key) {
        std::uint64_t h = static_cast<std::uint64_t>(key.count);
        for (int k = 0; k < key.count; ++k)
            h = (h ^ static_cast<std::uint32_t>(key.node[k])) * 0x9E3779B97F4A7C15ull;
        return static_cast<std::size_t>(h ^ (h >> 29));
    }
    void insert(int id) {
        const Key key = key_of(id);
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t at = hash(key) & mask;; at = (at + 1) & mask) {
            if (slots_[at] < 0) {
                slots_[at] = id;
                return;
            }
            if (key_of(slots_[at]) == key) {
                shared_[slots_[at]] = 1;
                shared_[id] = 1;
                return;
            }
        }
    }
};

int boundary_id_of(int surface) {
    if (surface < static_cast<int>(settings.surface_ids.size())) return settings.surface_ids[surface];
    return surface + 1;
}

NumberIndex index_of_elements(const Deck& deck) {
    std::vector<int> numbers(deck.elements.size());
    for (std::size_t e = 0; e < numbers.size(); ++e) numbers[e] = deck.elements[e].number;
    NumberIndex index;
    index.build(numbers);
    return index;
}

// Fills the surface's vertices and triangles: vertices 1.. as in the file.
struct Builder {
    const Deck& deck;
    const NumberIndex& node_index;
    DeckSurface& out;

    Builder(const Deck& deck_in, const NumberIndex& nodes, DeckSurface& surface)
        : deck(deck_in), node_index(nodes), out(surface) {
        const std::size_t triangles = static_cast<std::size_t>(out.triangle_count);
        out.xyz.reserve(3 * static_cast<std::size_t>(out.vertex_count));
        out.xyz.assign(deck.node_xyz.begin(), deck.node_xyz.end());
        out.triangle_vertices.reserve(3 * triangles);
        out.element_number.reserve(triangles);
        out.face_number.reserve(triangles);
        out.surface_number.reserve(triangles);
        out.boundary_id.reserve(triangles);
    }

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
            for (int d = 0; d < 3; ++d) sum[d] += out.xyz[3 * v + d];
        }
        if (static_cast<int>(out.xyz.size() / 3) >= out.vertex_count)
            fatal("Error: trying to create too many verts\n");
        for (int d = 0; d < 3; ++d) out.xyz.push_back(sum[d] / count);
        return static_cast<int>(out.xyz.size() / 3);
    }
    void add_triangle(int a, int b, int c, int element, int face, int surface) {
        out.triangle_vertices.push_back(a);
        out.triangle_vertices.push_back(b);
        out.triangle_vertices.push_back(c);
        out.element_number.push_back(element);
        out.face_number.push_back(face);
        out.surface_number.push_back(surface);
        out.boundary_id.push_back(surface > 0 ? boundary_id_of(surface - 1) : 0);
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

}  // namespace

void set_up_faces(const Deck& deck, DeckSurface& surface) {
    say("Setting up surface faces from element data\n");
    const NumberIndex element_index = index_of_elements(deck);
    std::unique_ptr<SharedFaces> shared_faces;  // made when a line first asks for free faces
    surface.faces_of_surface.assign(settings.surface_names.size(), 0);
    surface.faces.reserve(deck.surface_entries.size());
    for (const SurfaceEntry& entry : deck.surface_entries) {
        int e = element_index.find(entry.element);
        if (e < 0)
            fatal("Error: %s line %d: the surface refers to element %d, which the deck does not "
                  "define\n",
                  deck.file_name.c_str(), entry.line, entry.element);
        const ElementBlock& block = deck.blocks[deck.elements[e].block];
        int face_count = 0;
        const FaceCorners* table = face_table(block.shape, face_count);
        if (!table)
            fatal("Error, a surface is referencing element type %s, which is currently not "
                  "supported. (Casetype=%d) Exiting. \n",
                  block.type.c_str(), static_cast<int>(block.shape));
        int first = entry.face, last = entry.face;
        if (entry.free_faces) {
            if (!shared_faces) shared_faces = std::make_unique<SharedFaces>(deck);
            first = 1;
            last = face_count;
        } else if (entry.face < 1 || entry.face > face_count) {
            fatal("Error \n");
        }
        for (int n = first; n <= last; ++n) {
            if (entry.free_faces && shared_faces->shared(e, n)) continue;
            const FaceCorners& corners = table[n - 1];
            Face face;
            face.element_index = e;
            face.face = n;
            face.surface = entry.surface;
            face.corner_count = corners.count;
            for (int k = 0; k < corners.count; ++k)
                face.corner[k] = deck.element_nodes[deck.elements[e].node_begin + corners.node[k] - 1];
            surface.faces.push_back(face);
            ++surface.faces_of_surface[entry.surface];
        }
    }
}

void plan_surface(const Deck& deck, DeckSurface& surface) {
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
            say("There are %d faces for surface %s\n", surface.faces_of_surface[s],
                settings.surface_names[s].c_str());
    }

    long vertex_count = node_count, triangle_count = 0;
    for (const ElementBlock& block : deck.blocks) {
        if (block.shape != shell) continue;
        int n = block.nodes_per_element;
        vertex_count += n >= 4 ? block.element_count : 0;
        triangle_count += static_cast<long>(n >= 4 ? n : 1) * block.element_count;
    }
    for (const Face& face : surface.faces) {
        vertex_count += face.corner_count == 4 ? 1 : 0;
        triangle_count += face.corner_count == 4 ? 4 : 1;
    }
    if (vertex_count > 2147483647L / 3 || triangle_count > 2147483647L / 3)
        fatal("Error: %s makes %ld vertices and %ld triangles, more than a surface file can hold\n",
              deck.file_name.c_str(), vertex_count, triangle_count);
    surface.vertex_count = static_cast<int>(vertex_count);
    surface.triangle_count = static_cast<int>(triangle_count);
    say("Creating Kelvora surface with %d verts and %d triangles\n\n", surface.vertex_count,
        surface.triangle_count);
}

void build_surface(const Deck& deck, DeckSurface& surface) {
    // Faces of each element, in the order they were added: an element's triangles come
    // together, in deck order.
    const std::vector<Face>& faces = surface.faces;
    std::vector<int> face_begin(deck.elements.size() + 1, 0);
    for (const Face& face : faces) ++face_begin[face.element_index + 1];
    for (std::size_t e = 0; e < deck.elements.size(); ++e) face_begin[e + 1] += face_begin[e];
    std::vector<int> faces_of_element(faces.size());
    {
        std::vector<int> fill(face_begin.begin(), face_begin.end() - 1);
        for (std::size_t f = 0; f < faces.size(); ++f)
            faces_of_element[fill[faces[f].element_index]++] = static_cast<int>(f);
    }

    NumberIndex node_index;
    say("Reading nodes\n");
    node_index.build(deck.node_number);
    say("Done reading nodes\n");

    Builder builder(deck, node_index, surface);
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
                builder.add_face(faces[faces_of_element[k]], element.number);
        }
    }
    say("\n\nfile read complete\n\n");
}
