// Writes the data files of the bootstrap benchmark. Each depends on its workload
// name and the seed alone, so every machine benchmarks the same data.
//
//   generate_bench_data [sparse|dense|loci|panel|microsatellites|tiny] [SEED] > bench_data.txt
//   generate_bench_data shape PARENTS LOCI HAPLOTYPES SAMPLE [SEED] > bench_data.txt
//
// sparse  5 parental populations and a hybrid, 8 loci of 60 haplotypes, samples
//         of 200 copies, skewed haplotype frequencies (a few haplotypes carry most
//         copies of a population and many are rare or absent from it) and
//         distances with decimals (the default; the data of earlier benchmarks).
// dense   the same shape, but every haplotype fairly frequent in every
//         population (each favours the haplotypes near its own place on the line
//         of haplotypes, at most seven to one, so that the parents can be told
//         apart), so that nearly nine in ten haplotypes are present in every
//         sample, and distances that are whole numbers of differences.
// loci    2 parental populations and a hybrid typed at 700 loci of 15 to 35
//         alleles (25 on average), samples of 120 copies, skewed frequencies and
//         distances with decimals: the shape of a microsatellite panel.
// panel   3 parental populations and a hybrid typed at 100000 loci of 20
//         haplotypes, samples of 40 copies, skewed frequencies and distances
//         with decimals: a large panel, for the test that it runs in 1 GB.
// microsatellites
//         3 parental populations and a hybrid typed at 673 loci of 5 to 30
//         alleles, samples of 90 copies, skewed frequencies and whole distances
//         (squared differences of repeat numbers are whole): the shape of a
//         panel of microsatellites typed in four human populations.
// tiny    2 parental populations, 3 loci of 10 haplotypes, samples of 20: a run
//         whose memory is the program's own, for the test that it stays flat in
//         the number of replicates.
// shape   skewed frequencies and decimal distances with the given number of
//         parental populations (2 to 10), loci, haplotypes per locus and copies
//         per sample: one point of the benchmark's scaling table.

#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// SplitMix64: small, fast and the same everywhere.
class Random {
public:
    explicit Random(std::uint64_t seed) : _state(seed) {}

    std::uint64_t next()
    {
        std::uint64_t z = (_state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }

    // Uniform in [0, 1), from the top 53 bits.
    double uniform() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }

    int below(int bound) { return static_cast<int>(next() % static_cast<std::uint64_t>(bound)); }

private:
    std::uint64_t _state;
};

struct Workload {
    int parental_populations;
    int loci;
    int fewest_haplotypes;  // per locus, drawn uniformly between these two
    int most_haplotypes;
    int sample_size;
    bool skewed;            // frequencies falling off like 1/rank^2, a third absent
    bool whole_distances;
};

// Haplotype weights of one population at one locus. Skewed: a random third of
// the haplotypes is absent, the others get weights falling off like 1/rank^2 in
// a random order, so that a few haplotypes carry most copies. Otherwise every
// haplotype gets a weight from 1 to 7, the larger the nearer it lies to the
// population's centre on the line, so that the populations differ.
std::vector<double> haplotype_weights(Random& random, int haplotypes, bool skewed,
                                      const std::vector<double>& position, double centre)
{
    std::vector<double> weights(haplotypes, 0.0);
    if (!skewed) {
        for (int h = 0; h < haplotypes; ++h) {
            const double offset = (position[h] - centre) / 1.5;
            weights[h] = 1.0 + 6.0 * std::exp(-offset * offset);
        }
        return weights;
    }
    std::vector<int> order(haplotypes);
    for (int h = 0; h < haplotypes; ++h)
        order[h] = h;
    for (int h = haplotypes - 1; h > 0; --h)
        std::swap(order[h], order[random.below(h + 1)]);
    const int present = haplotypes - haplotypes / 3;
    for (int rank = 0; rank < present; ++rank)
        weights[order[rank]] = 1.0 / ((rank + 1.0) * (rank + 1.0));
    return weights;
}

// `copies` copies drawn one by one from the weights.
std::vector<int> draw_sample(Random& random, const std::vector<double>& weights, int copies)
{
    double total = 0;
    for (double w : weights)
        total += w;
    std::vector<int> counts(weights.size(), 0);
    for (int i = 0; i < copies; ++i) {
        double target = random.uniform() * total;
        std::size_t h = 0;
        while (h + 1 < weights.size() && (weights[h] == 0.0 || target >= weights[h])) {
            target -= weights[h];
            ++h;
        }
        while (weights[h] == 0.0)  // rounding at the very end: last present haplotype
            --h;
        ++counts[h];
    }
    return counts;
}

