#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

// Where the range of each number of fused passes ends and the next begins,
// and the largest count: digit counts and the k a plan gives them, with a
// division by FMA, with one of two roundings, and rounded down.
inline const std::vector<std::pair<std::int32_t, std::int32_t>> fusededgeswithfma = {
    {0, 10},       {1000, 10},     {20000, 10},     {29519, 10},    {29520, 9},     {150000, 9},
    {325759, 9},   {325760, 8},    {1000000, 8},    {3366534, 8},   {3366535, 7},   {16953818, 7}};
inline const std::vector<std::pair<std::int32_t, std::int32_t>> fusededgeswithtworoundings = {
    {1000, 10},     {10972, 10},    {10973, 9},      {159957, 9},    {159958, 8},
    {1343337, 8},   {1343338, 7},   {11192256, 7},   {11192257, 6},  {16953818, 6}};
inline const std::vector<std::pair<std::int32_t, std::int32_t>> fusededgesroundingdown = {
    {1000, 10},     {33777, 10},    {33778, 9},      {337770, 9},    {337771, 8},
    {3377699, 8},   {3377700, 7},   {16953818, 7}};

// The edges of a division form, numbered as both subsystems number their
// forms: 0 by FMA, 1 with two roundings, 2 rounded down.
inline const std::vector<std::pair<std::int32_t, std::int32_t>>& fusededgesof(int form)
{
    if (form == 1) {
        return fusededgeswithtworoundings;
    }
    return form == 2 ? fusededgesroundingdown : fusededgeswithfma;
}

// All, for what every form must hold at each.
inline std::vector<std::pair<std::int32_t, std::int32_t>> fusededges()
{
    std::vector<std::pair<std::int32_t, std::int32_t>> edges = fusededgeswithfma;
    edges.insert(edges.end(), fusededgeswithtworoundings.begin(), fusededgeswithtworoundings.end());
    edges.insert(edges.end(), fusededgesroundingdown.begin(), fusededgesroundingdown.end());
    return edges;
}

}  // namespace testsupport
