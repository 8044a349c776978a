// The program's offline runs, started as separate processes: every run of the
// show begins from a fresh process (the static generators are never reseeded).
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/png_file.h"

namespace {

std::string runProgram(const std::string& arguments, int& status) {
    const std::string command = std::string(VORNAK_BINARY_DIR) + "/vornak " + arguments;
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        status = -1;
        return output;
    }
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
    status = pclose(pipe);
    return output;
}

}  // namespace

// The hash over every frame of the whole show. Any change to any frame changes it:
// look at the pictures (--render) before recording a new value here.
constexpr char RECORDED_SHOW_DIGEST[] = "show c7ee31705d892415";

// Runs the whole show on the virtual clock (under the sanitizers in that build).
TEST(OfflineRun, DigestCoversEveryFrameAndMatchesTheRecordedShow) {
    int status = 0;
    const std::string digest = runProgram("--digest", status);
    ASSERT_EQ(status, 0);

    // Two frames at 0 (the first frame never waits), then one every 20 ms up to the
    // first frame past the end, then the hash over all of them.
    size_t lines = 0;
    for (const char c : digest) lines += c == '\n';
    EXPECT_EQ(lines, 8653u + 1u);
    const size_t lastLine = digest.rfind('\n', digest.size() - 2) + 1;
    const size_t lastFrame = digest.rfind('\n', lastLine - 2) + 1;
    EXPECT_EQ(digest.compare(lastFrame, 9, "173020 1 "), 0);
    EXPECT_EQ(digest.substr(lastLine), std::string(RECORDED_SHOW_DIGEST) + "\n");
}

TEST(OfflineRun, RenderWritesBothImagesOfEachMoment) {
    const std::string directory = testing::TempDir() + "vornak-render-test";
    std::filesystem::remove_all(directory);
    int status = 0;
    runProgram("--render " + directory + " --at 1000,0", status);
    ASSERT_EQ(status, 0);
    for (const char* name : {"0", "1000"}) {
        RgbaImage look, rgb;
        ASSERT_TRUE(readPngRgba(directory + "/" + name + ".png", look)) << name;
        ASSERT_TRUE(readPngRgba(directory + "/" + name + "-rgb.png", rgb)) << name;
        EXPECT_EQ(look.width, 640);
        EXPECT_EQ(look.height, 600);
        EXPECT_EQ(rgb.width, 160);
        EXPECT_EQ(rgb.height, 100);
    }
    std::filesystem::remove_all(directory);
}

TEST(OfflineRun, BadRenderDirectoryFails) {
    int status = 0;
    runProgram("--render /proc/vornak-no-such-dir --at 0 2>/dev/null", status);
    EXPECT_NE(status, 0);
}
