#ifndef CORVANE_SIMULATE_POPULATION_TREE_H
#define CORVANE_SIMULATE_POPULATION_TREE_H

// The history of the sampled populations as a rooted tree, with time in units
// of 2N generations counted back from the present. Every leaf is a sampled
// population, at height 0; every inner node is the population that its
// children's populations merge into, at the node's height. The root's
// population reaches back without end.

#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

namespace simulate {

struct PopulationTree {
    static constexpr std::size_t no_parent = static_cast<std::size_t>(-1);
    struct Node {
        std::string name;                   // leaves only
        std::vector<std::size_t> children;  // empty for a leaf
        std::size_t parent = no_parent;
        double height = 0;
    };
    // Every node after its children, so the root is the last.
    std::vector<Node> nodes;
    // The leaves in the order the tree lists them.
    std::vector<std::size_t> leaves;

    const Node& root() const { return nodes.back(); }
    const Node& leaf(std::size_t index) const { return nodes[leaves[index]]; }
};

// A Newick text the program cannot take; the message names the character
// position (from 1) where the trouble lies.
class NewickError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The star: `leaves` populations named parent1, parent2, ... that split from
// one ancestral population `split_time` ago.
PopulationTree star_tree(std::size_t leaves, double split_time);

// Reads a tree such as "((A:0.5,B:0.5):0.5,C:1);": every leaf named (letters,
// digits, '_', '.', '-'; names distinct), every branch but the root's given a
// length of at least 0, every inner node with two children or more and no
// name, white space allowed between tokens. The tree must be ultrametric: the
// depths of the leaves below the root may differ by at most
// ultrametric_tolerance times the largest, and the root must lie above the
// leaves. A node's height is the largest depth of a leaf below it, counted
// from the node, so that rounding in the text never puts a parent below a child.
PopulationTree parse_newick(const std::string& text);

constexpr double ultrametric_tolerance = 1e-6;

// Whether `name` can name a population: one token of the characters above.
bool is_population_name(const std::string& name);

}  // namespace simulate

#endif
