// What the console tool needs of the system beyond its serial lines: the
// open-file limit, the stop signals, and files it may append to or replace
// without harming anything else. serial/unix/host.cpp and
// serial/windows/host.cpp implement it.
#ifndef VELMORA_SERIAL_HOST_H
#define VELMORA_SERIAL_HOST_H

#include <atomic>
#include <ctime>
#include <string>

// Lifts the soft limit of open files to the hard one: each port served at
// once holds one.
void raiseOpenFileLimit();
// How many more files this process may open, less a few kept for its own
// records and for the system's libraries.
long openFileBudget();

// One name for one device: "ttyUSB0" and "/dev/ttyUSB0" (or a link to it)
// are the same port, as are "com3" and "COM3".
std::string portIdentity(const std::string &port);

// The calendar time of `seconds` in UTC.
std::tm utcCalendar(std::time_t seconds);

// The name of this computer, empty when unknown.
std::string hostName();

// Interrupts, terminal hang-ups, termination requests and a closed output
// pipe set `*stopSignal` to the signal's number (the first one wins) and
// `*stop` to true. A
// second interrupt, hang-up or termination request ends the process at once
// with 128 + its number, after `lastWords` on standard error.
void catchStopSignals(std::atomic<int> *stopSignal, std::atomic<bool> *stop, const char *lastWords);

enum class PathKind { Missing, Regular, Other };
// What `path` names, without following a final link (a link is Other).
PathKind pathKind(const std::string &path);
// True when both names reach one file: the same file (through links or
// other spellings), or, for names of files yet to be made, the same name.
bool sameFile(const std::string &a, const std::string &b);

// A file opened for appending whole records: each record reaches the file
// in one write at its end, so records of programs sharing it never mix.
class AppendFile {
public:
    AppendFile() = default;
    AppendFile(const AppendFile &) = delete;
    AppendFile &operator=(const AppendFile &) = delete;
    ~AppendFile();
    bool open(const std::string &path, std::string &error);
    bool isOpen() const;
    // False (and `error` set) when not all of `text` was written.
    bool append(const std::string &text, std::string &error);

private:
    long long handle_ = -1;
};

// Writes `text` to a new file with a name of its own beside `path`, then
// renames it over `path`. False (and `error` set to the cause) on failure,
// leaving any earlier file whole and no temporary file behind.
bool replaceFile(const std::string &path, const std::string &text, std::string &error);

// True when a new file can be made beside `path` (the folder exists and may
// be written); the trial file is removed again.
bool canWriteBeside(const std::string &path, std::string &error);

#endif
