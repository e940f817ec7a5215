// The number in a port name such as "COM12", for ordering the port list.
#include "serial/portnumber.h"

#include <climits>

namespace {

constexpr int NumberOffset = 3;  // behind "COM"

// The white space of the "C" locale, without isspace's trouble with negative chars.
bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

int parsePortNumber(const char *name)
{
    if (name == nullptr)
        return 0;
    // Step over the prefix one character at a time so a short name is never
    // read past its terminator.
    for (int i = 0; i < NumberOffset; ++i) {
        if (name[i] == '\0')
            return 0;
    }
    const char *s = name + NumberOffset;

    while (isBlank(*s))
        ++s;
    bool negative = false;
    if (*s == '+' || *s == '-') {
        negative = (*s == '-');
        ++s;
    }

    // Accumulated as a magnitude; once it passes what an int can hold the
    // remaining digits are skipped and the result saturates.
    const long long limit = negative ? -static_cast<long long>(INT_MIN) : INT_MAX;
    long long magnitude = 0;
    for (; *s >= '0' && *s <= '9'; ++s) {
        magnitude = magnitude * 10 + (*s - '0');
        if (magnitude >= limit) {
            magnitude = limit;
            break;
        }
    }
    return negative ? static_cast<int>(-magnitude) : static_cast<int>(magnitude);
}
