// A long allele-count table: one row per population, locus and allele, with the
// number of copies; rows for the same population, locus and allele add up.

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <optional>

#include "errors.h"
#include "readers.h"

namespace prepare {

namespace {

struct Columns {
    long population = -1, locus = -1, allele = -1, count = -1, size = -1, sequence = -1;
    std::size_t needed = 0;  // fields a row must have to reach every column used
};

// The header names each column kind by one of these (letter case aside).
struct ColumnKind {
    const char* kind;
    std::vector<std::string> names;
    long Columns::*index;
};

const std::vector<ColumnKind>& column_kinds()
{
    static const std::vector<ColumnKind> kinds = {
        {"population", {"POPULATION", "POP"}, &Columns::population},
        {"locus", {"LOCUS", "MARKER"}, &Columns::locus},
        {"allele", {"ALLELE"}, &Columns::allele},
        {"count", {"COUNT", "N"}, &Columns::count},
        {"size", {"SIZE"}, &Columns::size},
        {"sequence", {"SEQUENCE"}, &Columns::sequence}};
    return kinds;
}

const char* const header_help = "a table's tab-separated header holds population (or pop), locus (or marker), "
                                "allele, count (or n) and optionally size or sequence";

Columns columns_of(const std::string& header_line, LineReader& reader)
{
    const std::vector<std::string> header = split_on(header_line, '\t');
    Columns columns;
    for (std::size_t c = 0; c < header.size(); ++c)
        for (const ColumnKind& kind : column_kinds()) {
            if (std::find(kind.names.begin(), kind.names.end(), upper_case(trimmed(header[c]))) == kind.names.end())
                continue;
            long& index = columns.*kind.index;
            if (index >= 0)
                throw DataError(reader.here(static_cast<long>(c + 1)) + "a second " + kind.kind + " column (the first is column " +
                                std::to_string(index + 1) + "); " + header_help);
            index = static_cast<long>(c);
            columns.needed = std::max(columns.needed, c + 1);
        }
    std::string missing;
    for (std::size_t k = 0; k < 4; ++k)
        if (columns.*column_kinds()[k].index < 0)
            missing += (missing.empty() ? "" : ", ") + std::string(column_kinds()[k].kind);
    if (!missing.empty())
        throw DataError(reader.here() + "the header lacks the column(s) " + missing + "; " + header_help + ", found " +
                        quoted(header_line));
    if (columns.size >= 0 && columns.sequence >= 0)
        throw DataError(reader.here() + "the header holds both size and sequence; keep the one the distances "
                                        "are to be measured from");
    return columns;
}

// An allele name that is a number of base pairs, or nothing.
std::optional<double> size_in_name(const std::string& name)
{
    char* end = nullptr;
    const double value = std::strtod(name.c_str(), &end);
    if (end == name.c_str() || *end != '\0' || !std::isfinite(value) || !(value > 0))
        return std::nullopt;
    return value;
}

// Without a size or sequence column, a locus whose alleles are all numbers holds
// allele sizes (as microsatellite tables name their alleles); the summary says so.
void take_numeric_alleles_as_sizes(RawData& raw)
{
    std::size_t loci = 0;
    for (RawLocus& locus : raw.loci) {
        std::vector<double> sizes;
        for (const Haplotype& haplotype : locus.haplotypes)
            if (const std::optional<double> size = size_in_name(haplotype.name))
                sizes.push_back(*size);
        if (sizes.size() != locus.haplotypes.size() || sizes.empty())
            continue;
        locus.payload = Payload::sizes;
        for (std::size_t h = 0; h < sizes.size(); ++h)
            locus.haplotypes[h].numbers = {sizes[h]};
        ++loci;
    }
    if (loci > 0)
        raw.notes.push_back("the table has no size column: the alleles of " + std::to_string(loci) + " of its " +
                            std::to_string(raw.loci.size()) + " loci are numbers and are taken as their sizes in "
                            "base pairs");
}

class TableReader {
public:
    explicit TableReader(const std::string& file) : reader_(file) {}

    RawData read()
    {
        raw_.input_kind = "table";
        std::string line;
        while (reader_.next(line) && trimmed(line).empty()) {
        }
        if (trimmed(line).empty())
            throw DataError(reader_.file() + ": the file is empty; a table starts with its header line");
        columns_ = columns_of(line, reader_);
        while (reader_.next(line))
            if (!trimmed(line).empty())
                read_row(split_on(line, '\t'));
        if (columns_.size < 0 && columns_.sequence < 0)
            take_numeric_alleles_as_sizes(raw_);
        return std::move(raw_);
    }

private:
    std::string field(const std::vector<std::string>& fields, long column, const char* what)
    {
        const std::string value = trimmed(fields[static_cast<std::size_t>(column)]);
        if (value.empty())
            throw DataError(reader_.here(column + 1) + "the " + what + " is empty");
        return value;
    }

