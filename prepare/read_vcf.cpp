// A phased VCF or BCF, read with htslib: every BED region is a locus, every
// sample's phased copy a haplotype, the string of its alleles at the region's
// variant sites.

#include <htslib/hts.h>
#include <htslib/vcf.h>

#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <tuple>

#include "errors.h"
#include "readers.h"

namespace prepare {

namespace {

// Regions sorted by chromosome and start overlap exactly when one starts before
// the furthest end of those before it on its chromosome.
void refuse_overlaps(const std::vector<Region>& regions, const std::string& bed_file)
{
    std::vector<const Region*> sorted;
    for (const Region& region : regions)
        sorted.push_back(&region);
    std::sort(sorted.begin(), sorted.end(), [](const Region* a, const Region* b) {
        return std::tie(a->chromosome, a->start, a->line) < std::tie(b->chromosome, b->start, b->line);
    });
    const Region* furthest = nullptr;
    for (const Region* region : sorted) {
        if (furthest && furthest->chromosome == region->chromosome && region->start < furthest->end) {
            const auto [earlier, later] = std::minmax(furthest, region, [](const Region* a, const Region* b) {
                return a->line < b->line;
            });
            throw DataError(at_line(bed_file, later->line) + "the region " + quoted(later->name) +
                            " overlaps the region " + quoted(earlier->name) + " of line " +
                            std::to_string(earlier->line) + "; a variant site may belong to one locus only");
        }
        if (!furthest || furthest->chromosome != region->chromosome || region->end > furthest->end)
            furthest = region;
    }
}

}  // namespace

std::vector<Region> read_regions(const std::string& bed_file)
{
    std::vector<Region> regions;
    std::map<std::string, long> line_of_name;
    LineReader reader(bed_file);
    std::string line;
    while (reader.next(line)) {
        const std::vector<std::string> fields = split_on_blanks(line);
        if (fields.empty() || fields[0][0] == '#' || fields[0] == "track" || fields[0] == "browser")
            continue;
        if (fields.size() < 3)
            throw DataError(reader.here() + "expected a chromosome, a start and an end, found " + quoted(line));
        Region region;
        region.chromosome = fields[0];
        region.start = parse_copies(fields[1], reader.here(), "the region's start (0-based)");
        region.end = parse_copies(fields[2], reader.here(), "the region's end");
        if (region.end <= region.start)
            throw DataError(reader.here() + "the region ends at " + fields[2] + ", not after its start " + fields[1]);
        region.name = fields.size() > 3 ? fields[3]
                                         : region.chromosome + ":" + std::to_string(region.start + 1) + "-" +
                                               std::to_string(region.end);
        region.line = reader.line_number();
        if (!line_of_name.emplace(region.name, region.line).second)
            throw DataError(reader.here() + "a second region is named " + quoted(region.name));
        regions.push_back(region);
    }
    if (regions.empty())
        throw DataError(bed_file + ": no region was found");
    refuse_overlaps(regions, bed_file);
    return regions;
}

namespace {

// Each sample gives up to two copies; a copy is known at a region only when every
// site gave it a called allele with its phase.
constexpr int copies_per_sample = 2;
enum CopyFlag : unsigned char { copy_missing = 1, copy_unphased = 2, copy_absent = 4 };

struct RegionCopies {
    std::vector<std::vector<std::string>> site_alleles;  // per site: the REF and ALT alleles
    std::vector<std::string> alleles;                    // per copy: one allele index a site
    std::vector<unsigned char> flags;                    // per copy
    std::vector<std::size_t> absent_sites;               // per copy: sites with no such copy (haploid calls)
};

struct VcfFile {
    explicit VcfFile(const std::string& path) : path(path)
    {
        file = hts_open(path.c_str(), "r");
        if (!file)
            throw DataError("cannot open " + quoted(path));
        header = bcf_hdr_read(file);
        if (!header) {
            hts_close(file);  // the destructor does not run for an object never constructed
            throw DataError(path + ": not a VCF or BCF file (its header cannot be read)");
        }
        record = bcf_init();
    }
    ~VcfFile()
    {
        free(genotypes);
        if (record)
            bcf_destroy(record);
        if (header)
            bcf_hdr_destroy(header);
        hts_close(file);
    }
    VcfFile(const VcfFile&) = delete;
    VcfFile& operator=(const VcfFile&) = delete;

