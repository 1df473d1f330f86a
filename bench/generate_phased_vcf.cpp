// Writes a phased VCF or BCF with htslib, with the BED regions and the population
// map that corvane-prepare needs beside it: a hybrid population and two parental
// populations, every region drawn from a few founder haplotypes per parent with
// rare mutations, the hybrid's copies drawn from the parents at 30% and 70%.
//
//   generate_phased_vcf OUT.bcf|OUT.vcf.gz|OUT.vcf BED MAP [SAMPLES REGIONS SITES SEED]
//   (defaults: 2500 samples, 100 regions of 50 variant sites, seed 2026)

#include <htslib/hts.h>
#include <htslib/vcf.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int founders_per_parent = 30;
constexpr double mutation_probability = 0.002;
constexpr double share_of_first_parent = 0.3;
constexpr long region_spacing = 10000;
constexpr long site_spacing = 100;

const char* population_of_sample(int sample, int samples)
{
    return sample < samples / 3 ? "hybrid" : sample < 2 * samples / 3 ? "north" : "south";
}

// Writes mode for htslib from the file's name: BCF, bgzip-compressed VCF or plain VCF.
const char* write_mode(const std::string& path)
{
    const auto ends_with = [&path](const std::string& end) {
        return path.size() >= end.size() && path.compare(path.size() - end.size(), end.size(), end) == 0;
    };
    return ends_with(".bcf") ? "wb" : ends_with(".gz") ? "wz" : "w";
}

// One region's alleles: copies[copy][site], drawn from the founders of each parent.
std::vector<std::vector<int>> region_copies(int samples, int sites, std::mt19937_64& random)
{
    std::bernoulli_distribution coin(0.5), mutation(mutation_probability), first_parent(share_of_first_parent);
    std::uniform_int_distribution<int> founder(0, founders_per_parent - 1);
    std::vector<std::vector<std::vector<int>>> founders(2, std::vector<std::vector<int>>(founders_per_parent));
    for (auto& parent : founders)
        for (auto& haplotype : parent)
            for (int s = 0; s < sites; ++s)
                haplotype.push_back(coin(random));
    std::vector<std::vector<int>> copies;
    for (int sample = 0; sample < samples; ++sample)
        for (int k = 0; k < 2; ++k) {
            const std::string population = population_of_sample(sample, samples);
            const int parent = population == "north" ? 0 : population == "south" ? 1 : first_parent(random) ? 0 : 1;
            std::vector<int> copy = founders[static_cast<std::size_t>(parent)][static_cast<std::size_t>(founder(random))];
            for (int& allele : copy)
                allele = mutation(random) ? 1 - allele : allele;
            copies.push_back(copy);
        }
    return copies;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 4 && argc != 8) {
        std::fprintf(stderr, "usage: %s OUT.bcf|OUT.vcf.gz|OUT.vcf BED MAP [SAMPLES REGIONS SITES SEED]\n", argv[0]);
        return 2;
    }
    const int samples = argc == 8 ? std::atoi(argv[4]) : 2500;
    const int regions = argc == 8 ? std::atoi(argv[5]) : 100;
    const int sites = argc == 8 ? std::atoi(argv[6]) : 50;
    std::mt19937_64 random(argc == 8 ? std::strtoull(argv[7], nullptr, 10) : 2026);

    htsFile* out = hts_open(argv[1], write_mode(argv[1]));
    bcf_hdr_t* header = bcf_hdr_init("w");
    const std::string contig = "##contig=<ID=chr1,length=" + std::to_string(regions * region_spacing) + ">";
    bcf_hdr_append(header, contig.c_str());
    bcf_hdr_append(header, "##FORMAT=<ID=GT,Number=1,Type=String,Description=\"Phased genotype\">");
    std::ofstream map(argv[3]);
    for (int sample = 0; sample < samples; ++sample) {
        const std::string name = "sample" + std::to_string(sample + 1);
        bcf_hdr_add_sample(header, name.c_str());
        map << name << '\t' << population_of_sample(sample, samples) << '\n';
    }
    if (!out || bcf_hdr_sync(header) < 0 || bcf_hdr_write(out, header) < 0) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    std::ofstream bed(argv[2]);
    bcf1_t* record = bcf_init();
    std::vector<int32_t> genotypes(static_cast<std::size_t>(2 * samples));
    for (int r = 0; r < regions; ++r) {
        const long start = r * region_spacing;
        bed << "chr1\t" << start << '\t' << start + sites * site_spacing << "\tregion" << r + 1 << '\n';
        const std::vector<std::vector<int>> copies = region_copies(samples, sites, random);
        for (int s = 0; s < sites; ++s) {
            bcf_clear(record);
            record->rid = bcf_hdr_name2id(header, "chr1");
            record->pos = start + s * site_spacing;
            bcf_update_alleles_str(header, record, "A,G");
            for (std::size_t c = 0; c < copies.size(); ++c)
                genotypes[c] = c % 2 ? bcf_gt_phased(copies[c][static_cast<std::size_t>(s)])
                                     : bcf_gt_unphased(copies[c][static_cast<std::size_t>(s)]);
            bcf_update_genotypes(header, record, genotypes.data(), static_cast<int>(genotypes.size()));
            if (bcf_write(out, header, record) < 0) {
                std::fprintf(stderr, "cannot write %s\n", argv[1]);
                return 1;
            }
        }
    }
    bcf_destroy(record);
    bcf_hdr_destroy(header);
    return hts_close(out) == 0 && bed && map ? 0 : 1;
}
