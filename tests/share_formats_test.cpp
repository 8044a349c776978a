// The formats for sharing the show, each read back by other programs: GIF clips
// decoded by giflib, ANSI art drawn by Debian's ansilove, the text and HTML
// pages decoded again, casts replayed by asciinema; and the ways writing fails.
#include <gtest/gtest.h>

#if VORNAK_HAVE_GIF
#include <gif_lib.h>

#include "formats/gif_writer.h"
#endif

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "formats/asciicast.h"
#include "formats/cell_pages.h"
#include "image/console_look.h"
#include "platform/png_file.h"
#include "platform/terminal_encoder.h"
#include "tests/show_cell_frames.h"
#include "tests/xorshift_random.h"

namespace fs = std::filesystem;

namespace {

constexpr int COLUMNS = 80, ROWS = 50, PITCH = COLUMNS * 4, CELLS = COLUMNS * ROWS;
using Cells = std::vector<uint8_t>;

// Every character, the others and all colours at random.
Cells randomCells(uint32_t seed = 437) {
    XorshiftRandom random(seed);
    Cells cells(size_t(PITCH * ROWS));
    for (size_t i = 0; i < cells.size(); i += 4) {
        cells[i] = uint8_t(i / 4 % 2 == 0 ? i / 8 : random.next());
        cells[i + 2] = uint8_t(random.next());
    }
    return cells;
}

// A file of the running test's own: ctest runs tests side by side.
fs::path temporaryFile() {
    return fs::temp_directory_path() /
           (std::string("vornak_share_formats_") +
            testing::UnitTest::GetInstance()->current_test_info()->name());
}

std::string readFile(const fs::path& path) {
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

char32_t nextCodePoint(const std::string& text, size_t& i) {
    const uint8_t lead = uint8_t(text[i++]);
    const int more = lead < 0x80 ? 0 : lead < 0xE0 ? 1 : 2;
    char32_t code = more == 0 ? lead : lead & (more == 1 ? 0x1F : 0x0F);
    for (int k = 0; k < more; ++k) code = code << 6 | (uint8_t(text[i++]) & 0x3F);
    return code;
}

}  // namespace

#if VORNAK_HAVE_GIF
// Clips at scales 1 and 3 of six frames (every colour, nothing changed, one
// cell, nothing again, all but the middle, everything), decoded and drawn frame
// over frame.
TEST(ShareFormats, GifFramesDecodeToTheConsoleLookOfTheirCells) {
    std::vector<Cells> frames(6, randomCells(27));
    frames[2][(20 * COLUMNS + 10) * 4 + 2] ^= 0x11;  // every pixel of the cell changes
    frames[3] = frames[4] = frames[2];
    frames[4][2] ^= 0x11;
    frames[4][CELLS * 4 - 2] ^= 0x11;
    frames[5] = randomCells(28);
    const int areas[] = {640 * 600, 1, 8 * 12, 1, 640 * 600, -1};  // of the rectangles, unscaled
    for (int scale : {1, 3}) {
        GifWriter writer;
        ASSERT_TRUE(writer.open(temporaryFile(), COLUMNS, ROWS, scale)) << writer.error();
        for (const Cells& cells : frames) ASSERT_TRUE(writer.addFrame(cells.data(), PITCH));
        ASSERT_TRUE(writer.close()) << writer.error();
        int error = 0;
        GifFileType* gif = DGifOpenFileName(temporaryFile().c_str(), &error);
        ASSERT_TRUE(gif != nullptr && DGifSlurp(gif) == GIF_OK);
        const int width = 640 * scale, height = 600 * scale;
        ASSERT_TRUE(gif->SWidth == width && gif->SHeight == height && gif->ImageCount == 6);
        ASSERT_EQ(gif->SColorMap->ColorCount, 16);
        const ExtensionBlock* loop = gif->SavedImages[0].ExtensionBlocks;  // before the first frame
        ASSERT_GE(gif->SavedImages[0].ExtensionBlockCount, 2);
        EXPECT_EQ(std::string((const char*)loop[0].Bytes, 11) +
                      std::string((const char*)loop[1].Bytes, 3),
                  std::string("NETSCAPE2.0\1\0\0", 14));
        std::vector<uint8_t> canvas(size_t(width * height * 4), 255);
        Surface cells;
        ASSERT_EQ(cells.create({COLUMNS, ROWS}, 4), 0);
        RgbaImage look;
        for (int i = 0; i < 6; ++i) {
            const GifImageDesc& d = gif->SavedImages[i].ImageDesc;
            GraphicsControlBlock control{};
            ASSERT_EQ(DGifSavedExtensionToGCB(gif, i, &control), GIF_OK);
            EXPECT_TRUE(control.DelayTime == 2 && control.DisposalMode == DISPOSE_DO_NOT);
            EXPECT_TRUE(areas[i] < 0 || d.Width * d.Height == areas[i] * scale * scale) << i;
            for (int p = 0; p < d.Width * d.Height; ++p) {
                const GifColorType& c = gif->SColorMap->Colors[gif->SavedImages[i].RasterBits[p]];
                uint8_t* out =
                    &canvas[size_t(((d.Top + p / d.Width) * width + d.Left + p % d.Width) * 4)];
                out[0] = c.Red, out[1] = c.Green, out[2] = c.Blue;
            }
            std::memcpy(cells.pixels(), frames[size_t(i)].data(), frames[size_t(i)].size());
            ASSERT_TRUE(drawConsoleLook(cells, look));
            int mismatches = 0;
            for (int p = 0; p < width * height; ++p) {
                const int x = p % width / scale, y = p / width / scale;
                mismatches += std::memcmp(&look.pixels[size_t(y * 640 + x) * 4],
                                          &canvas[size_t(p) * 4], 4) != 0;
            }
            EXPECT_EQ(mismatches, 0) << "frame " << i << " at scale " << scale;
        }
        cells.release();
        DGifCloseFile(gif, &error);
    }
    fs::remove(temporaryFile());
}
#endif

// The picture ansilove draws from the ANSI art (reading its SAUCE record for
// the size, font and iCE colours) is the one it draws from a plain dump of the
// cells' characters and attributes (its binary format, which has no sequences
// to read wrongly), cell by cell: the art that --render writes at three moments
// of the show (beside their text and page), and random cells.
TEST(ShareFormats, AnsiArtDrawsInAnsiloveAsTheCellsThemselves) {
    if (std::system("ansilove -v >/dev/null 2>&1") != 0) GTEST_SKIP() << "no ansilove";
    const uint32_t moments[] = {750, 2400, 3400};  // frames 14960, 47960 and 67960 ms
    const std::string pages = temporaryFile().string() + "-pages";
    ASSERT_EQ(std::system((std::string(VORNAK_BINARY_DIR) + "/vornak --render " + pages +
                           " --at 14960,47960,67960")
                              .c_str()),
              0);
    std::vector<Cells> frames;
    std::vector<std::string> arts;
    ASSERT_TRUE(forEachShowFrame(
        [&](const uint8_t* cells, uint32_t frame) {
            if (std::count(moments, moments + 3, frame) == 0) return;
            frames.emplace_back(cells, cells + PITCH * ROWS);
            const uint32_t ms = (frame - 2) * 20;
            const std::string base = pages + "/" + std::to_string(ms);
            char title[32];
            std::snprintf(title, sizeof title, "VORNAK at %u:%02u.%03u", ms / 60000, ms / 1000 % 60,
                          ms % 1000);
            const CellScreen screen{cells, PITCH, COLUMNS, ROWS};
            EXPECT_EQ(readFile(base + ".txt"), encodeCellText(screen));
            EXPECT_EQ(readFile(base + ".html"), encodeCellHtml(screen, title)) << title;
            arts.push_back(readFile(base + ".ans"));
        },
        moments[2]));
    frames.push_back(randomCells());
    arts.push_back(
        encodeAnsiArt({frames.back().data(), PITCH, COLUMNS, ROWS}, {"VORNAK", "", "", ""}));
    ASSERT_EQ(frames.size(), 4u);
    auto draw = [](const std::string& bytes, const std::string& options, RgbaImage& picture) {
        const std::string png = temporaryFile().string() + ".png";
        std::string error;
        return writeFileBytes(temporaryFile(), bytes, error) &&
               std::system(("ansilove -q " + options + " " + temporaryFile().string() + " -o " +
                            png + " >/dev/null 2>&1")
                               .c_str()) == 0 &&
               readPngRgba(png, picture) && picture.width == 640 && picture.height == 400;
    };
    for (size_t f = 0; f < frames.size(); ++f) {
        const Cells& cells = frames[f];
        const std::string& art = arts[f];
        EXPECT_EQ(art.substr(art.size() - 129, 8), "\x1ASAUCE00");
        std::string dump;
        for (size_t i = 0; i < cells.size(); i += 4)
            dump += {char(ansiArtCharacter(cells[i])), char(cells[i + 2])};
        RgbaImage drawn, reference;
        ASSERT_TRUE(draw(art, "-S", drawn));
        ASSERT_TRUE(draw(dump, "-t bin -c 80 -i -f 80x50", reference));
        int wrongCells = 0;
        for (int i = 0; i < CELLS; ++i) {
            bool right = true;
            for (size_t y = 0, at = size_t((i / COLUMNS * 8 * 640 + i % COLUMNS * 8) * 4); y < 8;
                 ++y, at += 640 * 4) {
                right = right && std::memcmp(&drawn.pixels[at], &reference.pixels[at], 32) == 0;
            }
            wrongCells += !right;
        }
        EXPECT_EQ(wrongCells, 0);
    }
    fs::remove(temporaryFile());
    fs::remove(temporaryFile().string() + ".png");
    fs::remove_all(pages);
}

// The text's code points and the page's spans give back every cell.
TEST(ShareFormats, TextAndHtmlDecodeToTheCells) {
    const Cells cells = randomCells();
    const CellScreen screen{cells.data(), PITCH, COLUMNS, ROWS};
    std::u32string wanted, text, page;
    for (int i = 0; i < CELLS; ++i) {
        wanted += cp437ToUnicode(cells[size_t(i) * 4]);
        if (i % COLUMNS == COLUMNS - 1) wanted += U'\n';
    }
    const std::string utf8 = encodeCellText(screen);
    for (size_t at = 0; at < utf8.size();) text += nextCodePoint(utf8, at);
    EXPECT_EQ(text, wanted);

    const std::string html = encodeCellHtml(screen, "vornak <27> & more");
    EXPECT_NE(html.find("<title>vornak &lt;27&gt; &amp; more</title>"), std::string::npos);
    EXPECT_NE(html.find(".f12 { color: #ff0000; }\n.b12 { background: #ff0000; }"),
              std::string::npos);
    const size_t start = html.find("<pre>") + 5;
    const std::string body = html.substr(start, html.find("</pre>") - start);
    const std::regex span("<span class=\"f([0-9]+) b([0-9]+)\">([^<>]*)</span>");
    std::vector<int> attributes;
    size_t end = 0, spans = 0, runs = 0;
    for (std::sregex_iterator s(body.begin(), body.end(), span), none; s != none; ++s, ++spans) {
        EXPECT_EQ(size_t(s->position()), end) << "text outside the spans";
        end = size_t(s->position() + s->length());
        std::string run = s->str(3);
        for (const auto& [from, to] : {std::pair{"&lt;", "<"}, {"&gt;", ">"}, {"&amp;", "&"}}) {
            run = std::regex_replace(run, std::regex(from), to);
        }
        for (size_t at = 0; at < run.size();) {
            page += nextCodePoint(run, at);
            if (page.back() != U'\n')
                attributes.push_back(std::stoi(s->str(1)) | std::stoi(s->str(2)) << 4);
        }
    }
    EXPECT_EQ(end, body.size());
    EXPECT_EQ(page + U'\n', wanted);
    ASSERT_EQ(attributes.size(), size_t(CELLS));
    for (int i = 0; i < CELLS; ++i) {
        EXPECT_EQ(attributes[size_t(i)], cells[size_t(i) * 4 + 2]) << i;
        runs += i == 0 || cells[size_t(i) * 4 + 2] != cells[size_t(i) * 4 - 2];
    }
    EXPECT_EQ(spans, runs);  // one span per run of one colour
}

// Terminal output with JSON's special characters, characters split over pieces
// (one over three), an empty piece, bytes that are not UTF-8 and a character
// left unfinished, replayed as `asciinema cat` does it (without the terminal it
// wants for its keyboard; Debian's asciinema runs on Debian's python3).
TEST(ShareFormats, AsciinemaReplaysTheCastsBytesAtTheirTimes) {
    if (std::system("/usr/bin/python3 -c 'import asciinema' 2>/dev/null") != 0)
        GTEST_SKIP() << "no asciinema";
    const uint32_t moments[] = {0, 20, 20, 40, 60, 60, 80, 100};
    const char* pieces[] = {"vornak\r\n\x1b[?1049h",
                            "\x1b[1;1H\x1b[38;2;255;0;0m\xe2\x96",
                            "\x88 \"q\" \\ \t\x07\x7f/",
                            "",
                            "\xf0\x9f",
                            "\x98",
                            "\x80\xff\xed\xa0\x80 end",
                            "\xe2\x96"};
    const std::string bad = "\xef\xbf\xbd", replayed = temporaryFile().string() + ".out";
    AsciicastWriter cast;
    ASSERT_TRUE(cast.open(temporaryFile(), {80, 50, "xterm-256color", "vornak \"27\""}))
        << cast.error();
    for (int i = 0; i < 8; ++i) ASSERT_TRUE(cast.addOutput(moments[i], pieces[i]));
    ASSERT_TRUE(cast.close()) << cast.error();
    std::istringstream lines(readFile(temporaryFile()));
    std::string line, times;
    std::getline(lines, line);
    EXPECT_EQ(line,
              "{\"version\": 2, \"width\": 80, \"height\": 50, \"env\": {\"TERM\": "
              "\"xterm-256color\"}, \"title\": \"vornak \\\"27\\\"\"}");
    while (std::getline(lines, line)) times += line.substr(0, line.find(',')) + " ";
    EXPECT_EQ(times, "[0.000 [0.020 [0.020 [0.060 [0.060 [0.080 [0.100 [0.100 ");
    ASSERT_EQ(
        std::system(("/usr/bin/python3 -c 'import sys; from asciinema import asciicast\n"
                     "with asciicast.open_from_url(sys.argv[1]) as cast:\n    for _, _, text in "
                     "cast.stdout_events(): sys.stdout.buffer.write(text.encode())' " +
                     temporaryFile().string() + " > " + replayed)
                        .c_str()),
        0);
    EXPECT_EQ(readFile(replayed),
              "vornak\r\n\x1b[?1049h\x1b[1;1H\x1b[38;2;255;0;0m\xe2\x96\x88 \"q\" \\ \t\x07\x7f/"
              "\xf0\x9f\x98\x80" +
                  bad + bad + bad + bad + " end" + bad);
    fs::remove(temporaryFile());
    fs::remove(replayed);
}

// A missing directory, a full disk (seen at a write or by the end), misuse.
TEST(ShareFormats, ReportWhatCannotBeWritten) {
    const std::string missing = "/nonexistent-directory/share", noSpace = "No space left on device";
    const std::string notCreated = missing + ": cannot create the file: No such file or directory";
    std::string error;
    EXPECT_FALSE(writeFileBytes(missing, "bytes", error));
    EXPECT_EQ(error, notCreated);
    for (const size_t size : {size_t(1), size_t(1) << 20}) {  // seen at the flush, at the write
        EXPECT_FALSE(writeFileBytes("/dev/full", std::string(size, 'x'), error));
        EXPECT_EQ(error, "/dev/full: cannot write the file: " + noSpace);
    }
    AsciicastWriter cast;
    EXPECT_FALSE(cast.addOutput(0, "x") || cast.close() || cast.open(missing, {}));
    EXPECT_EQ(cast.error(), notCreated);
    ASSERT_TRUE(cast.open("/dev/full", {}));
    EXPECT_FALSE(cast.addOutput(0, std::string(1 << 16, 'x')) && cast.close());
    EXPECT_EQ(cast.error(), "/dev/full: cannot write the file: " + noSpace);
    ASSERT_TRUE(cast.open(temporaryFile(), {}));
    EXPECT_FALSE(cast.addOutput(40, "a") && cast.addOutput(20, "b"));
    EXPECT_EQ(cast.error(), temporaryFile().string() + ": output at 20 ms comes after 40 ms");
    fs::remove(temporaryFile());
#if VORNAK_HAVE_GIF
    const Cells cells = randomCells();
    GifWriter gif;
    EXPECT_FALSE(gif.addFrame(cells.data(), PITCH) || gif.close());
    for (int scale : {0, 103}) {  // 103 x 640 pixels are more than a GIF holds
        EXPECT_FALSE(gif.open(temporaryFile(), COLUMNS, ROWS, scale));
        EXPECT_NE(gif.error().find("at scale " + std::to_string(scale)), std::string::npos);
        EXPECT_FALSE(fs::exists(temporaryFile()));
    }
    EXPECT_FALSE(gif.open(missing, COLUMNS, ROWS, 1));
    EXPECT_EQ(gif.error(), notCreated);
    ASSERT_TRUE(gif.open("/dev/full", COLUMNS, ROWS, 2));
    EXPECT_FALSE(gif.addFrame(cells.data(), PITCH) && gif.addFrame(cells.data(), PITCH) &&
                 gif.close());
    EXPECT_NE(gif.error().find(noSpace), std::string::npos) << gif.error();
#endif
}