void write(const Workload& w, std::uint64_t seed)
{
    Random random(seed);
    // The hybrid population descends from the parental ones in these shares.
    const double all_shares[] = {0.40, 0.25, 0.15, 0.12, 0.08, 0.07, 0.06, 0.05, 0.04, 0.03};
    std::vector<double> shares(all_shares, all_shares + w.parental_populations);
    double share_total = 0;
    for (double s : shares)
        share_total += s;

    std::printf("150 0.0002\n%d %d\n", w.parental_populations, w.loci);

    // Distances: haplotypes placed on a line with a little noise, so that the
    // matrix is a plausible number of differences, with decimals or whole.
    std::vector<int> haplotypes(w.loci);
    std::vector<std::vector<double>> positions(w.loci);
    for (int l = 0; l < w.loci; ++l) {
        const int n = w.fewest_haplotypes == w.most_haplotypes
                          ? w.fewest_haplotypes
                          : w.fewest_haplotypes + random.below(w.most_haplotypes - w.fewest_haplotypes + 1);
        haplotypes[l] = n;
        std::vector<double> position(n);
        for (int h = 0; h < n; ++h)
            position[h] = 12.0 * random.uniform();
        positions[l] = position;
        std::printf("Locus%d %d\n", l + 1, n);
        for (int j = 0; j < n; ++j) {
            for (int k = 0; k <= j; ++k) {
                const double distance = j == k ? 0.0 : std::abs(position[j] - position[k]) + 0.25 * random.uniform();
                if (w.whole_distances)
                    std::printf(k == 0 ? "%d" : " %d", j == k ? 0 : 1 + static_cast<int>(distance));
                else
                    std::printf(k == 0 ? "%.3f" : " %.3f", distance);
            }
            std::printf("\n");
        }
    }

    for (int l = 0; l < w.loci; ++l) {
        const int n = haplotypes[l];
        std::vector<std::vector<double>> weights(w.parental_populations + 1);
        std::vector<double> hybrid(n, 0.0);
        for (int p = 1; p <= w.parental_populations; ++p) {
            const double centre = 12.0 * (p - 1) / (w.parental_populations - 1);
            weights[p] = haplotype_weights(random, n, w.skewed, positions[l], centre);
            double total = 0;
            for (double x : weights[p])
                total += x;
            for (int h = 0; h < n; ++h)
                hybrid[h] += shares[p - 1] / share_total * weights[p][h] / total;
        }
        weights[0] = hybrid;
        std::vector<std::vector<int>> counts(w.parental_populations + 1);
        for (int p = 0; p <= w.parental_populations; ++p)
            counts[p] = draw_sample(random, weights[p], w.sample_size);

        std::printf("Locus%d\n", l + 1);
        for (int p = 0; p <= w.parental_populations; ++p)
            std::printf(p == 0 ? "%d" : " %d", w.sample_size);
        std::printf("\n");
        for (int h = 0; h < n; ++h) {
            for (int p = 0; p <= w.parental_populations; ++p)
                std::printf(p == 0 ? "%d" : " %d", counts[p][h]);
            std::printf("\n");
        }
    }
}

}  // namespace

int main(int argc, char** argv)
{
    const char* name = argc > 1 ? argv[1] : "sparse";
    const std::uint64_t default_seed = 20240611u;
    if (std::strcmp(name, "shape") == 0) {
        if (argc < 6) {
            std::fprintf(stderr, "shape needs PARENTS LOCI HAPLOTYPES SAMPLE [SEED]\n");
            return 2;
        }
        const int parents = std::atoi(argv[2]);
        const int haplotypes = std::atoi(argv[4]);
        if (parents < 2 || parents > 10 || haplotypes < 2 || std::atoi(argv[3]) < 1 || std::atoi(argv[5]) < 2) {
            std::fprintf(stderr, "shape needs 2 to 10 parents, a locus, 2 haplotypes and samples of 2\n");
            return 2;
        }
        const Workload shape{parents, std::atoi(argv[3]), haplotypes, haplotypes, std::atoi(argv[5]), true, false};
        write(shape, argc > 6 ? std::strtoull(argv[6], nullptr, 10) : default_seed);
        return 0;
    }
    const std::uint64_t seed = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : default_seed;
    const Workload sparse{5, 8, 60, 60, 200, true, false};
    const Workload dense{5, 8, 60, 60, 200, false, true};
    const Workload loci{2, 700, 15, 35, 120, true, false};
    const Workload panel{3, 100000, 20, 20, 40, true, false};
    const Workload microsatellites{3, 673, 5, 30, 90, true, true};
    const Workload tiny{2, 3, 10, 10, 20, false, false};
    if (std::strcmp(name, "sparse") == 0)
        write(sparse, seed);
    else if (std::strcmp(name, "dense") == 0)
        write(dense, seed);
    else if (std::strcmp(name, "loci") == 0)
        write(loci, seed);
    else if (std::strcmp(name, "panel") == 0)
        write(panel, seed);
    else if (std::strcmp(name, "microsatellites") == 0)
        write(microsatellites, seed);
    else if (std::strcmp(name, "tiny") == 0)
        write(tiny, seed);
    else {
        std::fprintf(stderr, "unknown workload \"%s\": sparse, dense, loci, panel, microsatellites, tiny or shape\n", name);
        return 2;
    }
    return 0;
}
