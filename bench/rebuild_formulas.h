// The formulas the rebuild benchmarks time, and for each the library calls it cannot avoid.
#pragma once

#include <cmath>
#include <cstring>
#include <string>

#include "waveshaper/table_layout.h"

namespace rebuildbench {

inline std::string repeated(const char* first, const char* piece, std::size_t length) {
    std::string s = first;
    while (s.size() + std::strlen(piece) <= length)
        s += piece;
    return s;
}

inline std::string nestedSin(int depth) {
    std::string s = "x";
    for (int i = 0; i < depth; ++i)
        s = "sin(" + s + ")";
    return s;
}

inline std::string summedTanh(int terms) {
    std::string s = "tanh(x)";
    for (int i = 1; i < terms; ++i)
        s += "+tanh(x)";
    return s;
}

inline double positionX(int i) {
    return tableInputVolts(i);
}

// The library calls a formula cannot avoid at the 513 positions (with the same arguments), and
// nothing else: the floor of any evaluation that keeps the library's bits. Returns a sum so that no
// call is dropped.
using Floor = double (*)();

inline double floorNone() {
    return 0.0;
}
inline double floorTanh() {
    double sum = 0.0;
    for (int i = 0; i < kTableEntries; ++i)
        sum += std::tanh(3 * positionX(i));
    return sum;
}
inline double floorPolynomial120() {
    // x^2 .. x^8, one pow call each per position (x^3 and x^2 appear twice but are computed once),
    // one exponent at a time over all positions
    double sum = 0.0;
    for (int e = 2; e <= 8; ++e) {
        for (int i = 0; i < kTableEntries; ++i)
            sum += std::pow(positionX(i), static_cast<double>(e));
    }
    return sum;
}
inline double floorNestedSin() {
    // 99 rounds of 513 independent calls, so the processor overlaps them as well as it can.
    double v[kTableEntries];
    for (int i = 0; i < kTableEntries; ++i)
        v[i] = positionX(i);
    for (int d = 0; d < 99; ++d) {
        for (int i = 0; i < kTableEntries; ++i)
            v[i] = std::sin(v[i]);
    }
    double sum = 0.0;
    for (int i = 0; i < kTableEntries; ++i)
        sum += v[i];
    return sum;
}
inline double floorSummedTanh() {
    double sum = 0.0;
    for (int i = 0; i < kTableEntries; ++i)
        sum += std::tanh(positionX(i));
    return sum;
}
inline double floorWavefolder() {
    double sum = 0.0;
    for (int i = 0; i < kTableEntries; ++i)
        sum += std::sin(positionX(i) * 3.141592653589793 / 7);
    return sum;
}

struct BenchFormula {
    const char* label;
    std::string text;
    Floor floor;
};

// The formulas both parsers read the same way; the failing one is timed for this library only.
inline const BenchFormula kFormulas[] = {
    {"identity", "x", &floorNone},
    {"tanh", "tanh(3*x)/tanh(3)*5", &floorTanh},
    {"polynomial120",
     "0.5*x^5-0.25*x^4+0.125*x^3-1.5*x^2+2.75*x+0.03125-0.0625*x^6+0.001*x^7+0.3*x^3*x-0.2*x^2*x^2+1.25*x*x*"
     "x-"
     "0.75+0.00751*x^8",
     &floorPolynomial120},
    {"cubic496", repeated("x", "+0.01*x*x*x", 496), &floorNone},
    {"nestedSin99", nestedSin(99), &floorNestedSin},
    {"tanhSum62", summedTanh(62), &floorSummedTanh},
    {"wavefolder", "5*sin(x*pi/7)", &floorWavefolder},
    // Fails at every position after reading the whole text (the closing parenthesis is missing).
    {"failing", "x*(x+1", &floorNone},
};
inline constexpr int kComparable = 7; // the formulas before "failing"
inline constexpr int kAll = 8;

} // namespace rebuildbench
