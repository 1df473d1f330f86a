// What a run does to the folder it writes in: a second run while one holds the
// folder stops before writing anything, and a data file that is not a regular
// file on disk is refused without waiting for it.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

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
    EXPECT_EQ(run("data.txt\ny\nn\nx\n", console), 0);
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

}  // namespace
