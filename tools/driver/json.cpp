#include "json.h"

#include <cstdio>

namespace json {

std::string utf8(const std::wstring &text)
{
    if (text.empty())
        return std::string();
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? size : 0, '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), &out[0], size, nullptr, nullptr);
    return out;
}

std::wstring wide(const std::string &text)
{
    if (text.empty())
        return std::wstring();
    int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), (int)text.size(), nullptr, 0);
    std::wstring out(size > 0 ? size : 0, L'\0');
    if (size > 0)
        MultiByteToWideChar(CP_UTF8, 0, text.data(), (int)text.size(), &out[0], size);
    return out;
}

static void escapeInto(std::string &out, const std::string &text, bool quotes)
{
    for (unsigned char c : text) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case '"':
            out += quotes ? "\\\"" : "\"";
            break;
        default:
            if (c < 0x20 || c == 0x7F) {
                char buffer[8];
                std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
                out += buffer;
            } else {
                out += (char)c;
            }
        }
    }
}

void str(std::string &out, const std::string &utf8Text)
{
    out += '"';
    escapeInto(out, utf8Text, true);
    out += '"';
}

void str(std::string &out, const std::wstring &text)
{
    str(out, utf8(text));
}

void next(std::string &out)
{
    if (!out.empty()) {
        char last = out.back();
        if (last != '{' && last != '[' && last != ':')
            out += ',';
    }
}

void key(std::string &out, const char *name)
{
    next(out);
    str(out, std::string(name));
    out += ':';
}

void num(std::string &out, long long value)
{
    out += std::to_string(value);
}

void boolean(std::string &out, bool value)
{
    out += value ? "true" : "false";
}

void null(std::string &out)
{
    out += "null";
}

void handle(std::string &out, const void *value)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "\"0x%llx\"", (unsigned long long)(UINT_PTR)value);
    out += buffer;
}

void hex32(std::string &out, DWORD value)
{
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "\"0x%08lx\"", (unsigned long)value);
    out += buffer;
}

void rect(std::string &out, const RECT &r)
{
    out += '[';
    num(out, r.left);
    out += ',';
    num(out, r.top);
    out += ',';
    num(out, r.right);
    out += ',';
    num(out, r.bottom);
    out += ']';
}

void member(std::string &out, const char *name, const std::wstring &text) { key(out, name); str(out, text); }
void member(std::string &out, const char *name, const std::string &utf8Text) { key(out, name); str(out, utf8Text); }
void member(std::string &out, const char *name, const char *utf8Text) { key(out, name); str(out, std::string(utf8Text)); }
void member(std::string &out, const char *name, long long value) { key(out, name); num(out, value); }
void member(std::string &out, const char *name, int value) { key(out, name); num(out, value); }
void member(std::string &out, const char *name, DWORD value) { key(out, name); num(out, value); }
void member(std::string &out, const char *name, bool value) { key(out, name); boolean(out, value); }
void memberHex(std::string &out, const char *name, DWORD value) { key(out, name); hex32(out, value); }
void memberHandle(std::string &out, const char *name, const void *value) { key(out, name); handle(out, value); }
void memberRect(std::string &out, const char *name, const RECT &r) { key(out, name); rect(out, r); }

std::string escapeLine(const std::string &utf8Text)
{
    std::string out;
    escapeInto(out, utf8Text, false);
    return out;
}

}
