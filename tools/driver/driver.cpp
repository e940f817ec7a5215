// velmora-driver: drives the program under test from outside, as a user
// would, for the end-to-end tests. It runs in the same Wine prefix, reads one
// command per line on stdin and answers each with exactly one line on stdout:
// "ok <JSON>" or "err <reason>". The command reference is in README.md.
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "commands.h"
#include "json.h"
#include "target.h"

struct CommandEntry {
    const char *name;
    bool (*run)(const Words &, const std::string &, std::string &);
};

static const CommandEntry commandTable[] = {
    {"attach", cmdAttach},
    {"title", cmdTitle},
    {"wininfo", cmdWininfo},
    {"controls", cmdControls},
    {"text", cmdText},
    {"check", cmdCheck},
    {"enabled", cmdEnabled},
    {"visible", cmdVisible},
    {"click", cmdClick},
    {"command", cmdCommand},
    {"combo", cmdCombo},
    {"pick", cmdPick},
    {"tab", cmdTab},
    {"tabsel", cmdTabsel},
    {"tabs", cmdTabs},
    {"devchange", cmdDevchange},
    {"rclick", cmdRclick},
    {"lclick", cmdLclick},
    {"minimize", cmdMinimize},
    {"restore", cmdRestore},
    {"close", cmdClose},
    {"waitgone", cmdWaitgone},
    {"waitexit", cmdWaitexit},
    {"pid", cmdPid},
    {"procs", cmdProcs},
    {"kill", cmdKill},
    {"find", cmdFind},
    {"boxes", cmdBoxes},
    {"waitbox", cmdWaitbox},
    {"ok", cmdOk},
    {"cancel", cmdCancel},
    {"dialog", cmdDialog},
    {"waitdialog", cmdWaitdialog},
    {"popup", cmdPopup},
    {"popups", cmdPopups},
    {"menu", cmdMenu},
    {"menuchoose", cmdMenuchoose},
    {"menuclose", cmdMenuclose},
    {"pixel", cmdPixel},
    {"pixels", cmdPixels},
    {"colors", cmdColors},
    {"serial", cmdSerial},
    {"sleep", cmdSleep},
    {"clock", cmdClock},
    {"waitready", cmdWaitready},
    {"clicktime", cmdClicktime},
    {"procinfo", cmdProcinfo},
};

bool intArg(const Words &w, size_t index, long long &value, std::string &reply)
{
    if (index >= w.size()) {
        reply = "missing argument " + std::to_string(index);
        return false;
    }
    char *end = nullptr;
    value = std::strtoll(w[index].c_str(), &end, 0);
    if (w[index].empty() || *end) {
        reply = "not a number: " + w[index];
        return false;
    }
    return true;
}

bool optIntArg(const Words &w, size_t index, long long fallback, long long &value, std::string &reply)
{
    if (index >= w.size()) {
        value = fallback;
        return true;
    }
    return intArg(w, index, value, reply);
}

bool needAttached(std::string &reply)
{
    if (!target::mainWindow) {
        reply = "not attached";
        return false;
    }
    if (!IsWindow(target::mainWindow)) {
        reply = "main window gone";
        return false;
    }
    return true;
}

bool runCommand(const Words &words, const std::string &restOfLine, std::string &reply, bool &ok, bool &quit)
{
    quit = false;
    ok = false;
    if (words.empty()) {
        reply = "empty command";
        return false;
    }
    if (words[0] == "quit") {
        quit = true;
        ok = true;
        reply = "null";
        return true;
    }
    for (const CommandEntry &entry : commandTable) {
        if (words[0] == entry.name) {
            ok = entry.run(words, restOfLine, reply);
            return true;
        }
    }
    reply = "unknown command " + words[0];
    return false;
}

static Words splitWords(const std::string &line, std::string &restAfterFirst)
{
    Words words;
    size_t i = 0;
    restAfterFirst.clear();
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        if (i >= line.size())
            break;
        if (words.size() == 1)
            restAfterFirst = line.substr(i);
        size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t')
            ++i;
        words.push_back(line.substr(start, i - start));
    }
    return words;
}

static void writeLine(HANDLE out, const std::string &line)
{
    std::string data = line + "\n";
    const char *p = data.data();
    DWORD left = (DWORD)data.size();
    while (left) {
        DWORD written = 0;
        if (!WriteFile(out, p, left, &written, nullptr) || written == 0)
            return;
        p += written;
        left -= written;
    }
}

int main()
{
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    std::string pending;
    bool running = true;
    while (running) {
        size_t newline;
        while ((newline = pending.find('\n')) == std::string::npos) {
            char buffer[4096];
            DWORD got = 0;
            if (!ReadFile(in, buffer, sizeof buffer, &got, nullptr) || got == 0) {
                running = false;
                break;
            }
            pending.append(buffer, got);
        }
        if (!running && pending.empty())
            break;
        std::string line;
        if (newline == std::string::npos) {
            line.swap(pending);
        } else {
            line = pending.substr(0, newline);
            pending.erase(0, newline + 1);
        }
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::string rest;
        Words words = splitWords(line, rest);
        std::string reply;
        bool ok = false, quit = false;
        runCommand(words, rest, reply, ok, quit);
        writeLine(out, ok ? "ok " + reply : "err " + json::escapeLine(reply));
        if (quit)
            break;
    }
    target::detach();
    return 0;
}