    std::string path;
    htsFile* file = nullptr;
    bcf_hdr_t* header = nullptr;
    bcf1_t* record = nullptr;
    int32_t* genotypes = nullptr;
    int genotypes_size = 0;
};

std::string record_place(const VcfFile& vcf)
{
    return vcf.path + ", record " + bcf_seqname_safe(vcf.header, vcf.record) + ":" +
           std::to_string(vcf.record->pos + 1) + ": ";
}

void add_site(VcfFile& vcf, RegionCopies& region)
{
    const int samples = bcf_hdr_nsamples(vcf.header);
    if (bcf_unpack(vcf.record, BCF_UN_STR) < 0)
        throw DataError(record_place(vcf) + "the alleles cannot be read");
    if (vcf.record->n_allele > 255)
        throw DataError(record_place(vcf) + "more than 255 alleles at one site");
    std::vector<std::string> site;
    for (int a = 0; a < vcf.record->n_allele; ++a)
        site.emplace_back(vcf.record->d.allele[a]);
    region.site_alleles.push_back(site);
    const int values = bcf_get_genotypes(vcf.header, vcf.record, &vcf.genotypes, &vcf.genotypes_size);
    if (values <= 0)
        throw DataError(record_place(vcf) + "no GT (genotype) field");
    const int ploidy = values / samples;
    if (ploidy > copies_per_sample)
        throw DataError(record_place(vcf) + "genotypes of ploidy " + std::to_string(ploidy) +
                        "; each sample may give at most two copies");
    for (int s = 0; s < samples; ++s) {
        const int32_t* called = vcf.genotypes + s * ploidy;
        bool unphased = false;
        for (int k = 0; k < copies_per_sample; ++k) {
            const std::size_t copy = static_cast<std::size_t>(s * copies_per_sample + k);
            const bool absent = k >= ploidy || called[k] == bcf_int32_vector_end;
            const bool missing = !absent && bcf_gt_is_missing(called[k]);
            if (!absent && !missing && bcf_gt_allele(called[k]) >= vcf.record->n_allele)
                throw DataError(record_place(vcf) + "sample " + quoted(vcf.header->samples[s]) + ": the genotype names allele " +
                                std::to_string(bcf_gt_allele(called[k])) + " but the site has " +
                                std::to_string(vcf.record->n_allele - 1) + " ALT allele(s)");
            // "1/." is unphased too: the called allele cannot be given to either copy.
            unphased = unphased || (k > 0 && !absent && !bcf_gt_is_phased(called[k]));
            region.absent_sites[copy] += absent;
            if (missing)
                region.flags[copy] |= copy_missing;
            region.alleles[copy] += static_cast<char>(absent || missing ? 0 : bcf_gt_allele(called[k]));
        }
        if (unphased)
            for (int k = 0; k < copies_per_sample; ++k)
                region.flags[static_cast<std::size_t>(s * copies_per_sample + k)] |= copy_unphased;
    }
}

// The name of a copy: its alleles one after the other when every allele of the
// region is one letter, otherwise separated by commas.
std::string haplotype_name(const RegionCopies& region, const std::string& alleles)
{
    bool single_letters = true;
    for (const auto& site : region.site_alleles)
        for (const std::string& allele : site)
            single_letters = single_letters && allele.size() == 1;
    std::string name;
    for (std::size_t s = 0; s < alleles.size(); ++s) {
        if (!single_letters && s > 0)
            name += ',';
        name += region.site_alleles[s][static_cast<unsigned char>(alleles[s])];
    }
    return name;
}

RawLocus locus_of(const Region& bed, const RegionCopies& region, const std::vector<long>& sample_population,
                  RawData& raw)
{
    RawLocus locus;
    locus.name = bed.name;
    locus.payload = Payload::states;
    const std::size_t sites = region.site_alleles.size();
    if (sites == 0) {
        locus.left_out_because = "no variant site of the VCF lies in the region";
        return locus;
    }
    for (std::size_t copy = 0; copy < region.alleles.size(); ++copy) {
        const long population = sample_population[copy / copies_per_sample];
        if (region.absent_sites[copy] == sites)
            continue;  // a haploid sample has no second copy here
        const char* reason = population < 0 ? "copies of samples not in the population map"
                             : (region.flags[copy] & copy_missing) || region.absent_sites[copy] > 0
                                 ? "copies with a missing allele in a region"
                             : (region.flags[copy] & copy_unphased) ? "copies with an unphased genotype in a region"
                                                                     : nullptr;
        if (reason) {
            raw.leave_out(reason, 1);
            if (population >= 0)
                locus.drop(static_cast<std::size_t>(population), reason, 1);
            continue;
        }
        const std::string& alleles = region.alleles[copy];
        Haplotype haplotype{haplotype_name(region, alleles), "", {}, {}};
        for (char allele : alleles)
            haplotype.states.push_back(static_cast<unsigned char>(allele));
        const std::size_t index = locus.haplotype_index(std::move(haplotype));
        locus.add_copies(static_cast<std::size_t>(population), index, 1);
    }
    return locus;
}

// The chromosome names the VCF uses: its header's contigs and those of its records.
std::set<std::string> chromosomes_of(const VcfFile& vcf, const std::set<std::string>& of_records)
{
    std::set<std::string> names = of_records;
    int count = 0;
    const char** contigs = bcf_hdr_seqnames(vcf.header, &count);
    for (int c = 0; c < count; ++c)
        names.insert(contigs[c]);
    free(contigs);
    return names;
}

// A region on a chromosome the VCF lacks but names with or without a "chr" prefix
// is refused: its locus would otherwise be left out for want of variant sites.
void refuse_chr_prefix_mismatch(const std::vector<Region>& regions, const std::set<std::string>& chromosomes,
                                const std::string& vcf_file, const std::string& bed_file)
{
    for (const Region& region : regions) {
        if (chromosomes.count(region.chromosome))
            continue;
        const std::string& c = region.chromosome;
        const std::string other = c.compare(0, 3, "chr") == 0 ? c.substr(3) : "chr" + c;
        if (chromosomes.count(other))
            throw DataError(at_line(bed_file, region.line) + "the chromosome " + quoted(c) + " is not in " + vcf_file +
                            ", which names it " + quoted(other) + ": the BED file and the VCF differ by a \"chr\" "
                            "prefix; rename the chromosomes of one of them");
    }
}

}  // namespace

RawData read_vcf(const std::string& file, const std::string& bed_file, const std::vector<Region>& regions,
                 const PopulationMap& map)
{
    VcfFile vcf(file);
    RawData raw;
    raw.input_kind = "VCF";
    for (const std::string& population : map.populations)
        raw.population_index(population);
    const int samples = bcf_hdr_nsamples(vcf.header);
    if (samples == 0)
        throw DataError(file + ": the file holds no sample");
    std::vector<long> sample_population;
    for (int s = 0; s < samples; ++s) {
        const auto found = map.population_of.find(vcf.header->samples[s]);
        sample_population.push_back(found == map.population_of.end()
                                        ? -1
                                        : static_cast<long>(raw.population_index(found->second)));
    }
    std::vector<RegionCopies> copies(regions.size());
    for (RegionCopies& region : copies) {
        region.alleles.resize(static_cast<std::size_t>(samples * copies_per_sample));
        region.flags.resize(region.alleles.size(), 0);
        region.absent_sites.resize(region.alleles.size(), 0);
    }
    int status = 0;
    std::set<std::string> chromosomes_of_records;
    while ((status = bcf_read(vcf.file, vcf.header, vcf.record)) == 0) {
        const char* chromosome = bcf_seqname_safe(vcf.header, vcf.record);
        chromosomes_of_records.insert(chromosome);
        for (std::size_t r = 0; r < regions.size(); ++r)
            if (regions[r].chromosome == chromosome && vcf.record->pos >= regions[r].start &&
                vcf.record->pos < regions[r].end)
                add_site(vcf, copies[r]);
    }
    if (status < -1 || vcf.record->errcode)
        throw DataError(file + ": the file is damaged or malformed after " + std::to_string(vcf.record->pos + 1) +
                        " on " + bcf_seqname_safe(vcf.header, vcf.record));
    refuse_chr_prefix_mismatch(regions, chromosomes_of(vcf, chromosomes_of_records), file, bed_file);
    for (std::size_t r = 0; r < regions.size(); ++r)
        raw.loci.push_back(locus_of(regions[r], copies[r], sample_population, raw));
    return raw;
}

}  // namespace prepare
