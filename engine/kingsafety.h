// The king terms of the evaluation (placement, castling rights, pawn shelter
// and storm, king danger) and the space term, reached through
// EvaluateKingSafety (engine/evalstate.h), and the tables of them that were
// given only in part and completed here.
#pragma once

// These five tables were given only at a few points: the shelter at its ends
// (index 0, the king out in the open, -575 / 60; index 39, the fullest
// shelter, 209 / 82), the others by their shape alone. The values in between
// are ours, in milli-pawns like the terms around them, made as follows and
// rounded to the nearest whole number:
//   KingShieldMG[i] = -575 + 784 * (1 - (1 - i / 39)^2): rising from the
//     exposed king and flattening toward the full shelter;
//   KingShieldEG[i] = 60 + 22 * i / 39: the two given ends joined straight,
//     as a shelter matters little once the queens are off;
//   KingAttack[i] = 3600 * i^2 / (i^2 + 50^2): convex in the danger index
//     at first, levelling off near three pawns at the top index 119;
//   SpaceMG[n] = 14 n - n^2 / 5 and SpaceEG[n] = 3 n - n^2 / 20 for n safe
//     squares (0..24): rising with the space, each further square worth a
//     little less.
// Shelter indices above 39 need five or more own pawns in front of the king
// and use the last entry.

// Shelter by index 0..39.
inline constexpr int KingShieldMG[40] = {
    -575, -535, -497, -459, -422, -387, -352, -319, -286, -255,
    -224, -195, -167, -139, -113, -88,  -64,  -40,  -18,  3,
    23,   42,   60,   77,   93,   108,  122,  135,  147,  157,
    167,  176,  184,  190,  196,  201,  204,  207,  208,  209,
};
inline constexpr int KingShieldEG[40] = {
    60, 61, 61, 62, 62, 63, 63, 64, 65, 65, 66, 66, 67, 67, 68, 68, 69, 70, 70, 71,
    71, 72, 72, 73, 74, 74, 75, 75, 76, 76, 77, 77, 78, 79, 79, 80, 80, 81, 81, 82,
};
// King danger by danger index 0..119, before the KingSafety percentage.
inline constexpr int KingAttack[120] = {
    0,    1,    6,    13,   23,   36,   51,   69,   90,   113,  138,  166,
    196,  228,  262,  297,  334,  373,  413,  454,  497,  540,  584,  629,
    674,  720,  766,  813,  859,  906,  953,  1000, 1046, 1092, 1138, 1184,
    1229, 1274, 1318, 1362, 1405, 1447, 1489, 1531, 1571, 1611, 1650, 1689,
    1727, 1764, 1800, 1836, 1871, 1905, 1938, 1971, 2003, 2035, 2065, 2095,
    2125, 2153, 2181, 2209, 2236, 2262, 2287, 2312, 2337, 2361, 2384, 2407,
    2429, 2450, 2472, 2492, 2513, 2532, 2552, 2570, 2589, 2607, 2624, 2641,
    2658, 2675, 2691, 2706, 2721, 2736, 2751, 2765, 2779, 2793, 2806, 2819,
    2832, 2844, 2856, 2868, 2880, 2891, 2903, 2913, 2924, 2935, 2945, 2955,
    2965, 2974, 2984, 2993, 3002, 3011, 3019, 3028, 3036, 3044, 3052, 3060,
};
// Space by the count of safe squares 0..24.
inline constexpr int SpaceMG[25] = {
    0, 14, 27, 40, 53, 65, 77, 88, 99, 110, 120, 130, 139, 148, 157, 165, 173, 180, 187, 194, 200, 206, 211, 216, 221,
};
inline constexpr int SpaceEG[25] = {
    0, 3, 6, 9, 11, 14, 16, 19, 21, 23, 25, 27, 29, 31, 32, 34, 35, 37, 38, 39, 40, 41, 42, 43, 43,
};
