// Finding the music file: the order of the places, what the sound output is asked
// to open, the cause that names every place tried, and the program itself started
// from directories other than its own, as built and as installed elsewhere.
#include "program/music_file.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Records what the show's sound calls would open.
class RecordingSound final : public SoundSystem {
  public:
    int init(int, int, unsigned) override { return 1; }
    SoundStream* openStream(const char* fileName) override {
        opened.push_back(fileName);
        return reinterpret_cast<SoundStream*>(&opened);
    }
    int play(SoundStream*) override { return 1; }
    void stop(SoundStream*) override {}
    void close(SoundStream*) override {}
    void shutdown() override {}
    const char* problem() const override { return "output says hello"; }

    std::vector<std::string> opened;
};

// Three places in a fresh directory, the working directory moved into the first
// for the test's duration.
class MusicPlaces : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = fs::path(VORNAK_BINARY_DIR) / "music_file_test" / std::to_string(getpid());
        for (const char* name : {"work", "bin", "share"}) fs::create_directories(root_ / name);
        root_ = fs::canonical(root_);  // as the program sees its own and the working directory
        previous_ = fs::current_path();
        fs::current_path(root_ / "work");
    }
    void TearDown() override {
        fs::current_path(previous_);
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }
    void put(const char* place) { std::ofstream(root_ / place / "vornak.ogg") << "music"; }
    std::string dir(const char* place) const { return (root_ / place).string(); }
    std::vector<std::string> places() const { return {"", dir("bin"), dir("share")}; }

    fs::path root_;
    fs::path previous_;
};

TEST_F(MusicPlaces, FirstPlaceHoldingTheFileWins) {
    put("work");
    put("bin");
    put("share");
    RecordingSound output;
    MusicSearchingSound sound(output, places());
    ASSERT_NE(sound.openStream("vornak.ogg"), nullptr);
    // The working directory's file is opened by the bare name, as the show asks.
    EXPECT_EQ(output.opened, std::vector<std::string>{"vornak.ogg"});

    fs::remove(root_ / "work" / "vornak.ogg");
    ASSERT_NE(sound.openStream("vornak.ogg"), nullptr);
    EXPECT_EQ(output.opened.back(), dir("bin") + "/vornak.ogg");

    fs::remove(root_ / "bin" / "vornak.ogg");
    fs::create_directory(root_ / "bin" / "vornak.ogg");  // a directory is not the file
    ASSERT_NE(sound.openStream("vornak.ogg"), nullptr);
    EXPECT_EQ(output.opened.back(), dir("share") + "/vornak.ogg");
    // Found: the output's own word stands.
    EXPECT_STREQ(sound.problem(), "output says hello");
}

TEST_F(MusicPlaces, FoundNowhereNamesEveryPlaceTried) {
    RecordingSound output;
    MusicSearchingSound sound(output, places());
    EXPECT_EQ(sound.openStream("vornak.ogg"), nullptr);
    EXPECT_TRUE(output.opened.empty());
    const std::string expected = "Cannot find music file \"vornak.ogg\"; looked in " +
                                 fs::current_path().string() + ", " + dir("bin") + " and " +
                                 dir("share");
    EXPECT_EQ(sound.problem(), expected);

    // A new start forgets the old cause; a file that appears is then found.
    EXPECT_EQ(sound.init(44100, 32, 0), 1);
    EXPECT_STREQ(sound.problem(), "output says hello");
    put("share");
    EXPECT_NE(sound.openStream("vornak.ogg"), nullptr);
    EXPECT_STREQ(sound.problem(), "output says hello");
}

TEST_F(MusicPlaces, NameWithDirectoryIsOpenedAsItStands) {
    put("share");
    RecordingSound output;
    MusicSearchingSound sound(output, places());
    EXPECT_NE(sound.openStream("elsewhere/vornak.ogg"), nullptr);
    EXPECT_EQ(output.opened, std::vector<std::string>{"elsewhere/vornak.ogg"});
}

