// What a run does to the folder it writes in: a second run while one holds the
// folder stops before writing anything, and a data file that is not a regular
// file on disk is refused without waiting for it. And what the command line
// shows while it runs, and how a run ends when memory runs out.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <vector>

#include "command_line.h"
#include "console_dialogue.h"
#include "run_driver.h"

namespace {

class RunFolder : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/corvane_folder_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        _folder = pattern;
        _previous = std::filesystem::current_path();
        std::filesystem::current_path(_folder);
        std::ofstream("data.txt") << "0 0\n2 1\nL 2\n0\n1 0\nL\n2 2 2\n1 2 0\n1 0 2\n";
    }
    void TearDown() override
    {
        std::filesystem::current_path(_previous);
        std::filesystem::remove_all(_folder);
    }
    int run(const std::string& answers, std::string& console)
    {
        std::istringstream typed(answers);
        std::ostringstream printed;
        const int status = run_corvane(typed, printed);
        console = printed.str();
        return status;
    }

private:
    std::filesystem::path _folder;
    std::filesystem::path _previous;
};

TEST_F(RunFolder, ASecondRunStopsWhileTheFolderIsHeldAndTouchesNothing)
{
    std::ofstream("log_file_admix.txt") << "the first run's log\n";
    const int held = ::open("log_file_admix.txt", O_RDWR);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    std::string console;
    const auto descriptors = [] { return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}); };
    const auto open_before = descriptors();
    EXPECT_EQ(run("data.txt\ny\nn\nx\n", console), 0);
    EXPECT_EQ(descriptors(), open_before);  // the refused claim's descriptor is closed
    EXPECT_EQ(console.rfind("Error: another run is writing its files in the folder \"", 0), 0u) << console;
    EXPECT_EQ(console.find("Program Corvane2_0"), std::string::npos);  // stopped before the banner
    ::close(held);
    std::stringstream log;
    log << std::ifstream("log_file_admix.txt").rdbuf();
    EXPECT_EQ(log.str(), "the first run's log\n");
    EXPECT_FALSE(std::filesystem::exists("result_admix.txt"));
    EXPECT_EQ(run("data.txt\ny\nn\nx\n", console), 1);  // once released, the folder is free
}

TEST_F(RunFolder, ANamedPipeAsTheDataFileIsRefusedWithoutWaiting)
{
    ASSERT_EQ(::mkfifo("pipe", 0600), 0);
    std::string console;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(run("pipe\ny\nn\nx\n", console), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_NE(console.find("Error: the data file \"pipe\" is not a regular file"), std::string::npos) << console;
}

// On a terminal a counter redrawn in place before every replicate; into a file
// a line at each quarter of the replicates passed (here at 1.5, 3 and 4.5 of 6).
TEST_F(RunFolder, BootstrapProgressOnATerminalAndInAFile)
{
    for (const bool terminal : {true, false}) {
        std::ostringstream out, err;
        EXPECT_EQ(run_command_line({"corvane", "-b", "6", "--resample", "copies", "data.txt"}, out, err, terminal), 0);
        EXPECT_EQ(err.str(), terminal ? "\rbootstrap: 0/6 replicates\rbootstrap: 1/6 replicates"
                                        "\rbootstrap: 2/6 replicates\rbootstrap: 3/6 replicates"
                                        "\rbootstrap: 4/6 replicates\rbootstrap: 5/6 replicates"
                                        "\rbootstrap: 6/6 replicates\n"
                                      : "bootstrap: 2 of 6 replicates done\nbootstrap: 3 of 6 replicates done\n"
                                        "bootstrap: 5 of 6 replicates done\nbootstrap: 6 of 6 replicates done\n");
    }
}

// At the third replicate takes all the memory there is and keeps it, as a queue
// of log lines grown too long would, before the allocation that fails.
class MemoryTakingDialogue : public ConsoleDialogue {
public:
    explicit MemoryTakingDialogue(ConsoleInput& answers) : ConsoleDialogue(answers, std::cerr) {}
    void replicate_starting(int replicate, int) override
    {
        for (std::size_t size = std::size_t{1} << 26; replicate == 3 && size >= 16;) {
            try {
                _taken.emplace_back(new char[size]);
            } catch (const std::bad_alloc&) {
                size /= 2;
            }
        }
        if (replicate == 3)
            throw std::bad_alloc();
    }

private:
    std::vector<std::unique_ptr<char[]>> _taken;
};

// Memory that runs out in the middle of the bootstrap ends the run by the
// error stop, whose clean-up finds the room it needs, instead of an abort.
// Under qemu-user, which takes the limit below as set but applies none, it is
// the guest's address space (cmake/run_emulated.sh) that runs out.
TEST_F(RunFolder, MemoryRunningOutDuringTheBootstrapIsACleanStop)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a limit on the address space cannot be applied under a sanitizer";
#endif
    EXPECT_EXIT(
        {
            rlimit limit{};
            getrlimit(RLIMIT_AS, &limit);
            std::ifstream status("/proc/self/statm");
            std::size_t pages = 0;
            status >> pages;
            limit.rlim_cur = pages * static_cast<std::size_t>(sysconf(_SC_PAGESIZE)) + (std::size_t{256} << 20);
            setrlimit(RLIMIT_AS, &limit);
            std::istringstream typed("data.txt\ny\ny\n5\n1\nq\n");
            ConsoleInput answers(typed);
            MemoryTakingDialogue dialogue(answers);
            std::exit(run_estimate(dialogue, RunSettings{}).status == 0 ? 7 : 8);
        },
        ::testing::ExitedWithCode(7), "\nError: the machine's memory ran out during the run\n");
    std::stringstream log;
    log << std::ifstream("log_file_admix.txt").rdbuf();
    const std::string ending = "-----\nError: the machine's memory ran out during the run\n"
                               "Corvane2_0 cannot estimate admixture proportions in this case\n";
    EXPECT_EQ(log.str().substr(log.str().size() - std::min(log.str().size(), ending.size())), ending);
}

}  // namespace
