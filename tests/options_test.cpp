#include "program/options.h"
#include "platform/terminal_encoder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

OptionsResult parse(std::vector<const char*> args, Options& options, std::string& message) {
    args.insert(args.begin(), "vornak");
    return parseOptions(static_cast<int>(args.size()), args.data(), options, message);
}

}  // namespace

TEST(Options, NoneRunsTheShowWithColorsChosenFromTheEnvironment) {
    Options options;
    std::string message;
    EXPECT_EQ(parse({}, options, message), OptionsResult::Run);
    EXPECT_EQ(options.colors, "");
}

TEST(Options, ColorDepths) {
    const std::pair<const char*, TerminalColors> cases[] = {
        {"--colors=truecolor", TerminalColors::TrueColor},
        {"--colors=256", TerminalColors::Palette256},
        {"--colors=16", TerminalColors::Ansi16}};
    for (const auto& [arg, colors] : cases) {
        Options options;
        std::string message;
        EXPECT_EQ(parse({arg}, options, message), OptionsResult::Run) << arg;
        // The option keeps the text; the terminal backend reads it as this depth.
        TerminalColors parsed = TerminalColors::Auto;
        EXPECT_TRUE(parseTerminalColors(options.colors, parsed)) << arg;
        EXPECT_EQ(parsed, colors) << arg;
    }
}

TEST(Options, HelpAndVersionExit) {
    Options options;
    std::string message;
    EXPECT_EQ(parse({"--version"}, options, message), OptionsResult::Exit);
    EXPECT_TRUE(options.version);
    Options help;
    EXPECT_EQ(parse({"--colors=16", "--help"}, help, message), OptionsResult::Exit);
    EXPECT_TRUE(help.help);
}

TEST(Options, VersionNamesTheSourceRevision) {
    const std::string text = optionsVersionText();
    const std::string start = "vornak " VORNAK_VERSION " (source revision ";
    ASSERT_EQ(text.rfind(start, 0), 0u) << text;
    ASSERT_GT(text.size(), start.size() + 2) << "no revision: " << text;
    EXPECT_EQ(text.substr(text.size() - 2), ")\n");
    // One line, nothing a terminal would act on.
    for (const char c : text.substr(0, text.size() - 1)) EXPECT_TRUE(c >= ' ' && c < 127) << text;
}

TEST(Options, UnknownOptionsAndValuesAreErrors) {
    for (const char* arg : {"--colour=16", "--colors=", "--colors=88", "-x", "show", "--colors"}) {
        Options options;
        std::string message;
        EXPECT_EQ(parse({arg}, options, message), OptionsResult::Error) << arg;
        EXPECT_NE(message.find(arg), std::string::npos) << message;
    }
}

TEST(Options, OfflineRunsAndSound) {
    Options options;
    std::string message;
    ASSERT_EQ(parse({"--render", "out", "--at", "0,1000,172980", "--no-sound"}, options, message),
              OptionsResult::Run);
    EXPECT_EQ(options.renderDirectory, "out");
    EXPECT_EQ(options.renderTimes, (std::vector<uint32_t>{0, 1000, 172980}));
    EXPECT_TRUE(options.noSound);

    Options digest;
    ASSERT_EQ(parse({"--digest"}, digest, message), OptionsResult::Run);
    EXPECT_TRUE(digest.digest);
}

TEST(Options, MalformedOfflineRunsAreErrors) {
    const std::vector<std::vector<const char*>> cases = {
        {"--render"},
        {"--render", "out"},
        {"--at", "100"},
        {"--render", "out", "--at", "1,,2"},
        {"--render", "out", "--at", "-5"},
        {"--render", "out", "--at", "12345678901"},
        {"--digest", "--render", "o", "--at", "1"},
    };
    for (const auto& args : cases) {
        Options options;
        std::string message;
        EXPECT_EQ(parse(args, options, message), OptionsResult::Error) << args[0];
        EXPECT_FALSE(message.empty());
    }
}
