// The cue table of the soundtrack.
#include "tools/soundtrack/cues.h"

using enum Hit;

// clang-format off
const Cue SOUNDTRACK_CUES[] = {
    // Opening (0 to 38388): the flashes of the five lights, the captions coming
    // and fading, the static taking over and leaving.
    {371, Impact},    {998, Impact},    {1625, Impact},   {3157, Rim},      {5157, Rim},
    {6757, Impact},   {7383, Impact},   {7987, Impact},   {8614, Impact},   {8757, Rim},
    {9195, Impact},   {10448, Rim},     {11795, Impact},  {12353, Impact},  {12448, Rim},
    {13165, Impact},  {13792, Impact},  {14349, Impact},  {15165, Rim},     {16161, Rim},
    {18161, Rim},     {19551, Impact},  {20201, Impact},  {20805, Impact},  {21385, Impact},
    {21551, Rim},     {21966, Impact},  {24589, Impact},  {25193, Impact},  {27910, Crash},
    {31985, Crash},   {32985, Rim},     {36002, Crash},

    // Sphere (38388 to 58880): every breakpoint of the distance pump; a kick
    // where the sphere starts towards the viewer, a snap where it starts back,
    // a tom where it jumps. Captions come in on breakpoints except the first.
    {38388, Kick},    {38696, Snap},    {38876, Kick},    {39163, Rim},     {39183, Snap},
    {39665, Kick},    {39984, Snap},    {40153, Tom},     {40472, Kick},    {40629, Snap},
    {40785, Tom},     {40948, Kick},    {41267, Snap},    {41436, Kick},    {41749, Snap},
    {42231, Kick},    {42538, Snap},    {42713, Tom},     {43032, Kick},    {43189, Snap},
    {43351, Tom},     {43514, Kick},    {43833, Snap},    {43990, Kick},    {44303, Snap},
    {44785, Kick},    {45104, Snap},    {45273, Tom},     {45586, Kick},    {45749, Snap},
    {45911, Tom},     {46074, Kick},    {46387, Snap},    {46550, Kick},    {46869, Snap},
    {47345, Kick},    {47670, Snap},    {47833, Tom},     {48146, Crash},   {48634, Kick},
    {48947, Snap},    {49116, Kick},    {49429, Snap},    {49911, Kick},    {50230, Snap},
    {50387, Tom},     {50712, Kick},    {50869, Snap},    {51031, Tom},     {51181, Kick},
    {51519, Snap},    {51681, Kick},    {51989, Snap},    {52465, Kick},    {52790, Snap},
    {52947, Tom},     {53272, Kick},    {53434, Snap},    {53585, Tom},     {53748, Kick},
    {54073, Snap},    {54236, Kick},    {54549, Snap},    {55025, Kick},    {55350, Snap},
    {55507, Tom},     {55832, Kick},    {55983, Snap},    {56151, Tom},     {56314, Kick},
    {56633, Snap},    {56790, Kick},    {57109, Snap},    {57591, Kick},    {57910, Snap},
    {58067, Crash},
    // The white cover builds up triangle by triangle.
    {58218, Tom},     {58392, Tom},     {58552, Tom},     {58717, Tom},     {58787, Tom},

    // Relief (58880 to 79354): the cover comes away, the relief rises, the glow comes on.
    {58880, Crash},   {59183, Tom},     {59350, Tom},     {59663, Tom},     {60151, Rim},
    {61420, Crash},   {69265, Crash},

    // Cubes (79354 to 99834): the caption groups.
    {79354, Crash},   {81885, Rim},     {84450, Rim},     {87005, Crash},   {88974, Rim},
    {89574, Crash},   {92136, Rim},     {94667, Crash},   {96420, Rim},     {97256, Crash},
    {98963, Rim},

    // Glow trails (99834 to 120314): the groups of lines, the last one line by line.
    {99834, Crash},   {108834, Rim},    {109834, Crash},  {118834, Rim},    {119037, Tom},
    {119309, Tom},    {119617, Tom},    {119797, Tom},    {120134, Rim},

    // Replay (120314 to 140747): the cuts between the replayed scenes.
    {120314, Crash},  {122839, Crash},  {125370, Crash},  {127941, Crash},  {130472, Crash},
    {133085, Crash},  {135610, Crash},  {138216, Crash},

    // Columns (140747 to 161297).
    {140747, Crash},

    // Finale (161297 to 173000): the text lines, then the curtain in four steps.
    {161297, Crash},  {163846, Rim},    {166449, Rim},    {168971, Rim},    {170884, Tom},
    {171044, Tom},    {171205, Tom},    {171362, Impact},
};
// clang-format on

const size_t SOUNDTRACK_CUE_COUNT = sizeof SOUNDTRACK_CUES / sizeof SOUNDTRACK_CUES[0];
