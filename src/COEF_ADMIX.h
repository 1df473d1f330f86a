#ifndef COEF_ADMIX_H
#define COEF_ADMIX_H

#include <cstdint>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include <sstream>

#include "console_input.h"
#include "log_blocks.h"
#include "log_writer.h"
#include "number_format.h"
#include "estimate_core.h"
#include "pair_sums.h"
#include "dialogue.h"

class OutputFolder;

#include "random_numbers.h"

// The estimator record: the data read from the data file, every intermediate
// result of the estimate, the estimates themselves, the bootstrap storage and
// the log. Population index 0 is the hybrid population and 1..P the parental
// populations on the population level of the count arrays; arrays over parental
// populations only have P entries, index p standing for parental population p+1.
// Every multi-level array is an array of row pointers; the rows of one table lie
// in one block, and every haplotype dimension is as long as its locus's number
// of haplotypes (at most MAX_NB_ALLELES), so the storage follows the data.
class Coef_Admixture {
public:
    int _nb_parent_pops = 0;
    int _nb_loci = 0;
    int** _sample_sizes = nullptr;                 // [L][P+1]
    int MAX_NB_ALLELES = 0;
    int* _num_alleles_loci = nullptr;              // [L]
    float*** _dist_haplotypes = nullptr;           // [L][n(l)][n(l)]
    int*** _freq_haplotypes = nullptr;             // [L][P+1][n(l)]
    float _time_to_admix_event = 0;
    float _mutation_rate_per_year = 0;
    float** _parental_coal_times = nullptr;        // [P][P]
    float* _hybrid_parental_coal_times = nullptr;  // [P]
    float** _right_hand_side_matrix = nullptr;     // [P][P]: coefficients of the variables
    float* _left_hand_side_vector = nullptr;       // [P]: constant terms
    float* _admixture_coefficients = nullptr;      // [P]: the estimates mY
    int _nb_bootstrap = 0;
    int*** _freq_hap_boot = nullptr;               // [L][P+1][n(l)]
    float** _admixture_coef_boot = nullptr;        // [N][P]
    float* _admix_coef_mean_boot = nullptr;        // [P]
    float* _admix_coef_sd_boot = nullptr;          // [P]
    std::ofstream log_file;

    // Talks to the user on the process's standard streams; the log is opened in
    // the current folder at once.
    Coef_Admixture();
    // Talks through the given console; the log is opened in the current folder
    // at once.
    Coef_Admixture(ConsoleInput& console_in, std::ostream& console_out);
    // Asks its questions through the dialogue and writes its files in the output
    // folder, which the caller has claimed; the log is opened once the data
    // file's name is known not to be one of the output files.
    Coef_Admixture(Dialogue& dialogue, OutputFolder& outputs);
    ~Coef_Admixture();
    Coef_Admixture(const Coef_Admixture&) = delete;
    Coef_Admixture& operator=(const Coef_Admixture&) = delete;

    // Creates the main storage for _nb_parent_pops and _nb_loci, locus l holding
    // haplotypes_per_locus[l] haplotypes (copied into _num_alleles_loci), and the
    // working tables of compute_coal_times. 0 when memory runs out; what was
    // created is then released.
    int allocate_space(const std::vector<int>& haplotypes_per_locus);
    int read_data_in_file();
    // Throws std::bad_alloc when memory runs out; what was created is then released.
    void allocate_space_for_bootstrap(int nb_boot);
    int bootstrap_pops();
    int compute_coal_times(int*** freq_hap);

    // The locus bootstrap: each replicate draws L loci with replacement and
    // estimates from them as from a data file holding those loci in the drawn
    // order. A locus's counts never change, so its pair sums are computed once,
    // when the replicate storage is made, and every replicate's times are built
    // from them.
    int check_locus_bootstrap_possible();
    // The draws of one replicate alone, into the caller's storage (counts
    // shaped like _freq_hap_boot; the loci in the order drawn).
    void draw_copies(int*** counts);
    // The draws of a replicate of copies made apart from the generator, for
    // replicates estimated side by side: reserve_copy_draws() (in replicate
    // order, one at a time) moves the generator past the replicate's draws
    // without making them and returns the state they start from; the draws are
    // then made from that state by draw_copies_from, on any thread. Possible
    // when every sample is drawn through its table.
    bool copy_draws_reservable() const { return _copy_draws_reservable; }
    std::uint32_t reserve_copy_draws();
    void draw_copies_from(std::uint32_t start, int*** counts) const;
    void draw_loci(std::vector<int>& drawn) const;
    void allocate_space_for_locus_bootstrap(int nb_boot);
    void bootstrap_loci();
    int compute_coal_times_of_drawn_loci();
    const std::vector<int>& drawn_loci() const { return _drawn_loci; }
    void add_time_to_admix_event();
    void compute_coefficients_of_linear_equations();
    int GaussNP(int n, float** a, float* b, float* x);
    int gaussian_elimination(float* admix_coef);
    void compute_mean_sd_bootstrap();
    int write_results(int nb_boot);
    int de_allocate_space_for_bootstrap(int nb_boot);
    int de_allocate_space();

