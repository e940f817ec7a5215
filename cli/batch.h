// A run over many ports: which ports are asked, what each outcome means for
// the user, the run's summary and its exit code. No I/O: main.cpp does that.
#ifndef VELMORA_CLI_BATCH_H
#define VELMORA_CLI_BATCH_H

#include <functional>
#include <string>
#include <vector>

#include "cli/drive.h"
#include "protocol/usb_ids.h"
#include "serial/line.h"

// Exit codes of the program. Several ports: the highest of all is returned.
enum ExitCode {
    ExitOk = 0,
    ExitUsage = 2,
    ExitNoReader = 3,
    ExitWrongReader = 4,
    ExitNotAccepted = 5,
    ExitLinkLost = 6,
    ExitPortError = 7,
    ExitRecordLost = 8,
    ExitSignalBase = 128,  // + the signal's number
};

struct ExitCodeMeaning {
    int code;
    const char *meaning;
};
// Every exit code with its meaning, for --help and the manual.
const std::vector<ExitCodeMeaning> &exitCodeTable();
// The table as --help shows it.
std::string exitCodeHelp();

struct PortJob {
    std::string port;
    std::string serialNumber;
    bool probed = false;                    // found by --all probing rather than named
    LineError openError = LineError::None;  // why the port did not open
    ReaderReport report;
};

// The status word of a port: the reader's, or "port_error" for a port this
// process could not open for want of its own resources.
const char *jobStatusName(const PortJob &job);
int jobExitCode(const PortJob &job);

// A port probed by --all that holds no reader of the kind is not a failure
// and is not reported. One that could not be asked (no permission, held by
// another program, no descriptor left) may hold a reader: it is reported
// like a named port.
bool quietlyEmpty(const PortJob &job);
// Whether any port is reported: false when every one was quietly empty.
bool anyReported(const std::vector<PortJob> &jobs);

// --all: the Tarvik-USB reader is found by its USB ids; Tarvik-LNA_LNB
// readers by asking every other port (`probed`), never the Usb reader's.
std::vector<PortJob> planAll(ReaderType kind, const std::vector<PortInfo> &system);
// --port: the ports as named, each with the USB serial number of the system
// port that is the same device (through /dev/serial/by-id links too).
std::vector<PortJob> planNamed(const std::vector<std::string> &names, const std::vector<PortInfo> &system,
                               const std::function<std::string(const std::string &)> &identity);

// Keeps the first of the jobs whose ports `identity` maps to one device;
// returns a note for each job dropped.
std::vector<std::string> dropRepeatedPorts(std::vector<PortJob> &jobs,
                                           const std::function<std::string(const std::string &)> &identity);

struct RunEnd {
    int stopSignal = 0;       // the signal that cut the run short, 0 for none
    bool recordLost = false;  // a log, trace or output record could not be written
};

// The run's exit code: 128 + the signal when one cut the run short;
// otherwise the highest of the ports' codes and of a lost record; no reader
// at all (every port quietly empty) is ExitNoReader.
int runExitCode(const std::vector<PortJob> &jobs, const RunEnd &end);

// "3 verified, 1 unchanged, 34 no reader": the reported ports by status,
// in the order of first appearance; quietly empty ports count as no reader.
std::string summaryLine(const std::vector<PortJob> &jobs);

#endif