    RawLocus& locus_named(const std::string& name)
    {
        const auto found = locus_index_.find(name);
        if (found != locus_index_.end())
            return raw_.loci[found->second];
        locus_index_.emplace(name, raw_.loci.size());
        raw_.loci.emplace_back();
        raw_.loci.back().name = name;
        raw_.loci.back().payload = columns_.sequence >= 0 ? Payload::sequence
                                   : columns_.size >= 0   ? Payload::sizes
                                                          : Payload::names_only;
        return raw_.loci.back();
    }

    Haplotype haplotype_of(const std::vector<std::string>& fields)
    {
        Haplotype haplotype;
        haplotype.name = field(fields, columns_.allele, "allele");
        if (columns_.size >= 0)
            haplotype.numbers.push_back(parse_positive(field(fields, columns_.size, "size"),
                                                       reader_.here(columns_.size + 1), "an allele size in base pairs"));
        if (columns_.sequence >= 0) {
            haplotype.sequence = upper_case(field(fields, columns_.sequence, "sequence"));
            if (const std::size_t site = first_non_sequence_character(haplotype.sequence))
                throw DataError(reader_.here(columns_.sequence + 1) + "site " + std::to_string(site) +
                                " of the sequence: expected a base letter, '-', '.', '?' or '*', found " +
                                quoted(haplotype.sequence.substr(site - 1, 1)));
        }
        return haplotype;
    }

    // An allele keeps one size or sequence, and the sequences of a locus one length.
    void check_agrees(const RawLocus& locus, const Haplotype& earlier, const Haplotype& row)
    {
        if (earlier.numbers != row.numbers || earlier.sequence != row.sequence)
            throw DataError(reader_.here() + "allele " + quoted(row.name) + " of locus " + quoted(locus.name) +
                            " is given " + (columns_.size >= 0 ? "a size" : "a sequence") +
                            " that differs from the one of its earlier rows");
        const Haplotype& first = locus.haplotypes.front();
        if (row.sequence.size() != first.sequence.size())
            throw DataError(reader_.here() + "the sequence of allele " + quoted(row.name) + " holds " +
                            std::to_string(row.sequence.size()) + " sites but that of allele " + quoted(first.name) +
                            " of locus " + quoted(locus.name) + " holds " + std::to_string(first.sequence.size()) +
                            ": the sequences of one locus must be aligned to one length");
    }

    void read_row(const std::vector<std::string>& fields)
    {
        if (fields.size() < columns_.needed)
            throw DataError(reader_.here() + "expected " + std::to_string(columns_.needed) +
                            " tab-separated fields, found " + std::to_string(fields.size()));
        const std::string population = field(fields, columns_.population, "population");
        RawLocus& locus = locus_named(field(fields, columns_.locus, "locus"));
        const std::int64_t copies = parse_copies(trimmed(fields[static_cast<std::size_t>(columns_.count)]),
                                                 reader_.here(columns_.count + 1), "a count of copies");
        const Haplotype row = haplotype_of(fields);
        const std::size_t haplotype = locus.haplotype_index(row);
        check_agrees(locus, locus.haplotypes[haplotype], row);
        try {
            locus.add_copies(raw_.population_index(population), haplotype, copies);
        } catch (const DataError& overflow) {
            throw DataError(reader_.here() + overflow.what());
        }
    }

    LineReader reader_;
    Columns columns_;
    RawData raw_;
    std::map<std::string, std::size_t> locus_index_;
};

}  // namespace

RawData read_table(const std::string& file)
{
    return TableReader(file).read();
}

RepeatLengths read_repeat_lengths(const std::string& file)
{
    RepeatLengths lengths;
    lengths.table_file = file;
    std::map<std::string, std::string> place_of_locus;
    bool first = true;
    read_two_columns(file, "a locus, a tab and its repeat length in base pairs",
                     [&](const std::string& locus, const std::string& length, const std::string& place) {
                         // A first line such as "locus<TAB>repeat" is a header.
                         const bool header = first && !size_in_name(length);
                         first = false;
                         if (header)
                             return;
                         const auto [earlier, added] = place_of_locus.emplace(locus, place);
                         if (!added)
                             throw DataError(place + "locus " + quoted(locus) + " is given a second repeat length (the first: " +
                                             earlier->second.substr(0, earlier->second.size() - 2) + ")");
                         lengths.per_locus[locus] = parse_repeat_length(length, place);
                     });
    return lengths;
}

}  // namespace prepare