    // How much the log holds; set before the data file is read. The estimate
    // of the observed data is logged in full either way.
    void set_log_detail(LogDetail detail) { _log_detail = detail; }
    LogDetail log_detail() const { return _log_detail; }

    // From now on the log lines of the bootstrap replicates are gathered in
    // blocks that a thread of their own writes while the engine computes (not
    // when the plain arithmetic is forced, which writes line by line); with a
    // log in summary or none, the replicates' blocks are not written at all.
    // end_replicate_log() ends a replicate: everything it logged is in the file
    // when it returns. finish_log_lines() writes what is left and ends that
    // thread; until then nothing but the engine may use log_file.
    // compute_mean_sd_bootstrap and the release of the bootstrap storage finish
    // too.
    void write_log_in_background();
    void end_replicate_log();
    void finish_log_lines();
    // The one line a log in summary holds for a replicate (nothing otherwise);
    // the first one is preceded by the block's heading.
    void log_replicate_summary(int replicate, const float* estimates);
    // The log blocks of a replicate estimated on another thread, written at
    // once (by the run's own thread, which commits the replicates in order).
    void log_replicate_blocks(const std::string& text);
    // False once a write of the log has failed (of the lines written so far).
    bool log_written() const;

    // How many threads may estimate replicates at once within the machine's
    // memory, as found by the bootstrap's storage check (at least 1).
    int replicate_threads_allowed() const { return _replicate_threads_allowed; }
    // The threads the storage check is to make room for, set before it.
    void set_replicate_threads(int threads) { _replicate_threads_wanted = threads; }
    // The threads that may share the reading of the data file and its echo in
    // the log; set before the data file is read.
    void set_reading_threads(int threads) { _reading_threads = threads; }

    // Checks beyond the estimator's own arithmetic. Each returns 1 when the data
    // allow the step and 0 otherwise, with the reason in error_message().
    int check_observed_pair_counts();
    int check_bootstrap_possible();

    // The reason of the last refusal: whole message lines, each ending with a
    // newline, ready for the error stop.
    const std::string& error_message() const { return _error_message; }
    // Why the last gaussian_elimination refused an estimate whose elimination
    // went through (its digits were noise): one message line, or empty.
    const std::string& refusal_message() const { return _refusal_message; }
    const std::string& data_file_name() const { return _data_file_name; }
    Dialogue& dialogue() { return *_dialogue; }
    // Where each of the run's files goes.
    std::string output_path(const char* file_name) const;

private:
    // A replicate estimated on a thread of its own reads the data, the distance
    // profiles, the draw tables and the loci's pair sums.
    friend class ReplicateOnThread;
    friend long double replicate_thread_bytes(const Coef_Admixture&, bool, bool, int);

    // How the draws of one sample find their haplotype, built once per bootstrap
    // from the observed counts: the running totals of the counts, for bisection,
    // and for samples of up to 4096 copies the haplotype every random number
    // selects (-1: the number is drawn again). Both lie in shared blocks.
    struct SampleDraws {
        const std::int64_t* running_totals;
        int haplotypes;
        const std::int16_t* haplotype_of_number;  // null above the tabled sizes
        bool table_holds_present_haplotypes;      // no entry is a haplotype without copies
    };

