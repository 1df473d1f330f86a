#include "admixture_model.h"

#include <algorithm>
#include <limits>
#include <string>
#include <unordered_map>

namespace simulate {

namespace {

// The genealogy of one locus. The sampled copies are nodes 0 .. n-1 in sample
// order (hybrid first); every coalescence adds a node, so an ancestor always
// has a larger index than its descendants and the last node is the root.
struct Genealogy {
    std::vector<std::int64_t> parent;
    std::vector<double> time;

    std::int64_t add_node(double at)
    {
        parent.push_back(-1);
        time.push_back(at);
        return static_cast<std::int64_t>(parent.size()) - 1;
    }
    std::int64_t root() const { return static_cast<std::int64_t>(parent.size()) - 1; }
};

// The nodes of the lineages present in one population.
using Lineages = std::vector<std::int64_t>;

std::uint64_t pairs_among(std::size_t lineages)
{
    return lineages < 2 ? 0 : static_cast<std::uint64_t>(lineages) * (lineages - 1) / 2;
}

void merge_random_pair(Lineages& lineages, double at, Genealogy& genealogy, RandomDraws& draws)
{
    const std::uint64_t first = draws.index_below(lineages.size());
    std::uint64_t second = draws.index_below(lineages.size() - 1);
    if (second >= first)
        ++second;
    const std::int64_t ancestor = genealogy.add_node(at);
    genealogy.parent[lineages[first]] = ancestor;
    genealogy.parent[lineages[second]] = ancestor;
    lineages[first] = ancestor;
    lineages[second] = lineages.back();
    lineages.pop_back();
}

// Coalescence within each population from time `from` until `until`: with k_i
// lineages in population i, the next event comes after an exponential time of
// rate sum_i k_i (k_i - 1) / 2 and merges a pair chosen uniformly among all of
// them. An event past `until` is dropped: waiting times have no memory, so the
// next epoch starts afresh.
void coalesce_within(std::vector<Lineages>& populations, double from, double until, Genealogy& genealogy,
                     RandomDraws& draws)
{
    for (double now = from; now < until;) {
        std::uint64_t pairs = 0;
        for (const Lineages& lineages : populations)
            pairs += pairs_among(lineages.size());
        if (pairs == 0)
            return;
        now += draws.exponential() / static_cast<double>(pairs);
        if (now >= until)
            return;
        std::uint64_t pick = draws.index_below(pairs);
        for (Lineages& lineages : populations) {
            if (pick < pairs_among(lineages.size())) {
                merge_random_pair(lineages, now, genealogy, draws);
                break;
            }
            pick -= pairs_among(lineages.size());
        }
    }
}

// The parental population (0-based) that a hybrid lineage joins at the
// admixture event, for a uniform draw u: the first k with u < m_1 + ... + m_k;
// should rounding leave u above the whole sum, the last contributing one.
std::size_t source_of_hybrid_lineage(const std::vector<double>& mix, double u)
{
    double cumulative = 0;
    std::size_t last_contributing = 0;
    for (std::size_t k = 0; k < mix.size(); ++k) {
        if (mix[k] > 0)
            last_contributing = k;
        cumulative += mix[k];
        if (u < cumulative)
            return k;
    }
    return last_contributing;
}

// Moves the lineages of every child population of `node` into the slot of its
// first child, which the merged population takes over; the children's lineages
// follow one another in the tree's order.
void merge_children(const PopulationTree::Node& node, std::size_t node_index, std::vector<std::size_t>& slot_of,
                    std::vector<Lineages>& populations)
{
    const std::size_t slot = slot_of[node.children.front()];
    for (std::size_t c = 1; c < node.children.size(); ++c) {
        Lineages& child = populations[slot_of[node.children[c]]];
        populations[slot].insert(populations[slot].end(), child.begin(), child.end());
        child.clear();
    }
    slot_of[node_index] = slot;
}

// The inner nodes from the lowest up; among nodes of one height a child comes
// before its parent, as in the tree's own order.
std::vector<std::size_t> inner_nodes_by_height(const PopulationTree& tree)
{
    std::vector<std::size_t> inner;
    for (std::size_t n = 0; n < tree.nodes.size(); ++n)
        if (!tree.nodes[n].children.empty())
            inner.push_back(n);
    std::stable_sort(inner.begin(), inner.end(),
                     [&](std::size_t a, std::size_t b) { return tree.nodes[a].height < tree.nodes[b].height; });
    return inner;
}

// Back in time through the tree's epochs: the hybrid and the sampled
// populations side by side until the admixture event, then each merge of
// populations at its height, the admixture coming first where the two fall
// together; the last population reaches back until one lineage is left.
Genealogy draw_genealogy(const Scenario& scenario, RandomDraws& draws)
{
    const PopulationTree& tree = scenario.tree;
    Genealogy genealogy;
    std::vector<Lineages> populations(scenario.copies.size());  // slot 0 the hybrid, then the leaves
    std::vector<std::size_t> slot_of(tree.nodes.size(), 0);
    for (std::size_t p = 0; p < populations.size(); ++p) {
        if (p > 0)
            slot_of[tree.leaves[p - 1]] = p;
        for (std::int64_t c = 0; c < scenario.copies[p]; ++c)
            populations[p].push_back(genealogy.add_node(0));
    }
    double now = 0;
    bool admixed = false;
    const auto admix = [&] {
        coalesce_within(populations, now, scenario.admixture_time, genealogy, draws);
        now = scenario.admixture_time;
        for (std::int64_t lineage : populations[0])
            populations[1 + source_of_hybrid_lineage(scenario.mix, draws.uniform())].push_back(lineage);
        populations[0].clear();
        admixed = true;
    };
    for (std::size_t n : inner_nodes_by_height(tree)) {
        if (!admixed && scenario.admixture_time <= tree.nodes[n].height)
            admix();
        coalesce_within(populations, now, tree.nodes[n].height, genealogy, draws);
        now = tree.nodes[n].height;
        merge_children(tree.nodes[n], n, slot_of, populations);
    }
    if (!admixed)
        admix();
    coalesce_within(populations, now, std::numeric_limits<double>::infinity(), genealogy, draws);
    return genealogy;
}

// Mutations on the path from the root to every node, each branch receiving a
// Poisson number with mean theta/2 times its length; for every node the
// highest node reached from it through branches without mutation (two copies
// carry the same sequence under infinite sites exactly when they reach the same
// such node); and under the stepwise model the repeat number, counted from the
// root's, each mutation adding or removing one repeat with equal chance.
struct Mutations {
    std::vector<std::int64_t> from_root;
    std::vector<std::int64_t> identical_up_to;
    std::vector<std::int64_t> repeats;
};

Mutations drop_mutations(const Genealogy& genealogy, const Scenario& scenario, RandomDraws& draws)
{
    const std::int64_t root = genealogy.root();
    const bool stepwise = scenario.mutation == Mutation::stepwise;
    Mutations mutations{std::vector<std::int64_t>(root + 1, 0), std::vector<std::int64_t>(root + 1, root),
                        std::vector<std::int64_t>(stepwise ? root + 1 : 0, 0)};
    for (std::int64_t node = root - 1; node >= 0; --node) {
        const std::int64_t up = genealogy.parent[node];
        const std::int64_t on_branch =
            draws.poisson(scenario.theta / 2 * (genealogy.time[up] - genealogy.time[node]));
        mutations.from_root[node] = mutations.from_root[up] + on_branch;
        mutations.identical_up_to[node] = on_branch == 0 ? mutations.identical_up_to[up] : node;
        if (stepwise) {
            mutations.repeats[node] = mutations.repeats[up];
            for (std::int64_t m = 0; m < on_branch; ++m)
                mutations.repeats[node] += draws.index_below(2) == 0 ? -1 : 1;
        }
    }
    return mutations;
}

std::int64_t common_ancestor(const Genealogy& genealogy, std::int64_t a, std::int64_t b)
{
    while (a != b) {
        if (a < b)
            a = genealogy.parent[a];
        else
            b = genealogy.parent[b];
    }
    return a;
}

// What makes two copies one haplotype: the node they reach without mutation
// under infinite sites, the repeat number under the stepwise model (which may
// come back to a number it left).
std::int64_t identity_of(const Scenario& scenario, const Mutations& mutations, std::int64_t copy)
{
    return scenario.mutation == Mutation::stepwise ? mutations.repeats[copy] : mutations.identical_up_to[copy];
}

// Groups the copies into haplotypes in order of first appearance and counts
// each population's copies of each; returns the identity of each haplotype.
std::vector<std::int64_t> group_copies(const Scenario& scenario, const Mutations& mutations, dataset::Locus& locus)
{
    std::unordered_map<std::int64_t, std::int64_t> haplotype_of;
    std::vector<std::int64_t> identities;
    locus.counts.assign(scenario.copies.size(), {});
    std::int64_t copy = 0;
    for (std::size_t p = 0; p < scenario.copies.size(); ++p) {
        for (std::int64_t c = 0; c < scenario.copies[p]; ++c, ++copy) {
            const std::int64_t identity = identity_of(scenario, mutations, copy);
            const auto [found, is_new] =
                haplotype_of.emplace(identity, static_cast<std::int64_t>(identities.size()));
            if (is_new) {
                identities.push_back(identity);
                for (auto& counts : locus.counts)
                    counts.push_back(0);
            }
            ++locus.counts[p][found->second];
        }
    }
    return identities;
}

// The distance between two haplotypes given by their identities: the sites on
// the path between their nodes, or the squared difference of repeat numbers.
double distance_between(const Scenario& scenario, const Genealogy& genealogy, const Mutations& mutations,
                        std::int64_t a, std::int64_t b)
{
    if (scenario.mutation == Mutation::stepwise)
        return static_cast<double>((a - b) * (a - b));
    const std::int64_t ancestor = common_ancestor(genealogy, a, b);
    return static_cast<double>(mutations.from_root[a] + mutations.from_root[b] - 2 * mutations.from_root[ancestor]);
}

}  // namespace

dataset::Locus simulate_locus(const Scenario& scenario, RandomDraws& draws, std::int64_t locus_index)
{
    const Genealogy genealogy = draw_genealogy(scenario, draws);
    const Mutations mutations = drop_mutations(genealogy, scenario, draws);
    dataset::Locus locus;
    locus.name = "locus" + std::to_string(locus_index + 1);
    const std::vector<std::int64_t> identities = group_copies(scenario, mutations, locus);
    const std::size_t n = identities.size();
    if (n > static_cast<std::size_t>(dataset::max_haplotypes_per_locus))
        throw UnwritableLocus("the simulated locus " + std::to_string(locus_index + 1) + " of " +
                              std::to_string(scenario.loci) + " holds " + std::to_string(n) +
                              " distinct haplotypes, more than the " +
                              std::to_string(dataset::max_haplotypes_per_locus) + " a data file takes at one locus");
    locus.distances.assign(n, std::vector<double>(n, 0));
    for (std::size_t i = 0; i < n; ++i) {
        locus.haplotypes.push_back("hap" + std::to_string(i + 1));
        for (std::size_t j = 0; j < i; ++j)
            locus.distances[i][j] = locus.distances[j][i] =
                distance_between(scenario, genealogy, mutations, identities[i], identities[j]);
    }
    return locus;
}

long double least_memory_bytes(const Scenario& scenario)
{
    const long double allocation = 16;  // the allocator's bookkeeping per block
    const long double populations = static_cast<long double>(scenario.copies.size());
    long double copies = 0;
    for (std::int64_t n : scenario.copies)
        copies += static_cast<long double>(n);
    const long double row = sizeof(std::vector<double>) + allocation;
    const long double locus = sizeof(dataset::Locus) + sizeof(std::string) + 2 * allocation  // name, haplotypes
                              + row + sizeof(double)                                        // one distance
                              + allocation + populations * (row + sizeof(std::int64_t));    // the counts
    // Every node of the genealogy (2n - 1 for n copies) has a parent, a time,
    // a count of mutations and a highest identical node; every copy is a lineage.
    const long double genealogy = 2 * copies * 4 * 8 + copies * sizeof(std::int64_t);
    return static_cast<long double>(scenario.loci) * locus + genealogy;
}

dataset::DataSet simulate_data_set(const Scenario& scenario)
{
    dataset::DataSet data;
    data.time_since_admixture = scenario.admixture_time;
    data.mutation_rate = scenario.theta / 2;
    data.populations.push_back(scenario.hybrid);
    for (std::size_t k = 0; k < scenario.tree.leaves.size(); ++k)
        data.populations.push_back(scenario.tree.leaf(k).name);
    RandomDraws draws(scenario.seed);
    for (std::int64_t l = 0; l < scenario.loci; ++l)
        data.loci.push_back(simulate_locus(scenario, draws, l));
    return data;
}

}  // namespace simulate