TEST_F(MusicPlaces, ProgramPlacesStartWithWorkingDirectoryAndEndInData) {
    // The test program sits in the build folder, like the show's program.
    EXPECT_EQ(fs::path(executableDirectory()), fs::canonical(VORNAK_BINARY_DIR));
    std::vector<std::string> directories = musicSearchDirectories();
    ASSERT_EQ(directories.size(), 3u);
    EXPECT_EQ(directories[0], "");
    EXPECT_EQ(directories[1], executableDirectory());
    EXPECT_EQ(directories[2],
              (fs::path(executableDirectory()).parent_path() / "share" / "vornak").string());

    // Started in its own directory, that directory is tried once.
    fs::current_path(VORNAK_BINARY_DIR);
    directories = musicSearchDirectories();
    ASSERT_EQ(directories.size(), 2u);
    EXPECT_EQ(directories[0], "");
    EXPECT_EQ(directories[1],
              (fs::path(executableDirectory()).parent_path() / "share" / "vornak").string());
}

struct ShowRun {
    std::string output;
    int status = -1;
};

// Runs `program` in `directory` on an 80x50 pseudo-terminal with no audio device
// needed, answers Escape once the three-second wait is announced (or lets a failed
// start end by itself), and collects what it wrote and its exit status.
ShowRun runShowIn(const std::string& program, const std::string& directory) {
    ShowRun run;
    winsize size{};
    size.ws_col = 80;
    size.ws_row = 50;
    int master = -1;
    const pid_t pid = forkpty(&master, nullptr, nullptr, &size);
    if (pid < 0) return run;
    if (pid == 0) {
        if (chdir(directory.c_str()) != 0) _exit(120);
        setenv("SDL_AUDIODRIVER", "dummy", 1);
        execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
        _exit(121);
    }
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    bool escapeSent = false;
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd fds{master, POLLIN, 0};
        poll(&fds, 1, 100);
        char bytes[4096];
        ssize_t count;
        while ((count = read(master, bytes, sizeof bytes)) > 0) run.output.append(bytes, count);
        if (!escapeSent && run.output.find("Start in 3 seconds") != std::string::npos) {
            escapeSent = write(master, "\x1b", 1) == 1;
        }
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            break;
        }
    }
    if (run.status < 0) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    close(master);
    return run;
}

TEST(MusicFileProgram, BuiltProgramStartedFromSourceFolderFindsItsMusic) {
    const ShowRun run = runShowIn(std::string(VORNAK_BINARY_DIR) + "/vornak", VORNAK_SOURCE_DIR);
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(run.output.find("FAILED"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("Start in 3 seconds"), std::string::npos) << run.output;
}

TEST_F(MusicPlaces, InstalledProgramFindsItsMusicFromAnyDirectory) {
    // An installation moved to a place of its own: bin/vornak and share/vornak/vornak.ogg.
    fs::create_directories(root_ / "stage" / "bin");
    fs::create_directories(root_ / "stage" / "share" / "vornak");
    fs::copy_file(fs::path(VORNAK_BINARY_DIR) / "vornak", root_ / "stage" / "bin" / "vornak");
    fs::create_symlink(fs::path(VORNAK_BINARY_DIR) / "vornak.ogg",
                       root_ / "stage" / "share" / "vornak" / "vornak.ogg");
    const std::string program = (root_ / "stage" / "bin" / "vornak").string();

    ShowRun run = runShowIn(program, "/");
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(run.output.find("FAILED"), std::string::npos) << run.output;

    // Without its music the start fails and says where it looked.
    fs::remove(root_ / "stage" / "share" / "vornak" / "vornak.ogg");
    run = runShowIn(program, dir("work"));
    EXPECT_EQ(run.status, 255) << run.output;
    EXPECT_NE(run.output.find("FAILED! Please update or reload VORNAK"), std::string::npos);
    EXPECT_NE(run.output.find("Cannot find music file \"vornak.ogg\"; looked in " + dir("work") +
                              ", " + (root_ / "stage" / "bin").string() + " and " +
                              (root_ / "stage" / "share" / "vornak").string()),
              std::string::npos)
        << run.output;
}

}  // namespace
