// The exit-code and status policy of a run over many ports.
#include "cli/batch.h"

#include <algorithm>
#include <utility>

const std::vector<ExitCodeMeaning> &exitCodeTable()
{
    static const std::vector<ExitCodeMeaning> table = {
        {ExitOk, "every reader read, unchanged or verified"},
        {ExitUsage, "wrong usage, an invalid profile or a refused file name; no port was touched"},
        {ExitNoReader, "no reader: a port missing, not accessible, busy or silent"},
        {ExitWrongReader, "a wrong or unsupported reader; nothing was written to it"},
        {ExitNotAccepted, "a write was refused or the settings read back differ"},
        {ExitLinkLost, "the link was lost after the write was sent: the reader's state is unknown, run verify"},
        {ExitPortError, "a port could not be opened for want of open files (port_error)"},
        {ExitRecordLost,
         "a record (log, trace or output) could not be written: readers in progress were finished, no new one "
         "started"},
        {ExitSignalBase + 1, "hang-up (SIGHUP): ports written were finished and logged, the others skipped"},
        {ExitSignalBase + 2, "Ctrl-C (SIGINT): likewise"},
        {ExitSignalBase + 13, "output closed (SIGPIPE): likewise"},
        {ExitSignalBase + 15, "termination (SIGTERM): likewise"},
    };
    return table;
}

std::string exitCodeHelp()
{
    std::string text = "Exit status (several ports: the highest):\n";
    for (const ExitCodeMeaning &entry : exitCodeTable())
        text += "  " + std::to_string(entry.code) + std::string(entry.code < 10 ? "    " : "  ") + entry.meaning +
                "\n";
    return text;
}

namespace {

bool portError(const PortJob &job)
{
    return job.report.status == ReaderStatus::NoReader && job.openError == LineError::OutOfResources;
}

}  // namespace

const char *jobStatusName(const PortJob &job)
{
    return portError(job) ? "port_error" : readerStatusName(job.report.status);
}

int jobExitCode(const PortJob &job)
{
    if (portError(job))
        return ExitPortError;
    switch (job.report.status) {
    case ReaderStatus::Read:
    case ReaderStatus::Unchanged:
    case ReaderStatus::Verified:
    case ReaderStatus::Skipped: return ExitOk;  // the run's end says why it skipped
    case ReaderStatus::NoReader: return ExitNoReader;
    case ReaderStatus::WrongReader: return ExitWrongReader;
    case ReaderStatus::Refused:
    case ReaderStatus::Mismatch: return ExitNotAccepted;
    case ReaderStatus::LinkLost: return ExitLinkLost;
    }
    return ExitLinkLost;
}

bool quietlyEmpty(const PortJob &job)
{
    if (!job.probed)
        return false;
    if (job.report.status == ReaderStatus::NoReader)
        return job.openError != LineError::PermissionDenied && job.openError != LineError::Busy &&
               job.openError != LineError::OutOfResources;
    return job.report.status == ReaderStatus::WrongReader && job.report.firmware.empty();
}

bool anyReported(const std::vector<PortJob> &jobs)
{
    return std::any_of(jobs.begin(), jobs.end(), [](const PortJob &job) { return !quietlyEmpty(job); });
}

std::vector<PortJob> planAll(ReaderType kind, const std::vector<PortInfo> &system)
{
    std::vector<PortJob> jobs;
    for (const PortInfo &info : system) {
        bool usb = info.tarvikUsb;
        if (kind == ReaderType::Usb ? !usb : usb)
            continue;
        PortJob job;
        job.port = info.name;
        job.serialNumber = info.serialNumber;
        job.probed = kind == ReaderType::Lnx;
        jobs.push_back(job);
    }
    return jobs;
}

std::vector<PortJob> planNamed(const std::vector<std::string> &names, const std::vector<PortInfo> &system,
                               const std::function<std::string(const std::string &)> &identity)
{
    std::vector<PortJob> jobs;
    for (const std::string &name : names) {
        PortJob job;
        job.port = name;
        std::string device = identity(name);
        for (const PortInfo &info : system)
            if (identity(info.name) == device)
                job.serialNumber = info.serialNumber;
        jobs.push_back(job);
    }
    return jobs;
}

std::vector<std::string> dropRepeatedPorts(std::vector<PortJob> &jobs,
                                           const std::function<std::string(const std::string &)> &identity)
{
    std::vector<std::string> notes;
    std::vector<std::pair<std::string, std::string>> seen;  // identity, first name
    std::vector<PortJob> kept;
    for (PortJob &job : jobs) {
        std::string device = identity(job.port);
        auto first = std::find_if(seen.begin(), seen.end(),
                                  [&device](const std::pair<std::string, std::string> &s) { return s.first == device; });
        if (first == seen.end()) {
            seen.emplace_back(device, job.port);
            kept.push_back(std::move(job));
        } else if (first->second == job.port) {
            notes.push_back(job.port + ": named more than once: asked once");
        } else {
            notes.push_back(job.port + ": the same port as " + first->second + ": asked once");
        }
    }
    jobs = std::move(kept);
    return notes;
}

int runExitCode(const std::vector<PortJob> &jobs, const RunEnd &end)
{
    if (end.stopSignal != 0)
        return ExitSignalBase + end.stopSignal;
    int code = end.recordLost ? ExitRecordLost : ExitOk;
    for (const PortJob &job : jobs)
        if (!quietlyEmpty(job))
            code = std::max(code, jobExitCode(job));
    if (!anyReported(jobs))
        code = std::max(code, static_cast<int>(ExitNoReader));
    return code;
}

std::string summaryLine(const std::vector<PortJob> &jobs)
{
    std::vector<std::pair<std::string, int>> counts;
    for (const PortJob &job : jobs) {
        std::string word = quietlyEmpty(job) ? "no_reader" : jobStatusName(job);
        std::replace(word.begin(), word.end(), '_', ' ');
        auto entry = std::find_if(counts.begin(), counts.end(),
                                  [&word](const std::pair<std::string, int> &c) { return c.first == word; });
        if (entry == counts.end())
            counts.emplace_back(word, 1);
        else
            ++entry->second;
    }
    std::string line;
    for (const auto &entry : counts)
        line += (line.empty() ? "" : ", ") + std::to_string(entry.second) + " " + entry.first;
    return line;
}
