#include "random_numbers.h"

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
