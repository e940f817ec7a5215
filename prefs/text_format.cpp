// Messages composed of a text and the words that go into it (a port name,
// a second text). Apart from the text tables, so that code which only
// composes messages links without the window.
#include "prefs/texts.h"

#include <cstdarg>
#include <cwchar>

void formatText(wchar_t *buffer, size_t capacity, const wchar_t *format, ...)
{
    if (buffer == nullptr || capacity == 0)
        return;
    va_list args;
    va_start(args, format);
    std::vswprintf(buffer, capacity, format, args);
    va_end(args);
    // Some runtimes leave a cut-short result unterminated.
    buffer[capacity - 1] = L'\0';
}