    void refuse(const std::string& message_lines);
    bool open_log();
    int read_whole_data_file(const std::string& name, std::string& contents);
    int refuse_bootstrap(const std::string& problem);
    int refuse_bootstrap_beyond_memory(long double needed_bytes, bool resample_loci);
    void allocate_replicate_estimates(int nb_boot);
    void write_data_echo();
    std::vector<int> echo_piece_ends(int threads) const;
    std::int64_t echo_values(int locus) const;
    // A distance or count in the echo takes about this many characters; a
    // piece of the echo holds at most about this many values.
    static constexpr std::int64_t echo_characters_per_value = 8;
    static constexpr std::int64_t most_echo_values_per_piece = 128 * 1024;
    void echo_loci(int from, int to, TextLine& line, RealTextCache& distance_texts, std::ostream& out);
    void write_count_rows(std::ostream& out, TextLine& line, int** counts, int locus);
    void start_coal_times();
    void add_locus_means(const float* tot_diff, const float* count_diff);
    int finish_coal_times(int loci);
    void write_coal_times_log();
    void profile_distances(bool again);
    void locus_pair_sums(int*** freq_hap, int locus);
    int draw_haplotype(int locus, int population, int sample_size);
    void build_sample_draws();
    void plan_copy_draw_skips();
    int haplotype_reached(const SampleDraws& draws, std::int64_t random_number) const;

    std::unique_ptr<ConsoleInput> _own_console_in;
    std::unique_ptr<Dialogue> _own_dialogue;
    Dialogue* _dialogue;
    OutputFolder* _outputs = nullptr;
    // Where the log lines of the engine's blocks go: log_file, the blocks a
    // background writer writes, or nowhere (replicates of a lighter log).
    std::ostream& log() { return *_log; }
    std::ostream* _log = &log_file;
    LogDetail _log_detail = LogDetail::full;
    int _replicate_threads_wanted = 1;
    int _reading_threads = 1;
    int _replicate_threads_allowed = 1;
    bool _replicate_blocks_logged = true;
    std::unique_ptr<BlockLogWriter> _log_writer;
    std::unique_ptr<LogBlocks> _log_blocks;
    std::unique_ptr<std::ostream> _replicate_log;
    std::ostream _no_log{nullptr};

    std::string _error_message;
    std::string _data_file_name;
    TextLine _line;                                // the log line being built

    // The blocks that the rows of the main and bootstrap tables point into.
    std::unique_ptr<int[]> _sample_size_block;
    std::unique_ptr<float*[]> _distance_rows;
    std::unique_ptr<float[]> _distance_block;
    std::unique_ptr<int*[]> _count_rows;
    std::unique_ptr<int[]> _count_block;
    std::unique_ptr<int*[]> _boot_count_rows;
    std::unique_ptr<int[]> _boot_count_block;
    std::unique_ptr<float[]> _replicate_block;
    long double _main_storage_bytes = 0;           // as estimated before allocating

    // Working tables made with the main storage and reused by every call of
    // compute_coal_times, so that no estimate allocates: the pair sums and pair
    // counts of the locus in hand, (P+1) x (P+1) each, the tables of the pair
    // sums, and per locus the largest distance when all are whole (see
    // whole_distance_bound), found at the first call on the observed counts.
    std::vector<float> _tot_diff;
    std::vector<float> _count_diff;
    std::unique_ptr<PairSums> _pair_sums;
    std::vector<double> _whole_distance_bound;
    std::vector<char> _distances_normal;
    // How the draws of every sample find their haplotype (built per bootstrap),
    // [locus * (P+1) + population], and the blocks they point into.
    std::vector<SampleDraws> _sample_draws;
    // The generator's steps of a replicate of copies: per part, a jump over the
    // draws of samples whose every number is kept, then the draws of one sample
    // that draws a multiple of its size again (0 when none follows).
    struct DrawSkip {
        corvane::GeneratorJump jump;
        int redrawing_sample_size;
    };
    std::vector<DrawSkip> _copy_draw_skips;
    bool _copy_draws_reservable = false;
    std::vector<std::int64_t> _running_total_block;
    std::vector<std::int16_t> _draw_table_block;
    // The same pair sums before any rounding, the rows every estimate takes
    // from them, and the precise estimate that checks the reported one. The
    // check is made once the times it belongs to have been formed.
    std::vector<double> _precise_tot;
    std::vector<double> _precise_count;
    std::vector<int> _parent_rows;
    estimate_core::PopulationChoice _choice;
    estimate_core::PreciseEstimate _precise;
    bool _precise_ready = false;
    std::string _refusal_message;
    // The locus bootstrap: every locus's pair sums and pair counts on the
    // observed counts, (P+1) x (P+1) per locus, and the loci the replicate in
    // hand has drawn, in the order drawn.
    std::vector<float> _locus_tot_diff;
    std::vector<float> _locus_count_diff;
    std::vector<double> _locus_precise_tot;
    std::vector<double> _locus_precise_count;
    std::vector<int> _drawn_loci;
};

// One error line in the program's single shape: "Error: " and the text.
std::string error_line(const std::string& text);

#endif
