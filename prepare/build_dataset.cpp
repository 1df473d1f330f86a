#include "build_dataset.h"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "errors.h"
#include "text_input.h"

namespace prepare {

namespace {

std::string joined(const std::vector<std::string>& names, const char* separator = ", ")
{
    std::string text;
    for (const std::string& name : names)
        text += (text.empty() ? "" : separator) + name;
    return text;
}

std::string payload_description(Payload payload)
{
    switch (payload) {
    case Payload::names_only: return "haplotype identifiers only";
    case Payload::sequence: return "DNA sequences";
    case Payload::states: return "one state per position";
    case Payload::sizes: return "allele sizes";
    case Payload::repeat_numbers: return "repeat numbers";
    }
    return "";
}

// The populations chosen by --hybrid and --parents, as indices into the input's
// populations, hybrid first; names that do not occur are listed beside those that do.
std::vector<std::size_t> chosen_populations(const RawData& raw, const Choice& choice)
{
    std::vector<std::string> wanted{choice.hybrid};
    if (every_other_population(choice.parents)) {
        for (const std::string& population : raw.populations)
            if (population != choice.hybrid)
                wanted.push_back(population);
        if (wanted.size() < 3)
            throw UsageError("--parents all needs at least 2 populations besides the hybrid " +
                             quoted(choice.hybrid) + "; the populations of the input are: " +
                             joined(raw.populations));
    } else {
        wanted.insert(wanted.end(), choice.parents.begin(), choice.parents.end());
    }
    std::vector<std::size_t> indices;
    std::vector<std::string> unknown;
    for (std::size_t w = 0; w < wanted.size(); ++w) {
        if (std::find(wanted.begin(), wanted.begin() + static_cast<long>(w), wanted[w]) !=
            wanted.begin() + static_cast<long>(w))
            throw UsageError("population " + quoted(wanted[w]) + " is chosen twice in --hybrid and --parents");
        const auto found = std::find(raw.populations.begin(), raw.populations.end(), wanted[w]);
        if (found == raw.populations.end())
            unknown.push_back(quoted(wanted[w]));
        else
            indices.push_back(static_cast<std::size_t>(found - raw.populations.begin()));
    }
    if (!unknown.empty())
        throw UsageError((unknown.size() == 1 ? "population " : "populations ") + joined(unknown) +
                         " of --hybrid/--parents " + (unknown.size() == 1 ? "does" : "do") +
                         " not occur in the input; the populations of the input are: " + joined(raw.populations));
    return indices;
}

Distance natural_distance(Payload payload)
{
    switch (payload) {
    case Payload::sequence:
    case Payload::states: return Distance::sites;
    case Payload::sizes:
    case Payload::repeat_numbers: return Distance::repeats2;
    case Payload::names_only: break;
    }
    return Distance::zero_one;
}

// The distance used at a locus, refused when the locus's data cannot give it.
Distance distance_for(const RawLocus& locus, const Choice& choice)
{
    const Distance kind = choice.distance.value_or(natural_distance(locus.payload));
    const bool fits = kind == Distance::zero_one ||
                      (kind == Distance::sites && natural_distance(locus.payload) == Distance::sites) ||
                      (kind == Distance::repeats2 && natural_distance(locus.payload) == Distance::repeats2);
    if (!fits)
        throw UsageError("--distance " + distance_name(kind) + " cannot be used: locus " + quoted(locus.name) +
                         " holds " + payload_description(locus.payload) + "; use --distance " +
                         distance_name(natural_distance(locus.payload)) + " or 01");
    if (kind == Distance::repeats2 && locus.payload == Payload::sizes && !choice.repeat_lengths.given())
        throw UsageError("the allele sizes of locus " + quoted(locus.name) +
                         " need a repeat length for --distance repeats2: give --repeat-length N, "
                         "--repeat-length TABLE, or --distance 01");
    return kind;
}

// What the reader left out of one population at a locus, as " (left out here: ...)".
std::string dropped_text(const RawLocus& raw, std::size_t population)
{
    if (population >= raw.dropped.size() || raw.dropped[population].empty())
        return "";
    std::vector<std::string> parts;
    for (const auto& [reason, copies] : raw.dropped[population])
        parts.push_back(reason + ": " + std::to_string(copies));
    return " (left out here: " + joined(parts) + ")";
}

// Why a locus cannot be written with these copies, or "" when it can: every mean
// coalescence time needs a copy of the hybrid and a pair within each parent.
std::string why_unwritable(const RawLocus& raw, const std::vector<std::size_t>& populations,
                           const std::vector<std::int64_t>& copies, const std::vector<std::string>& names)
{
    if (copies[0] == 0)
        return "the hybrid population " + quoted(names[0]) + " holds no copy" + dropped_text(raw, populations[0]);
    for (std::size_t p = 1; p < copies.size(); ++p)
        if (copies[p] < 2)
            return "parental population " + quoted(names[p]) + " holds " + std::to_string(copies[p]) +
                   (copies[p] == 1 ? " copy" : " copies") + " (at least 2 are needed)" +
                   dropped_text(raw, populations[p]);
    return "";
}

void note_fractional_repeats(const Haplotype& a, const Haplotype& b, double repeat_length, LocusOutcome& outcome)
{
    const double difference = std::fabs(a.numbers[0] - b.numbers[0]);
    if (std::fmod(difference, repeat_length) == 0)
        return;
    if (outcome.fractional_repeat_pairs++ == 0)
        outcome.first_fractional_pair = a.name + " and " + b.name;
}

dataset::Locus written_locus(const RawLocus& raw, const std::vector<std::size_t>& populations,
                             std::vector<std::size_t> kept, const Choice& choice, LocusOutcome& outcome)
{
    const Distance kind = distance_for(raw, choice);
    const double repeat_length =
        (kind == Distance::repeats2 && raw.payload == Payload::sizes) ? choice.repeat_lengths.for_locus(raw.name) : 1;
    std::stable_sort(kept.begin(), kept.end(), [&raw](std::size_t a, std::size_t b) {
        return comes_before(raw.haplotypes[a], raw.haplotypes[b]);
    });
    dataset::Locus locus;
    locus.name = raw.name;
    const std::size_t n = kept.size();
    locus.distances.assign(n, std::vector<double>(n, 0));
    for (std::size_t i = 0; i < n; ++i) {
        const Haplotype& hi = raw.haplotypes[kept[i]];
        locus.haplotypes.push_back(hi.name);
        for (std::size_t j = 0; j < i; ++j) {
            const Haplotype& hj = raw.haplotypes[kept[j]];
            const double d = distance_between(hi, hj, raw.payload, kind, repeat_length);
            if (!fits_data_file(d))
                throw UsageError("the distance between haplotypes " + quoted(hj.name) + " and " + quoted(hi.name) +
                                 " of locus " + quoted(raw.name) + " is " + dataset::real_text(d) +
                                 ", which a data file cannot hold (0 or from 1.2e-38 to 3.4e+38); give another "
                                 "--repeat-length or --distance 01");
            locus.distances[i][j] = locus.distances[j][i] = d;
            if (kind == Distance::repeats2 && raw.payload == Payload::sizes)
                note_fractional_repeats(hj, hi, repeat_length, outcome);
        }
    }
    for (std::size_t population : populations) {
        locus.counts.emplace_back();
        for (std::size_t h : kept)
            locus.counts.back().push_back(raw.count(population, h));
    }
    return locus;
}

// The haplotypes held by at least one chosen population, in the input's order.
std::vector<std::size_t> haplotypes_held(const RawLocus& raw, const std::vector<std::size_t>& populations)
{
    std::vector<std::size_t> kept;
    for (std::size_t h = 0; h < raw.haplotypes.size(); ++h)
        for (std::size_t population : populations)
            if (raw.count(population, h) > 0) {
                kept.push_back(h);
                break;
            }
    return kept;
}

std::int64_t copies_outside(const RawLocus& raw, const std::vector<std::size_t>& populations)
{
    std::int64_t copies = 0;
    for (std::size_t p = 0; p < raw.counts.size(); ++p)
        if (std::find(populations.begin(), populations.end(), p) == populations.end())
            copies = copies_added(copies, sum_of_copies(raw.counts[p], "the copies of locus " + quoted(raw.name)),
                                  "the copies of locus " + quoted(raw.name));
    return copies;
}

std::string not_chosen_reason(const RawData& raw, const std::vector<std::size_t>& populations)
{
    std::vector<std::string> others;
    for (std::size_t p = 0; p < raw.populations.size(); ++p)
        if (std::find(populations.begin(), populations.end(), p) == populations.end())
            others.push_back(raw.populations[p]);
    return "in populations not chosen (" + joined(others) + ")";
}

LocusOutcome outcome_of(const RawLocus& raw, const std::vector<std::size_t>& populations,
                        const std::vector<std::string>& names, std::size_t held)
{
    LocusOutcome outcome;
    outcome.name = raw.name;
    outcome.haplotypes = held;
    for (std::size_t population : populations)
        outcome.copies.push_back(raw.counts.size() > population
                                     ? sum_of_copies(raw.counts[population], "the copies of population " +
                                                                                 quoted(names[outcome.copies.size()]) +
                                                                                 " at locus " + quoted(raw.name))
                                     : 0);
    outcome.left_out_because =
        raw.left_out_because.empty() ? why_unwritable(raw, populations, outcome.copies, names) : raw.left_out_because;
    return outcome;
}

}  // namespace

double RepeatLengths::for_locus(const std::string& locus) const
{
    if (for_all > 0)
        return for_all;
    const auto found = per_locus.find(locus);
    if (found == per_locus.end())
        throw DataError("the repeat-length table " + table_file + " has no line for locus " + quoted(locus));
    return found->second;
}

std::string distance_name(Distance kind)
{
    switch (kind) {
    case Distance::sites: return "sites";
    case Distance::repeats2: return "repeats2";
    case Distance::zero_one: return "01";
    }
    return "";
}

bool natural_less(const std::string& a, const std::string& b)
{
    std::size_t i = 0, j = 0;
    const auto digit = [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; };
    while (i < a.size() && j < b.size()) {
        if (digit(a[i]) && digit(b[j])) {
            std::size_t ei = i, ej = j;
            while (ei < a.size() && digit(a[ei])) ++ei;
            while (ej < b.size() && digit(b[ej])) ++ej;
            std::size_t si = i, sj = j;  // the value: leading zeros aside, longer is larger
            while (si + 1 < ei && a[si] == '0') ++si;
            while (sj + 1 < ej && b[sj] == '0') ++sj;
            const std::string va = a.substr(si, ei - si), vb = b.substr(sj, ej - sj);
            if (va.size() != vb.size())
                return va.size() < vb.size();
            if (va != vb)
                return va < vb;
            i = ei;
            j = ej;
        } else {
            if (a[i] != b[j])
                return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
            ++i;
            ++j;
        }
    }
    if ((a.size() - i) != (b.size() - j))
        return a.size() - i < b.size() - j;
    return a < b;  // equal by value ("07" and "7"): byte order keeps the order total
}

bool comes_before(const Haplotype& a, const Haplotype& b)
{
    if (a.sequence != b.sequence)
        return a.sequence < b.sequence;
    if (a.numbers != b.numbers) {
        // Missing repeat numbers (NaN) sort after every number.
        const auto less = [](double x, double y) { return std::isnan(y) ? !std::isnan(x) : x < y; };
        return std::lexicographical_compare(a.numbers.begin(), a.numbers.end(), b.numbers.begin(), b.numbers.end(),
                                            less);
    }
    return natural_less(a.name, b.name);
}

namespace {

bool is_base(char c)
{
    return c == 'A' || c == 'C' || c == 'G' || c == 'T';
}

double differing_sites(const std::string& a, const std::string& b)
{
    double sites = 0;
    for (std::size_t s = 0; s < a.size() && s < b.size(); ++s)
        if (a[s] != b[s] && is_base(a[s]) && is_base(b[s]))
            ++sites;
    return sites;
}

double differing_states(const std::vector<int>& a, const std::vector<int>& b)
{
    double positions = 0;
    for (std::size_t s = 0; s < a.size() && s < b.size(); ++s)
        if (a[s] != b[s] && a[s] != missing_state && b[s] != missing_state)
            ++positions;
    return positions;
}

// Summed in long double and rounded once, when returned: in double, the x87
// unit of an i386 would round the quotient and the square to 64 bits before
// their 53, and its distances would differ in the last bit from x86-64's.
double squared_repeat_differences(const std::vector<double>& a, const std::vector<double>& b, double repeat_length)
{
    long double sum = 0;
    for (std::size_t s = 0; s < a.size() && s < b.size(); ++s)
        if (!std::isnan(a[s]) && !std::isnan(b[s])) {
            const long double repeats = (static_cast<long double>(a[s]) - b[s]) / repeat_length;
            sum += repeats * repeats;
        }
    return static_cast<double>(sum);
}

}  // namespace

double distance_between(const Haplotype& a, const Haplotype& b, Payload payload, Distance kind, double repeat_length)
{
    if (kind == Distance::zero_one)
        return a.name == b.name ? 0 : 1;
    if (kind == Distance::sites)
        return payload == Payload::sequence ? differing_sites(a.sequence, b.sequence)
                                            : differing_states(a.states, b.states);
    return squared_repeat_differences(a.numbers, b.numbers, repeat_length);
}

Outcome build_dataset(const RawData& raw, const Choice& choice)
{
    const std::vector<std::size_t> populations = chosen_populations(raw, choice);
    Outcome outcome;
    outcome.data.time_since_admixture = choice.time_since_admixture;
    outcome.data.mutation_rate = choice.mutation_rate;
    for (std::size_t p : populations)
        outcome.data.populations.push_back(raw.populations[p]);
    outcome.copies_left_out = raw.copies_left_out;
    const std::string not_chosen = not_chosen_reason(raw, populations);
    for (const RawLocus& locus : raw.loci) {
        tally(outcome.copies_left_out, not_chosen, copies_outside(locus, populations));
        const std::vector<std::size_t> held = haplotypes_held(locus, populations);
        if (held.size() > static_cast<std::size_t>(dataset::max_haplotypes_per_locus))
            throw DataError("locus " + quoted(locus.name) + " holds " + std::to_string(held.size()) +
                            " distinct haplotypes in the chosen populations; the data file accepts at most " +
                            std::to_string(dataset::max_haplotypes_per_locus) +
                            ": choose shorter regions (fewer sites per locus) or fewer populations");
        LocusOutcome result = outcome_of(locus, populations, outcome.data.populations, held.size());
        if (result.left_out_because.empty())
            outcome.data.loci.push_back(written_locus(locus, populations, held, choice, result));
        outcome.loci.push_back(result);
    }
    if (outcome.data.loci.empty()) {
        std::vector<std::string> reasons;
        for (const LocusOutcome& locus : outcome.loci)
            reasons.push_back("at locus " + quoted(locus.name) + " " + locus.left_out_because);
        throw DataError("no locus can be written: " + (reasons.empty() ? "the input holds no locus" : joined(reasons, "; ")));
    }
    return outcome;
}

}  // namespace prepare
