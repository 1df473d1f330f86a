#ifndef CORVANE_SIMULATE_RANDOM_DRAWS_H
#define CORVANE_SIMULATE_RANDOM_DRAWS_H

// The simulator's source of randomness. The same seed must give the same data
// file on every machine, so every draw is made here from std::mt19937_64, whose
// output sequence the C++ standard fixes, by transforms that use only integer
// arithmetic and the IEEE-754 basic operations (+, -, *, /, exact scaling by
// powers of two), never the library's distributions nor the platform's libm.

#include <cstdint>
#include <random>

namespace simulate {

// ln(x) for a positive finite x, accurate to a few units in the last place and
// computed the same way, bit for bit, wherever double arithmetic rounds to
// nearest as IEEE 754 requires.
double natural_log(double x);

class RandomDraws {
public:
    explicit RandomDraws(std::uint64_t seed) : engine_(seed) {}

    // Uniform on [0, 1), in steps of 2^-53.
    double uniform();
    // Exponential with mean 1.
    double exponential();
    // Uniform on 0, 1, ..., n - 1 (n > 0), without the bias of a plain modulo.
    std::uint64_t index_below(std::uint64_t n);
    // Poisson with the given mean: the number of events of a unit-rate process
    // in an interval of that length.
    std::int64_t poisson(double mean);

private:
    std::mt19937_64 engine_;
};

}  // namespace simulate

#endif
