// A long allele-count table: one row per population, locus and allele, with the
// number of copies; rows for the same population, locus and allele add up.

#include <algorithm>
#include <map>

#include "errors.h"
#include "readers.h"

namespace prepare {

namespace {

struct Columns {
    long population = -1, locus = -1, allele = -1, count = -1, size = -1, sequence = -1;
    std::size_t needed = 0;  // fields a row must have to reach every column used
};

Columns columns_of(const std::string& header_line, LineReader& reader)
{
    const std::vector<std::string> header = split_on(header_line, '\t');
    Columns columns;
    const std::vector<std::pair<std::string, long*>> known = {
        {"population", &columns.population}, {"locus", &columns.locus}, {"allele", &columns.allele},
        {"count", &columns.count},           {"size", &columns.size},   {"sequence", &columns.sequence}};
    for (std::size_t c = 0; c < header.size(); ++c)
        for (const auto& [name, index] : known)
            if (upper_case(trimmed(header[c])) == upper_case(name)) {
                *index = static_cast<long>(c);
                columns.needed = std::max(columns.needed, c + 1);
            }
    std::string missing;
    for (std::size_t k = 0; k < 4; ++k)
        if (*known[k].second < 0)
            missing += (missing.empty() ? "" : ", ") + known[k].first;
    if (!missing.empty())
        throw DataError(reader.here() + "the header lacks the column(s) " + missing +
                        "; a table's tab-separated header holds population, locus, allele, count and "
                        "optionally size or sequence, found " + quoted(header_line));
    if (columns.size >= 0 && columns.sequence >= 0)
        throw DataError(reader.here() + "the header holds both size and sequence; keep the one the distances "
                                        "are to be measured from");
    return columns;
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
        locus.add_copies(raw_.population_index(population), haplotype, copies);
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
    read_two_columns(file, "a locus, a tab and its repeat length in base pairs",
                     [&lengths](const std::string& locus, const std::string& length, const std::string& place) {
                         lengths.per_locus[locus] = parse_positive(length, place, "a repeat length in base pairs");
                     });
    return lengths;
}

}  // namespace prepare
