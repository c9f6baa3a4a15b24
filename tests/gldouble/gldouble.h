// A recording double of the GL, GLU and GLUT entry points the program calls.
// Linked into unit tests in place of the real libraries: every call is kept
// with its arguments (floats and doubles widened exactly to double, pointed-to
// vectors copied), so tests can check exact call order and values.
#ifndef ORVANDEL_TESTS_GLDOUBLE_H
#define ORVANDEL_TESTS_GLDOUBLE_H

#include <string>
#include <vector>

struct GlCall {
    std::string name;
    std::vector<double> args;         // scalars, then any values read through pointers
    std::string text;                 // string argument (glutCreateWindow)
    const void* pointer = nullptr;    // callback or data pointer as passed
    std::vector<unsigned char> data;  // glTexImage2D: a copy of the pixel bytes

    // "name(a, b, c)" with every number in its shortest exact form.
    std::string str() const;
};

// The recorded calls, oldest first.
extern std::vector<GlCall> glCalls;
// When false, calls are only counted (for benchmarks), not recorded.
extern bool glRecording;
extern long glCallCount;

// Forgets every recorded call, the count and the display-list counter.
void glDoubleReset();
// The recorded calls as strings.
std::vector<std::string> glCallStrings();
// Formats a call the way GlCall::str() does, for building expectations.
std::string glFormat(const std::string& name, const std::vector<double>& args);

#endif  // ORVANDEL_TESTS_GLDOUBLE_H
