// Writes the data file of the bootstrap benchmark: 5 parental populations and a
// hybrid population, 8 loci of 60 haplotypes, samples of 200 copies, skewed
// haplotype frequencies (a few haplotypes carry most copies of a population and
// many are rare or absent from it) and distances with decimals. The file depends
// on the seed alone, so every machine benchmarks the same data.
//
//   generate_bench_data [SEED] > bench_data.txt

#include <algorithm>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace {

constexpr int parental_populations = 5;
constexpr int loci = 8;
constexpr int haplotypes = 60;
constexpr int sample_size = 200;

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

// Haplotype weights of one population at one locus: a random third of the
// haplotypes is absent, the others get weights falling off like 1/rank^2 in a
// random order, so that a few haplotypes carry most copies.
std::vector<double> skewed_weights(Random& random)
{
    std::vector<int> order(haplotypes);
    for (int h = 0; h < haplotypes; ++h)
        order[h] = h;
    for (int h = haplotypes - 1; h > 0; --h)
        std::swap(order[h], order[random.below(h + 1)]);
    std::vector<double> weights(haplotypes, 0.0);
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

}  // namespace

int main(int argc, char** argv)
{
    const std::uint64_t seed = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 20240611u;
    Random random(seed);
    // The hybrid population descends from the parental ones in these shares.
    const double shares[parental_populations] = {0.40, 0.25, 0.15, 0.12, 0.08};

    std::printf("150 0.0002\n%d %d\n", parental_populations, loci);

    // Distances: haplotypes placed on a line with a little noise, so that the
    // matrix is a plausible number of differences with decimals.
    for (int l = 0; l < loci; ++l) {
        std::vector<double> position(haplotypes);
        for (int h = 0; h < haplotypes; ++h)
            position[h] = 12.0 * random.uniform();
        std::printf("Locus%d %d\n", l + 1, haplotypes);
        for (int j = 0; j < haplotypes; ++j) {
            for (int k = 0; k <= j; ++k) {
                const double distance = j == k ? 0.0 : std::abs(position[j] - position[k]) + 0.25 * random.uniform();
                std::printf(k == 0 ? "%.3f" : " %.3f", distance);
            }
            std::printf("\n");
        }
    }

    for (int l = 0; l < loci; ++l) {
        std::vector<std::vector<double>> weights(parental_populations + 1);
        std::vector<double> hybrid(haplotypes, 0.0);
        for (int p = 1; p <= parental_populations; ++p) {
            weights[p] = skewed_weights(random);
            double total = 0;
            for (double w : weights[p])
                total += w;
            for (int h = 0; h < haplotypes; ++h)
                hybrid[h] += shares[p - 1] * weights[p][h] / total;
        }
        weights[0] = hybrid;
        std::vector<std::vector<int>> counts(parental_populations + 1);
        for (int p = 0; p <= parental_populations; ++p)
            counts[p] = draw_sample(random, weights[p], sample_size);

        std::printf("Locus%d\n", l + 1);
        for (int p = 0; p <= parental_populations; ++p)
            std::printf(p == 0 ? "%d" : " %d", sample_size);
        std::printf("\n");
        for (int h = 0; h < haplotypes; ++h) {
            for (int p = 0; p <= parental_populations; ++p)
                std::printf(p == 0 ? "%d" : " %d", counts[p][h]);
            std::printf("\n");
        }
    }
    return 0;
}
