// FASTA: each file is one aligned locus; each record one copy, whose population
// the map gives by the record's name. A haplotype is a distinct sequence.

#include <htslib/bgzf.h>

#include <cctype>
#include <memory>
#include <unordered_map>

#include "errors.h"
#include "readers.h"

namespace {

// htslib's BGZF reads plain, gzip and bgzip files alike; a failed read ends the
// stream and is remembered, since the record parser only knows "more" or "end".
struct FastaStream {
    BGZF* file = nullptr;
    bool failed = false;
};

int read_block(FastaStream* stream, void* buffer, int length)
{
    const ssize_t got = bgzf_read(stream->file, buffer, static_cast<size_t>(length));
    if (got < 0) {
        stream->failed = true;
        return 0;
    }
    return static_cast<int>(got);
}

}  // namespace

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wunused-function"
#include <htslib/kseq.h>
KSEQ_INIT(FastaStream*, read_block)
#pragma GCC diagnostic pop

namespace prepare {

std::size_t first_non_sequence_character(const std::string& sequence, char also_allowed)
{
    for (std::size_t i = 0; i < sequence.size(); ++i) {
        const char c = sequence[i];
        if (!std::isalpha(static_cast<unsigned char>(c)) && c != '-' && c != '.' && c != '?' && c != '*' &&
            c != also_allowed)
            return i + 1;
    }
    return 0;
}

namespace {

std::string record_label(long record, const std::string& name)
{
    return "record " + std::to_string(record) + " (" + quoted(name) + ")";
}

struct FastaFile {
    explicit FastaFile(const std::string& path)
    {
        stream.file = bgzf_open(path.c_str(), "r");
        if (!stream.file)
            throw DataError("cannot open " + quoted(path));
        records = kseq_init(&stream);
    }
    ~FastaFile()
    {
        kseq_destroy(records);
        bgzf_close(stream.file);
    }
    FastaFile(const FastaFile&) = delete;
    FastaFile& operator=(const FastaFile&) = delete;

    FastaStream stream;
    kseq_t* records = nullptr;
};

RawLocus read_fasta_locus(const std::string& path, const PopulationMap& map, RawData& raw)
{
    RawLocus locus;
    locus.name = locus_name_of(path, {".gz", ".bgz", ".fasta", ".fas", ".fna", ".fa", ".aln"});
    locus.payload = Payload::sequence;
    FastaFile file(path);
    std::unordered_map<std::string, long> record_of_name;
    std::string first_name;
    std::size_t first_length = 0;
    long record = 0;
    int status = 0;
    while ((status = kseq_read(file.records)) >= 0) {
        ++record;
        const std::string name = file.records->name.s;
        const std::string sequence = upper_case(file.records->seq.s);
        const std::string where = path + ", " + record_label(record, name);
        if (const std::size_t column = first_non_sequence_character(sequence))
            throw DataError(where + ", site " + std::to_string(column) + ": expected a base letter, '-', '.', '?' or '*', found " +
                            quoted(sequence.substr(column - 1, 1)));
        if (record == 1) {
            first_name = name;
            first_length = sequence.size();
        } else if (sequence.size() != first_length) {
            throw DataError(where + " holds " + std::to_string(sequence.size()) + " sites but " +
                            record_label(1, first_name) + " holds " + std::to_string(first_length) +
                            ": the records of one file must be aligned to one length");
        }
        const auto [earlier, added] = record_of_name.emplace(name, record);
        if (!added)
            throw DataError(where + " repeats the name of " + record_label(earlier->second, name));
        const auto population = map.population_of.find(name);
        if (population == map.population_of.end()) {
            raw.leave_out("sequences whose names are not in the population map", 1);
            continue;
        }
        const std::size_t haplotype = locus.haplotype_index(Haplotype{sequence, sequence, {}, {}});
        locus.add_copies(raw.population_index(population->second), haplotype, 1);
    }
    if (status < -1 || file.stream.failed)
        throw DataError(path + ": the file is damaged or truncated after record " + std::to_string(record));
    if (record == 0)
        throw DataError(path + ": no FASTA record (a line starting with '>') was found");
    return locus;
}

}  // namespace

RawData read_fasta(const std::vector<std::string>& files, const PopulationMap& map)
{
    RawData raw;
    raw.input_kind = "FASTA";
    for (const std::string& population : map.populations)
        raw.population_index(population);
    for (const std::string& path : files)
        raw.add_file_locus(read_fasta_locus(path, map, raw), "--fasta");
    return raw;
}

}  // namespace prepare
