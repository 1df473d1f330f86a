#ifndef CORVANE_RANDOM_NUMBERS_H
#define CORVANE_RANDOM_NUMBERS_H

#include <cstdint>

// The program's own pseudo-random generator, a 32-bit linear congruential
// generator, so that a seed gives the same bootstrap replicates on every machine.
// It lives in its own namespace so that it never clashes with the C library's
// functions of the same names.
// Inline, since every draw of every replicate calls it.
namespace corvane {
namespace generator {
inline std::uint32_t state = 1;  // the value it starts from when never seeded
}

inline void srand(std::uint32_t seed)
{
    generator::state = seed;
}

// One step of the generator, and the number an advanced state gives: bits 16
// to 30, 0 to 32767.
inline std::uint32_t next_state(std::uint32_t state)
{
    return state * 22695477u + 1u;
}
inline int output_of(std::uint32_t state)
{
    return static_cast<int>((state >> 16) & 32767u);
}

// The next number, 0 to 32767.
inline int rand()
{
    generator::state = next_state(generator::state);
    return output_of(generator::state);
}

// k steps of the generator at once: a state s becomes multiplier * s +
// increment (modulo 2^32), with multiplier = a^k and increment = c (a^(k-1) +
// ... + a + 1) for the step s -> a s + c. A bootstrap replicate estimated on a
// thread of its own starts where the one before it leaves the generator; the
// jump finds that state without making the draws in between.
struct GeneratorJump {
    std::uint32_t multiplier = 1;
    std::uint32_t increment = 0;
};
GeneratorJump generator_jump(std::uint64_t steps);
// `first`, then `second`.
inline GeneratorJump followed_by(GeneratorJump first, GeneratorJump second)
{
    return {second.multiplier * first.multiplier, second.multiplier * first.increment + second.increment};
}
inline std::uint32_t jumped(std::uint32_t state, GeneratorJump jump)
{
    return jump.multiplier * state + jump.increment;
}

// The state after `draws` draws from a sample of n copies (2 to 32767) in which
// a number that is a multiple of n is drawn again, from `state`: the steps of
// the draws that are kept and of those drawn again, without the draws.
std::uint32_t state_after_draws_redrawing_multiples(std::uint32_t state, int n, int draws);
}  // namespace corvane

// A random number from 0 to n-1 for the copies of a sample of n. Up to 32767
// copies it is one generator output modulo n, the rule the replicates have
// always followed. A generator output holds 15 bits, so from 32768 copies on it
// is formed from consecutive outputs, the first one highest, as a number of 30
// bits (two outputs) or, above 2^30 copies, of 45 bits (three outputs), taken
// modulo n: every copy can then be drawn.
std::int64_t random_below(int n);

// A random number from 0 to n-1 that reaches every value equally often, for the
// loci of a locus-bootstrap replicate, a scheme with no earlier replicates to
// reproduce. As many outputs as n needs (one up to 32768, two up to 2^30, three
// beyond), the first one highest, form a number below 2^15, 2^30 or 2^45; a
// number at or above the largest multiple of n below that bound is drawn again,
// so that taking the rest modulo n favours no value.
std::int64_t even_random_below(int n);

#endif
