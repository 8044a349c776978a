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
    EXPECT_EQ(options.mode, RunMode::Play);
    EXPECT_EQ(options.colors, "");
}

TEST(Options, ColorDepthsAfterEqualsOrAsTheNextArgument) {
    const std::pair<std::vector<const char*>, TerminalColors> cases[] = {
        {{"--colors=truecolor"}, TerminalColors::TrueColor},
        {{"--colors", "256"}, TerminalColors::Palette256},
        {{"--colors=256", "--colors=16"}, TerminalColors::Ansi16}};
    for (const auto& [args, colors] : cases) {
        const char* arg = args.back();
        Options options;
        std::string message;
        EXPECT_EQ(parse(args, options, message), OptionsResult::Run) << arg;
        // The option keeps the text; the terminal backend reads it as this depth.
        TerminalColors parsed = TerminalColors::Auto;
        EXPECT_TRUE(parseTerminalColors(options.colors, parsed)) << arg;
        EXPECT_EQ(parsed, colors) << arg;
    }
}

TEST(Options, HelpAndVersionAreRunsOfTheirOwn) {
    Options options;
    std::string message;
    EXPECT_EQ(parse({"--version"}, options, message), OptionsResult::Run);
    EXPECT_EQ(options.mode, RunMode::Version);
    Options help;
    EXPECT_EQ(parse({"--colors=16", "-h", "--digest"}, help, message), OptionsResult::Run);
    EXPECT_EQ(help.mode, RunMode::Help);
}

// Every option is in the help, which fits an 80-column terminal.
TEST(Options, HelpNamesEveryOptionWithinEightyColumns) {
    const std::string help = optionsHelpText();
    for (const char* option : {"--colors MODE",
                               "--no-sound",
                               "--start T",
                               "--scene N",
                               "--loop",
                               "--window",
                               "--render DIR",
                               "--at T1,T2,...",
                               "--digest",
                               "--record FILE",
                               "--scale N",
                               "--from T",
                               "--to T",
                               "--telnet [HOST:]PORT",
                               "--ssh [HOST:]PORT",
                               "--max-viewers N",
                               "--max-per-address N",
                               "--negotiation-timeout S",
                               "--max-input-rate N",
                               "--data-dir DIR",
                               "--user NAME",
                               "--help",
                               "--version"})
        EXPECT_NE(help.find(option), std::string::npos) << option << " in\n" << help;
    for (size_t start = 0, end; start < help.size(); start = end + 1) {
        end = help.find('\n', start);
        EXPECT_LE(end - start, 80u) << help.substr(start, end - start);
    }
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
    const std::pair<std::vector<const char*>, const char*> cases[] = {
        {{"--colour=16"}, "unknown option '--colour=16'"},
        {{"-x"}, "unknown option '-x'"},
        {{"--digest", "show"}, "unknown option 'show'"},
        {{"--colors=88"}, "unknown colour depth in '--colors=88'"},
        {{"--colors", "88"}, "unknown colour depth in '--colors=88'"},
        {{"--colors="}, "'--colors' needs a value"},
        {{"--colors"}, "'--colors' needs a value"},
        {{"--render", "--at", "0"}, "'--render' needs a value"},
    };
    for (const auto& [args, expected] : cases) {
        Options options;
        std::string message;
        EXPECT_EQ(parse(args, options, message), OptionsResult::Error) << args[0];
        EXPECT_NE(message.find(expected), std::string::npos) << message;
    }
}

TEST(Options, OfflineRunsAndSound) {
    Options options;
    std::string message;
    ASSERT_EQ(parse({"--render=out", "--at", "0,1000,172980", "--no-sound"}, options, message),
              OptionsResult::Run);
    EXPECT_EQ(options.mode, RunMode::Render);
    EXPECT_EQ(options.renderDirectory, "out");
    EXPECT_EQ(options.renderTimes, (std::vector<uint32_t>{0, 1000, 172980}));
    EXPECT_TRUE(options.noSound);

    Options digest;
    ASSERT_EQ(parse({"--digest"}, digest, message), OptionsResult::Run);
    EXPECT_EQ(digest.mode, RunMode::Digest);
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

TEST(Options, ServingTakesAddressesAndLimitsAndRunsAlone) {
    Options options;
    std::string message;
    ASSERT_EQ(
        parse({"--telnet", "2323", "--ssh=127.0.0.1:2222", "--max-viewers", "50", "--user=viewer"},
              options, message),
        OptionsResult::Run)
        << message;
    EXPECT_EQ(options.mode, RunMode::Serve);
    EXPECT_EQ(options.telnetAddress, "2323");
    EXPECT_EQ(options.sshAddress, "127.0.0.1:2222");
    EXPECT_EQ(options.maxViewers, 50u);
    EXPECT_FALSE(options.maxViewersPerAddress.has_value());
    EXPECT_EQ(options.serveUser, "viewer");

    const std::pair<std::vector<const char*>, const char*> errors[] = {
        {{"--telnet", "2323", "--digest"}, "serve the show on their own"},
        {{"--ssh", "22", "--window"}, "serve the show on their own"},
        {{"--max-viewers", "5"}, "go with '--telnet' or '--ssh'"},
        {{"--telnet", "23", "--max-per-address", "0"}, "takes a number above 0"},
        {{"--telnet", "23", "--negotiation-timeout", "ten"}, "takes a whole number"},
#if VORNAK_HAVE_SERVE
        {{"--telnet", "host:port"}, "takes [HOST:]PORT"},
#endif
    };
    for (const auto& [args, expected] : errors) {
        Options refused;
        EXPECT_EQ(parse(args, refused, message), OptionsResult::Error) << args[0];
        EXPECT_NE(message.find(expected), std::string::npos) << message;
    }
}

TEST(Options, WhereTheLiveShowBegins) {
    const struct {
        std::vector<const char*> args;
        uint32_t start;
        bool loop;
    } good[] = {{{}, 0, false},
                {{"--start", "90000"}, 90000, false},
                {{"--start=1:30", "--loop"}, 90000, true},
                {{"--start", "2:53"}, 173000, false},
                {{"--scene", "1"}, 0, false},
                {{"--scene=6"}, 120320, false},
                {{"--scene", "7", "--window"}, 161300, false}};
    for (const auto& c : good) {
        Options options;
        std::string message;
        EXPECT_EQ(parse(c.args, options, message), OptionsResult::Run) << message;
        EXPECT_EQ(options.start, c.start) << message;
        EXPECT_EQ(options.loop, c.loop);
    }
    const std::vector<const char*> bad[] = {
        {"--start", "173001"},      {"--start=-5"},         {"--start", "1:5"},
        {"--start", "1:60"},        {"--start", "x"},       {"--start=1:30:00"},
        {"--scene", "0"},           {"--scene", "8"},       {"--scene=2.5"},
        {"--start=0", "--scene=1"}, {"--loop", "--digest"}, {"--scene", "2", "--record", "a.mkv"}};
    for (const auto& args : bad) {
        Options options;
        std::string message;
        EXPECT_EQ(parse(args, options, message), OptionsResult::Error) << args.back();
        EXPECT_EQ(message.find('\n'), std::string::npos) << message;
        EXPECT_FALSE(message.empty());
    }
}
