// Arlequin projects of haplotypic data: the [Profile] says what a haplotype is,
// an optional HaplList defines haplotypes once, and every sample lists its
// haplotypes with their counts. One file is one locus.

#include <algorithm>
#include <cmath>
#include <map>
#include <optional>

#include "errors.h"
#include "readers.h"

namespace prepare {

namespace {

struct ArpLine {
    std::string text;
    long number = 0;
};

// The line without a '#' comment (one outside quotes), trimmed.
std::string without_comment(const std::string& line)
{
    char quote = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (quote) {
            quote = line[i] == quote ? 0 : quote;
        } else if (line[i] == '"' || line[i] == '\'') {
            quote = line[i];
        } else if (line[i] == '#') {
            return trimmed(line.substr(0, i));
        }
    }
    return trimmed(line);
}

std::string unquoted(const std::string& value)
{
    if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0])
        return value.substr(1, value.size() - 2);
    return value;
}

std::string lower_case(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

struct Entry {  // one line of a HaplList or a SampleData block
    std::vector<std::string> tokens;
    long line = 0;
};

struct Sample {
    std::string name;
    long line = 0;
    std::optional<std::int64_t> declared_size;
    long size_line = 0;
    std::vector<Entry> entries;
};

const char* const supported_kinds =
    "haplotypic data (GenotypicData=0) of DataType DNA, RFLP, STANDARD, MICROSAT or FREQUENCY";

class ArlequinReader {
public:
    ArlequinReader(const std::string& file, RawData& raw) : file_(file), raw_(raw) {}

    RawLocus read()
    {
        parse_lines();
        check_profile();
        locus_.name = locus_name_of(file_, {".arp"});
        locus_.payload = data_type_ == "DNA"                               ? Payload::sequence
                         : data_type_ == "MICROSAT"                        ? Payload::repeat_numbers
                         : data_type_ == "RFLP" || data_type_ == "STANDARD" ? Payload::states
                                                                           : Payload::names_only;
        for (const Entry& entry : haplotype_list_)
            define(entry.tokens[0], std::vector<std::string>(entry.tokens.begin() + 1, entry.tokens.end()), entry.line);
        for (const Sample& sample : samples_)
            add_sample(sample);
        return std::move(locus_);
    }

    std::vector<std::string> sample_names() const
    {
        std::vector<std::string> names;
        for (const Sample& sample : samples_)
            names.push_back(sample.name);
        return names;
    }

private:
    std::string here(long line) const { return at_line(file_, line); }

    void parse_lines()
    {
        LineReader reader(file_);
        std::string line;
        std::string section;
        while (reader.next(line)) {
            const std::string text = without_comment(line);
            if (text.empty())
                continue;
            if (text[0] == '[') {
                section = lower_case(text);
                section.erase(std::remove(section.begin(), section.end(), ' '), section.end());
                continue;
            }
            const std::size_t equals = text.find('=');
            if (equals == std::string::npos)
                throw DataError(reader.here() + "expected a section such as [[Samples]] or KEY=VALUE, found " +
                                quoted(text));
            const std::string key = lower_case(trimmed(text.substr(0, equals)));
            const std::string value = trimmed(text.substr(equals + 1));
            const long key_line = reader.line_number();
            if (!value.empty() && value[0] == '{')
                take_block(section, key, read_block(value.substr(1), reader, key_line));
            else
                take_value(section, key, unquoted(value), key_line);
        }
    }

    // The entries of a { ... } block, one a line, up to the closing brace.
    std::vector<Entry> read_block(std::string rest, LineReader& reader, long opened)
    {
        std::vector<Entry> entries;
        std::string line;
        while (true) {
            const std::size_t close = rest.find('}');
            const std::vector<std::string> tokens = split_on_blanks(rest.substr(0, close));
            if (!tokens.empty())
                entries.push_back(Entry{tokens, reader.line_number()});
            if (close != std::string::npos)
                return entries;
            if (!reader.next(line))
                throw DataError(here(opened) + "the block opened here is not closed by '}'");
            rest = without_comment(line);
        }
    }

    void take_value(const std::string& section, const std::string& key, const std::string& value, long line)
    {
        if (section == "[profile]") {
            if (key == "nbsamples")
                declared_samples_ = parse_copies(value, here(line), "NbSamples");
            else if (key == "datatype")
                data_type_ = upper_case(value), data_type_line_ = line;
            else if (key == "genotypicdata")
                genotypic_ = value != "0", genotypic_line_ = line;
            else if (key == "locusseparator")
                separator_ = value;
            else if (key == "missingdata")
                missing_ = value;
        } else if (section == "[[samples]]") {
            if (key == "samplename") {
                samples_.push_back(Sample{value, line, std::nullopt, 0, {}});
            } else if (key == "samplesize" && !samples_.empty()) {
                samples_.back().declared_size = parse_copies(value, here(line), "SampleSize");
                samples_.back().size_line = line;
            }
        }
    }

    void take_block(const std::string& section, const std::string& key, std::vector<Entry> entries)
    {
        if (section == "[[haplotypedefinition]]" && key == "hapllist") {
            haplotype_list_ = std::move(entries);
        } else if (section == "[[samples]]" && key == "sampledata") {
            if (samples_.empty())
                throw DataError(here(entries.empty() ? 0 : entries[0].line) + "SampleData comes before any SampleName");
            samples_.back().entries = std::move(entries);
        }
    }

    void check_profile()
    {
        if (genotypic_)
            throw DataError(here(genotypic_line_) + "genotypic data (GenotypicData=1) cannot be read; corvane-prepare "
                                                    "reads " + supported_kinds);
        if (data_type_.empty())
            throw DataError(file_ + ": the [Profile] section gives no DataType; corvane-prepare reads " +
                            supported_kinds);
        const std::vector<std::string> kinds = {"DNA", "RFLP", "STANDARD", "MICROSAT", "FREQUENCY"};
        if (std::find(kinds.begin(), kinds.end(), data_type_) == kinds.end())
            throw DataError(here(data_type_line_) + "DataType " + quoted(data_type_) + " cannot be read; corvane-prepare "
                                                                                       "reads " + supported_kinds);
        if (declared_samples_ && *declared_samples_ != static_cast<std::int64_t>(samples_.size()))
            throw DataError(file_ + ": NbSamples is " + std::to_string(*declared_samples_) + " but " +
                            std::to_string(samples_.size()) + " samples (SampleName lines) were found");
        if (missing_.size() > 1)
            throw DataError(file_ + ": MissingData must be one character, found " + quoted(missing_));
    }

    // The parts of a haplotype's data: the loci the separator divides it into.
    std::vector<std::string> loci_of(const std::vector<std::string>& tokens) const
    {
        const std::string upper = upper_case(separator_);
        if (upper == "WHITESPACE" || upper == "TAB")
            return tokens;
        std::string joined;
        for (const std::string& token : tokens)
            joined += token;
        if (upper == "NONE" || separator_.empty())
            return {joined};
        return split_on(joined, separator_[0]);
    }

    bool is_missing(const std::string& token) const { return !missing_.empty() && token == missing_; }

    Haplotype haplotype_of(const std::string& id, const std::vector<std::string>& data, long line)
    {
        Haplotype haplotype;
        haplotype.name = id;
        const std::vector<std::string> loci = loci_of(data);
        if (locus_.payload == Payload::sequence) {
            for (const std::string& part : loci)
                haplotype.sequence += upper_case(part);
            const char missing = missing_.empty() ? '\0' : missing_[0];
            if (const std::size_t site = first_non_sequence_character(haplotype.sequence, missing))
                throw DataError(here(line) + "haplotype " + quoted(id) + ", site " + std::to_string(site) +
                                ": expected a base letter, '-', '.', '?' or '*', found " +
                                quoted(haplotype.sequence.substr(site - 1, 1)));
        } else if (locus_.payload == Payload::states) {
            const bool one_per_character = loci.size() == 1 && upper_case(separator_) != "WHITESPACE" &&
                                           upper_case(separator_) != "TAB";
            std::vector<std::string> symbols;
            for (const std::string& part : loci)
                if (one_per_character)
                    for (char c : part)
                        symbols.emplace_back(1, c);
                else
                    symbols.push_back(part);
            for (const std::string& symbol : symbols)
                haplotype.states.push_back(is_missing(symbol) ? missing_state
                                                              : static_cast<int>(state_of_symbol_.emplace(
                                                                    symbol, state_of_symbol_.size()).first->second));
        } else if (locus_.payload == Payload::repeat_numbers) {
            for (const std::string& part : loci)
                haplotype.numbers.push_back(is_missing(part) ? std::nan("")
                                                             : parse_real(part, here(line), "a repeat number"));
        }
        return haplotype;
    }

    std::size_t length_of(const Haplotype& h) const
    {
        return h.sequence.size() + h.states.size() + h.numbers.size();
    }

    // Registers a haplotype with its data; refuses data that differ in length from
    // the first haplotype's or that redefine an identifier differently.
    std::size_t define(const std::string& id, const std::vector<std::string>& data, long line)
    {
        Haplotype haplotype = haplotype_of(id, data, line);
        if (locus_.payload != Payload::names_only && !locus_.haplotypes.empty() &&
            length_of(haplotype) != length_of(locus_.haplotypes.front()))
            throw DataError(here(line) + "haplotype " + quoted(id) + " holds " + std::to_string(length_of(haplotype)) +
                            " positions but haplotype " + quoted(locus_.haplotypes.front().name) + " holds " +
                            std::to_string(length_of(locus_.haplotypes.front())));
        std::string text;
        for (const std::string& token : data)
            text += token + ' ';
        const auto [earlier, added] = data_of_id_.emplace(id, text);
        if (!added && earlier->second != text)
            throw DataError(here(line) + "haplotype " + quoted(id) + " is given data that differ from its earlier definition");
        return locus_.haplotype_index(haplotype);
    }

    std::size_t haplotype_for(const Entry& entry)
    {
        const std::string& id = entry.tokens[0];
        if (entry.tokens.size() > 2 && locus_.payload != Payload::names_only)
            return define(id, std::vector<std::string>(entry.tokens.begin() + 2, entry.tokens.end()), entry.line);
        for (std::size_t h = 0; h < locus_.haplotypes.size(); ++h)
            if (locus_.haplotypes[h].name == id)
                return h;
        if (locus_.payload != Payload::names_only)
            throw DataError(here(entry.line) + "haplotype " + quoted(id) +
                            " has no data beside it and no definition in a HaplList");
        return locus_.haplotype_index(Haplotype{id, "", {}, {}});
    }

    void add_sample(const Sample& sample)
    {
        for (const Sample& other : samples_)
            if (&other != &sample && other.name == sample.name && other.line < sample.line)
                throw DataError(here(sample.line) + "a second sample is named " + quoted(sample.name));
        const std::size_t population = raw_.population_index(sample.name);
        std::int64_t total = 0;
        for (const Entry& entry : sample.entries) {
            if (entry.tokens.size() < 2)
                throw DataError(here(entry.line) + "expected a haplotype identifier and its count, found " +
                                quoted(entry.tokens[0]));
            const std::int64_t copies = parse_copies(entry.tokens[1], here(entry.line), "the count of haplotype " + quoted(entry.tokens[0]));
            locus_.add_copies(population, haplotype_for(entry), copies);
            total += copies;
        }
        if (sample.declared_size && *sample.declared_size != total)
            throw DataError(here(sample.size_line) + "SampleSize of sample " + quoted(sample.name) + " is " +
                            std::to_string(*sample.declared_size) + " but its counts add up to " + std::to_string(total));
    }

    std::string file_;
    RawData& raw_;
    RawLocus locus_;
    std::string data_type_;
    long data_type_line_ = 0;
    bool genotypic_ = false;
    long genotypic_line_ = 0;
    std::string separator_ = "WHITESPACE";
    std::string missing_ = "?";
    std::optional<std::int64_t> declared_samples_;
    std::vector<Entry> haplotype_list_;
    std::vector<Sample> samples_;
    std::map<std::string, std::size_t> state_of_symbol_;
    std::map<std::string, std::string> data_of_id_;
};

std::string listed(std::vector<std::string> names)
{
    std::sort(names.begin(), names.end());
    std::string text;
    for (const std::string& name : names)
        text += (text.empty() ? "" : ", ") + name;
    return text;
}

}  // namespace

RawData read_arlequin(const std::vector<std::string>& files)
{
    RawData raw;
    raw.input_kind = "Arlequin";
    std::string first_samples;
    for (const std::string& file : files) {
        ArlequinReader reader(file, raw);
        RawLocus locus = reader.read();
        const std::string samples = listed(reader.sample_names());
        if (file == files.front())
            first_samples = samples;
        else if (samples != first_samples)
            throw DataError(file + ": the samples are " + samples + " but those of " + files.front() + " are " +
                            first_samples + "; the Arlequin files of one run must share their sample names");
        raw.add_file_locus(std::move(locus), "--arlequin");
    }
    return raw;
}

}  // namespace prepare
