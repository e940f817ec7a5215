// The number read from a port name, used to order the port list.
#include "serial/portnumber.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <memory>
#include <string>

namespace {

// A heap copy of exactly the name and its terminator, so that the address
// sanitizer catches any read past the terminator.
int parseExactCopy(const std::string &name)
{
    std::unique_ptr<char[]> copy(new char[name.size() + 1]);
    std::memcpy(copy.get(), name.c_str(), name.size() + 1);
    return parsePortNumber(copy.get());
}

struct PortCase {
    const char *name;
    int expected;
};

const PortCase portCases[] = {
    {"COM1", 1},
    {"COM9", 9},
    {"COM10", 10},
    {"COM256", 256},
    {"COM007", 7},
    // Only the prefix length counts, not its letters.
    {"XYZ42", 42},
    {"com3", 3},
    // Short names.
    {"", 0},
    {"C", 0},
    {"CO", 0},
    {"COM", 0},
    // As atoi reads: white space, a sign, then leading digits only.
    {"COM 12", 12},
    {"COM\t\n\v\f\r5", 5},
    {"COM+7", 7},
    {"COM-3", -3},
    {"COM12abc", 12},
    {"COM1 2", 1},
    {"COMx", 0},
    {"COM-", 0},
    {"COM+-5", 0},
    {"COM- 5", 0},
    {"COM 12 ", 12},
    {"COM12345678", 12345678},
    // Saturation instead of overflow.
    {"COM2147483647", INT_MAX},
    {"COM2147483648", INT_MAX},
    {"COM99999999999999999999999", INT_MAX},
    {"COM+2147483648", INT_MAX},
    {"COM-2147483647", -2147483647},
    {"COM-2147483648", INT_MIN},
    {"COM-2147483649", INT_MIN},
    {"COM-99999999999999999999999", INT_MIN},
    {"COM00000000000000000000012", 12},
};

TEST(ParsePortNumber, TableOfNames)
{
    for (const PortCase &c : portCases)
        EXPECT_EQ(parseExactCopy(c.name), c.expected) << '"' << c.name << '"';
}

TEST(ParsePortNumber, NullNameIsZero)
{
    EXPECT_EQ(parsePortNumber(nullptr), 0);
}

TEST(ParsePortNumber, StopsAtTheTerminatorInsideTheName)
{
    // The bytes behind an early terminator must not be taken as part of the name.
    const char name[] = {'C', 'O', '\0', '7', '7', '\0'};
    EXPECT_EQ(parsePortNumber(name), 0);
    const char later[] = {'C', 'O', 'M', '4', '\0', '7', '\0'};
    EXPECT_EQ(parsePortNumber(later), 4);
}

TEST(ParsePortNumber, HighBitCharactersAreNotWhiteSpace)
{
    EXPECT_EQ(parseExactCopy("COM\xA0" "5"), 0);
    EXPECT_EQ(parseExactCopy("COM\xFF" "5"), 0);
}

}  // namespace
