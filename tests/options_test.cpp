#include "shell/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

OptionsResult parse(std::vector<const char*> args, Options& options, std::string& message) {
    args.insert(args.begin(), "vornak");
    return parseOptions(static_cast<int>(args.size()), args.data(), options, message);
}

}  // namespace

TEST(Options, NoneRunsTheShowWithColoursChosenFromTheEnvironment) {
    Options options;
    std::string message;
    EXPECT_EQ(parse({}, options, message), OptionsResult::Run);
    EXPECT_EQ(options.colors, TerminalColors::Auto);
}

TEST(Options, ColourDepths) {
    const std::pair<const char*, TerminalColors> cases[] = {
        {"--colors=truecolor", TerminalColors::TrueColor},
        {"--colors=256", TerminalColors::Palette256},
        {"--colors=16", TerminalColors::Ansi16}};
    for (const auto& [arg, colors] : cases) {
        Options options;
        std::string message;
        EXPECT_EQ(parse({arg}, options, message), OptionsResult::Run) << arg;
        EXPECT_EQ(options.colors, colors) << arg;
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

TEST(Options, UnknownOptionsAndValuesAreErrors) {
    for (const char* arg : {"--colour=16", "--colors=", "--colors=88", "-x", "show", "--colors"}) {
        Options options;
        std::string message;
        EXPECT_EQ(parse({arg}, options, message), OptionsResult::Error) << arg;
        EXPECT_NE(message.find(arg), std::string::npos) << message;
    }
}
