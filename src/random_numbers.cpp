#include "random_numbers.h"

#include <array>

namespace {

// `outputs` consecutive generator outputs, the first one highest.
std::int64_t joined_outputs(int outputs)
{
    std::int64_t number = 0;
    for (int i = 0; i < outputs; ++i)
        number = number * 32768 + corvane::rand();
    return number;
}

}  // namespace

std::int64_t random_below(int n)
{
    if (n <= 32767)
        return corvane::rand() % n;
    return joined_outputs(n > (1 << 30) ? 3 : 2) % n;
}

std::int64_t even_random_below(int n)
{
    const int outputs = n <= 32768 ? 1 : (n <= (1 << 30) ? 2 : 3);
    const std::int64_t bound = std::int64_t{1} << (15 * outputs);
    const std::int64_t fair_part = bound - bound % n;
    std::int64_t number = joined_outputs(outputs);
    while (number >= fair_part)
        number = joined_outputs(outputs);
    return number % n;
}

corvane::GeneratorJump corvane::generator_jump(std::uint64_t steps)
{
    GeneratorJump total;                  // no step yet
    GeneratorJump power{22695477u, 1u};  // 1, 2, 4, ... steps
    for (; steps > 0; steps >>= 1) {
        if (steps & 1)
            total = followed_by(total, power);
        power = followed_by(power, power);
    }
    return total;
}

namespace {

// The jumps of 1 to 8 steps, so that eight consecutive states come from one
// state by independent multiplications instead of a chain of eight.
constexpr int states_at_once = 8;
std::array<corvane::GeneratorJump, states_at_once> jumps_of_one_to_eight()
{
    std::array<corvane::GeneratorJump, states_at_once> jumps{};
    for (int k = 0; k < states_at_once; ++k)
        jumps[static_cast<std::size_t>(k)] = corvane::generator_jump(static_cast<std::uint64_t>(k + 1));
    return jumps;
}

}  // namespace

// A number x below 2^32 is a multiple of n exactly when x * m, modulo 2^64, is
// below m = floor((2^64 - 1) / n) + 1: the product's fraction part x / n (in
// units of 2^-64) wraps to below m only for a whole quotient.
std::uint32_t corvane::state_after_draws_redrawing_multiples(std::uint32_t state, int n, int draws)
{
    static const std::array<GeneratorJump, states_at_once> jumps = jumps_of_one_to_eight();
    const std::uint64_t m = UINT64_MAX / static_cast<std::uint64_t>(n) + 1;
    const auto redrawn = [m](std::uint32_t advanced) {
        return static_cast<std::uint64_t>(output_of(advanced)) * m <= m - 1;
    };
    int remaining = draws;
    while (remaining >= states_at_once) {
        int kept = 0;
        for (const GeneratorJump& jump : jumps)
            kept += redrawn(jumped(state, jump)) ? 0 : 1;
        state = jumped(state, jumps[states_at_once - 1]);
        remaining -= kept;
    }
    while (remaining > 0) {
        state = next_state(state);
        if (!redrawn(state))
            --remaining;
    }
    return state;
}
