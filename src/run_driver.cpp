#include "run_driver.h"

#include <cmath>
#include <fstream>
#include <new>
#include <string>

#include "COEF_ADMIX.h"
#include "console_input.h"
#include "number_format.h"

namespace {

const char* const banner_lines[] = {
    "Program Corvane2_0, updated 08/02 by the Corvane2_0 developers",
    "",
    "The relative contributions from any number of parental populations ",
    "to a hybrid population are estimated by computing the estimators mY ",
    "first published for a hybrid population of two parental populations, ",
    "later generalised to any number of parental populations. ",
    "",
    "A short documentation about this program can be found ",
    "in the text file readme_Corvane2_0.txt ",
    "MAXNBALLELES = 1000 ",
};

const char* const cannot_estimate = "Corvane2_0 cannot estimate admixture proportions in this case\n";

// The console run: the record, the open "bootstrap.txt" while replicates run,
// and the one error-stop procedure that every failure goes through.
class RunDriver {
public:
    RunDriver(std::istream& console_in, std::ostream& console_out)
        : _in(console_in), _out(console_out), c(_in, _out)
    {
    }

    int run()
    {
        if (!c.log_file.is_open()) {
            _out << error_line("the log file \"log_file_admix.txt\" could not be created in this folder")
                 << std::flush;
            return 0;
        }
        for (const char* line : banner_lines)
            _out << line << std::endl;
        if (!c.read_data_in_file())
            return error_stop(c.error_message());
        if (!c.check_observed_pair_counts())
            return error_stop(c.error_message());
        if (!estimate(c._freq_haplotypes, c._admixture_coefficients, false))
            return 0;
        if (!bootstrap_stage())
            return 0;
        // A log that could not be written is an error stop like any other: no
        // report then, so that a report on disk always comes with its whole log.
        if (!c.log_file.flush())
            return error_stop(error_line("the log file \"log_file_admix.txt\" could not be written"));
        if (!c.write_results(c._nb_bootstrap))
            return error_stop(c.error_message());
        release_storage();
        _out << "\n\nThanks to have used Corvane2_0 !" << std::endl;
        _out << "Enter dummy character to quit !" << std::endl;
        char dummy = 0;
        _in.read_char(dummy);  // the end of the input ends the run just as well
        return 1;
    }

private:
    // The estimation chain on one set of counts, into `target`. On failure the
    // error stop has been made: A or B on the observed data, C or D in a
    // bootstrap replicate.
    int estimate(int*** counts, float* target, bool in_bootstrap)
    {
        if (!c.compute_coal_times(counts)) {
            const std::string during = in_bootstrap ? " during bootstrap" : "";
            return error_stop(error_line("2 parental populations with mean coal.times = 0" + during) +
                              cannot_estimate);
        }
        c.add_time_to_admix_event();
        c.compute_coefficients_of_linear_equations();
        if (!c.gaussian_elimination(target))
            return error_stop(error_line("Gaussian Elimination"));
        // Distances or times so large that a sum leaves the single-precision
        // range give infinite or undefined proportions: no estimate, not a
        // report of +INF or +NAN presented as a result.
        for (int p = 0; p < c._nb_parent_pops; ++p)
            if (!std::isfinite(target[p]))
                return error_stop(error_line(std::string("the admixture proportions") +
                                             (in_bootstrap ? " of a bootstrap replicate" : "") +
                                             " are not finite numbers: a sum of distances or a time went "
                                             "beyond the largest single-precision value, 3.40282e+38") +
                                  cannot_estimate);
        return 1;
    }

    int bootstrap_stage()
    {
        _out << "\n\nBootstrap estimates of the coefficients " << "and their standard deviations <y,n> ?"
             << std::endl;
        char boot_answer = 'n';  // an answer that cannot be read counts as no
        _in.read_char(boot_answer);
        if (boot_answer != 'y' && boot_answer != 'Y') {
            c._nb_bootstrap = 0;
            return 1;
        }
        _out << "\n\nHow many bootstrap replicates ?" << std::endl;
        int count = 0;  // a count that cannot be read counts as 0
        _in.read_int(count);
        c._nb_bootstrap = count;
        if (c._nb_bootstrap <= 0)
            return 1;
        if (!c.check_bootstrap_possible()) {
            c.log_file << "-----" << std::endl << c.error_message() << std::flush;
            _out << c.error_message() << std::flush;
            c._nb_bootstrap = 0;
            return 1;
        }
        try {
            c.allocate_space_for_bootstrap(c._nb_bootstrap);
        } catch (const std::bad_alloc&) {
            return error_stop(error_line("not enough memory for " + std::to_string(c._nb_bootstrap) +
                                         " bootstrap replicates"));
        }
        _out << "\n\nInput the seed for the random number generator (any integer)" << std::endl;
        std::uint32_t seed = 0;
        if (!_in.read_uint32(seed))
            return error_stop(error_line("no seed for the random number generator could be read: "
                                         "the console input ended or held no whole number of at most 32 bits"));
        corvane::srand(seed);
        _bootstrap_file.open("bootstrap.txt", std::ios::out | std::ios::trunc);
        if (!_bootstrap_file.is_open())
            return error_stop(error_line("the file \"bootstrap.txt\" could not be created"));
        _bootstrap_file << "Bootstrap values" << std::endl;
        if (!run_replicates())
            return 0;
        _bootstrap_file.close();
        if (!_bootstrap_file)
            return error_stop(error_line("the file \"bootstrap.txt\" could not be written"));
        c.compute_mean_sd_bootstrap();
        return 1;
    }

    int run_replicates()
    {
        const int N = c._nb_bootstrap;
        for (int i = 1; i <= N; ++i) {
            if (std::fmod(static_cast<double>(i), 10.0) == 0.0)
                _out << "Bootstrap # " << i << "/" << N << std::endl;
            c.bootstrap_pops();
            float* row = c._admixture_coef_boot[i - 1];
            if (!estimate(c._freq_hap_boot, row, true))
                return 0;
            _bootstrap_file << i << "\t";
            for (int j = 0; j < c._nb_parent_pops; ++j)
                _bootstrap_file << "mY" << j + 1 << "\t" << format_real(row[j]) << "\t";
            _bootstrap_file << std::endl;
        }
        return 1;
    }

    // The error stop: "-----" and the messages in the log, the messages on the
    // console, the open files closed, the storage given back, status 0. No report
    // is written, so one left by an earlier run stays as it was.
    int error_stop(const std::string& messages)
    {
        c.log_file << "-----" << std::endl;
        c.log_file << messages;
        _out << messages << std::flush;
        if (_bootstrap_file.is_open())
            _bootstrap_file.close();
        c.log_file.close();
        release_storage();
        return 0;
    }

    void release_storage()
    {
        if (c._admixture_coef_boot || c._freq_hap_boot)
            c.de_allocate_space_for_bootstrap(c._nb_bootstrap);
        c.de_allocate_space();
    }

    ConsoleInput _in;
    std::ostream& _out;
    Coef_Admixture c;
    std::ofstream _bootstrap_file;
};

}  // namespace

int run_corvane(std::istream& console_in, std::ostream& console_out)
{
    RunDriver driver(console_in, console_out);
    return driver.run();
}
