// Replies of the driver are one line each: "ok " and a JSON value, or
// "err " and a reason. JSON escapes backslash, LF, CR and TAB as \\ \n \r \t,
// so a reply never spans lines. Helpers append to a std::string.
#ifndef VELMORA_DRIVER_JSON_H
#define VELMORA_DRIVER_JSON_H

#include <windows.h>

#include <string>

namespace json {

// UTF-8 of a wide string (lone surrogates become U+FFFD).
std::string utf8(const std::wstring &text);
std::wstring wide(const std::string &text);

// A quoted JSON string.
void str(std::string &out, const std::string &utf8Text);
void str(std::string &out, const std::wstring &text);

// Starts a member of an object: a comma when needed, then "name":.
void key(std::string &out, const char *name);
// Adds a comma before an array element when needed.
void next(std::string &out);

void num(std::string &out, long long value);
void boolean(std::string &out, bool value);
void null(std::string &out);
// A window handle or other pointer-sized value as "0x..." (hex string).
void handle(std::string &out, const void *value);
// A 32-bit value as "0x........" (styles).
void hex32(std::string &out, DWORD value);
void rect(std::string &out, const RECT &r);

// Member shortcuts.
void member(std::string &out, const char *name, const std::wstring &text);
void member(std::string &out, const char *name, const std::string &utf8Text);
void member(std::string &out, const char *name, const char *utf8Text);
void member(std::string &out, const char *name, long long value);
void member(std::string &out, const char *name, int value);
void member(std::string &out, const char *name, DWORD value);
void member(std::string &out, const char *name, bool value);
void memberHex(std::string &out, const char *name, DWORD value);
void memberHandle(std::string &out, const char *name, const void *value);
void memberRect(std::string &out, const char *name, const RECT &r);

// Escapes a reason for an "err" reply the same way (no quotes).
std::string escapeLine(const std::string &utf8Text);

}

#endif
