#include "population_tree.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <set>

namespace simulate {

namespace {

// Deeper nesting than any history of sampled populations needs; the limit
// keeps the recursive reader's stack small whatever the text.
constexpr int max_nesting = 1000;

bool is_name_character(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '.' ||
           c == '-';
}

std::string six_digits(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", value);
    return text;
}

// A recursive reader of one Newick text that fills the tree in post-order and
// remembers each node's branch length.
class NewickReader {
public:
    explicit NewickReader(const std::string& text) : text_(text) {}

    PopulationTree read()
    {
        const std::size_t root = read_subtree(0);
        if (tree_.nodes[root].children.empty())
            fail("a tree of one population; at least 2 are needed");
        skip_blanks();
        if (peek() == ':')
            fail("the root has a branch length; its population reaches back without end, so give none");
        expect(';', "';' after the root");
        skip_blanks();
        if (at_ < text_.size())
            fail("text after the closing ';'");
        set_heights();
        return std::move(tree_);
    }

private:
    [[noreturn]] void fail(const std::string& what) const
    {
        throw NewickError("at character " + std::to_string(std::min(at_, text_.size()) + 1) + ": " + what);
    }

    void skip_blanks()
    {
        while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\n' ||
                                      text_[at_] == '\r'))
            ++at_;
    }

    char peek() const { return at_ < text_.size() ? text_[at_] : '\0'; }

    void expect(char c, const char* what)
    {
        skip_blanks();
        if (peek() != c)
            fail(std::string("expected ") + what + (at_ < text_.size() ? ", found '" + std::string(1, peek()) + "'"
                                                                        : ", found the end of the tree"));
        ++at_;
    }

    std::size_t add_node(PopulationTree::Node node)
    {
        tree_.nodes.push_back(std::move(node));
        lengths_.push_back(0);
        return tree_.nodes.size() - 1;
    }

    std::size_t read_subtree(int nesting)
    {
        skip_blanks();
        if (peek() != '(')
            return read_leaf();
        if (nesting >= max_nesting)
            fail("the tree nests deeper than " + std::to_string(max_nesting) + " levels");
        ++at_;
        PopulationTree::Node node;
        for (bool more = true; more;) {
            const std::size_t child = read_subtree(nesting + 1);
            read_length(child);
            node.children.push_back(child);
            skip_blanks();
            more = peek() == ',';
            if (more)
                ++at_;
        }
        expect(')', "',' or ')'");
        if (node.children.size() < 2)
            fail("a node with one child; every split gives two populations or more");
        skip_blanks();
        if (is_name_character(peek()))
            fail("a name after ')'; only the leaves, the sampled populations, are named");
        const std::size_t index = add_node(std::move(node));
        for (std::size_t child : tree_.nodes[index].children)
            tree_.nodes[child].parent = index;
        return index;
    }

    std::size_t read_leaf()
    {
        const std::size_t start = at_;
        while (is_name_character(peek()))
            ++at_;
        if (at_ == start)
            fail(at_ < text_.size() ? "expected a population name or '(', found '" + std::string(1, peek()) + "'"
                                    : "expected a population name or '(', found the end of the tree");
        PopulationTree::Node leaf;
        leaf.name = text_.substr(start, at_ - start);
        if (!names_.insert(leaf.name).second) {
            at_ = start;
            fail("the population " + leaf.name + " is named twice");
        }
        const std::size_t index = add_node(std::move(leaf));
        tree_.leaves.push_back(index);
        return index;
    }

    void read_length(std::size_t node)
    {
        expect(':', ("':' and the branch length after " + describe(node)).c_str());
        skip_blanks();
        const std::size_t start = at_;
        while (at_ < text_.size() && std::string(",():; \t\r\n").find(text_[at_]) == std::string::npos)
            ++at_;
        const char* first = text_.data() + start;
        const char* last = text_.data() + at_;
        double length = 0;
        const auto [stop, error] = std::from_chars(first, last, length);
        if (error != std::errc() || stop != last || start == at_ || !std::isfinite(length) || length < 0) {
            at_ = start;
            fail("the branch length of " + describe(node) + " is \"" + std::string(first, last) +
                 "\", not a number of at least 0");
        }
        lengths_[node] = length;
    }

    std::string describe(std::size_t node) const
    {
        return tree_.nodes[node].children.empty() ? tree_.nodes[node].name : "the group before it";
    }

    // Depths from the root down, then heights from the leaves up; the root is
    // the last node and every parent comes after its children.
    void set_heights()
    {
        std::vector<double> depth(tree_.nodes.size(), 0);
        for (std::size_t n = tree_.nodes.size() - 1; n-- > 0;)
            depth[n] = depth[tree_.nodes[n].parent] + lengths_[n];
        std::size_t deepest = tree_.leaves.front(), shallowest = deepest;
        for (std::size_t leaf : tree_.leaves) {
            if (depth[leaf] > depth[deepest])
                deepest = leaf;
            if (depth[leaf] < depth[shallowest])
                shallowest = leaf;
        }
        if (!(depth[deepest] > 0))
            throw NewickError("every branch has length 0: the populations never were apart");
        if (depth[deepest] - depth[shallowest] > ultrametric_tolerance * depth[deepest])
            throw NewickError("the tree is not ultrametric: " + tree_.nodes[deepest].name + " lies " +
                              six_digits(depth[deepest]) + " below the root, " + tree_.nodes[shallowest].name +
                              " " + six_digits(depth[shallowest]) +
                              "; the leaves' depths may differ by at most " + six_digits(ultrametric_tolerance) +
                              " of the largest");
        for (PopulationTree::Node& node : tree_.nodes)
            for (std::size_t child : node.children)
                node.height = std::max(node.height, tree_.nodes[child].height + lengths_[child]);
    }

    const std::string& text_;
    std::size_t at_ = 0;
    PopulationTree tree_;
    std::vector<double> lengths_;
    std::set<std::string> names_;
};

}  // namespace

bool is_population_name(const std::string& name)
{
    return !name.empty() && std::all_of(name.begin(), name.end(), is_name_character);
}

PopulationTree star_tree(std::size_t leaves, double split_time)
{
    PopulationTree tree;
    PopulationTree::Node root;
    root.height = split_time;
    for (std::size_t k = 0; k < leaves; ++k) {
        PopulationTree::Node leaf;
        leaf.name = "parent" + std::to_string(k + 1);
        leaf.parent = leaves;
        tree.nodes.push_back(leaf);
        tree.leaves.push_back(k);
        root.children.push_back(k);
    }
    tree.nodes.push_back(root);
    return tree;
}

PopulationTree parse_newick(const std::string& text)
{
    return NewickReader(text).read();
}

}  // namespace simulate
