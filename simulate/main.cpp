// corvane-simulate: draws a data set from the structured coalescent with an
// admixture pulse, writes it as a data file for corvane, and reports the true
// admixture proportions on standard error.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <new>

#include "admixture_model.h"
#include "command_line.h"

namespace {

constexpr int failure_status = 1;
constexpr int usage_status = 2;

// The one error printer: every failure leaves through here.
int fail(int status, const std::string& message)
{
    std::cerr << "corvane-simulate: error: " << message << '\n';
    if (status == usage_status)
        std::cerr << "Run 'corvane-simulate --help' for the options and the model.\n";
    return status;
}

std::string reason_of_last_failure()
{
    return errno != 0 ? std::string(": ") + std::strerror(errno) : std::string();
}

// A file written only in part is removed: a data file on disk is always whole.
void write_data_file(const std::string& path, const dataset::DataSet& data)
{
    if (path.empty()) {
        dataset::write_data_file(std::cout, data);
        if (!std::cout.flush())
            throw std::runtime_error("cannot write the data to standard output");
        return;
    }
    errno = 0;
    std::ofstream file(path);
    if (!file)
        throw std::runtime_error("cannot create the data file \"" + path + "\"" + reason_of_last_failure());
    dataset::write_data_file(file, data);
    file.close();
    if (!file) {
        const std::string reason = reason_of_last_failure();
        std::remove(path.c_str());
        throw std::runtime_error("cannot write the data file \"" + path + "\"" + reason);
    }
}

void report_true_proportions(const simulate::Scenario& scenario)
{
    std::cerr << "True admixture proportions (seed " << scenario.seed << "):";
    for (std::size_t k = 0; k < scenario.mix.size(); ++k)
        std::cerr << (k ? ", " : " ") << "mY" << k + 1 << " = " << dataset::real_text(scenario.mix[k]);
    std::cerr << '\n';
}

}  // namespace

int main(int argc, char** argv)
{
    try {
        const std::optional<simulate::Request> request = simulate::parse_command_line(argc, argv, std::cout);
        if (!request)
            return 0;
        write_data_file(request->output_path, simulate::simulate_data_set(request->scenario));
        report_true_proportions(request->scenario);
        return 0;
    } catch (const simulate::UsageError& error) {
        return fail(usage_status, error.what());
    } catch (const simulate::UnwritableLocus& error) {
        return fail(failure_status,
                    std::string(error.what()) + ". No file was written; choose a smaller --theta or fewer --copies.");
    } catch (const std::bad_alloc&) {
        return fail(failure_status, "not enough memory for the simulated data set: choose fewer --loci or --copies");
    } catch (const std::exception& error) {
        return fail(failure_status, error.what());
    }
}
