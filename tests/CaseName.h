#pragma once
// Readable names for parameterised tests, so that ctest lists "Suite/Test/badChecksum"
// instead of a dump of the case's bytes.
#include <gtest/gtest.h>

#include <cctype>
#include <string>

// A test name holds letters, digits and '_' only: every other character becomes '_'.
inline std::string TestName(std::string text) {
    for (char& c : text) {
        if (std::isalnum(static_cast<unsigned char>(c)) == 0) {
            c = '_';
        }
    }
    return text.empty() ? "empty" : text;
}

// Names each case after its `name`.
struct CaseName {
    template <class Case>
    std::string operator()(const testing::TestParamInfo<Case>& info) const {
        return TestName(info.param.name);
    }
};
