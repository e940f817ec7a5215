// velmora-cli: read, apply and verify reader settings from the command line,
// many readers at once.
#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <random>
#include <system_error>
#include <thread>
#include <utility>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "cli/batch.h"
#include "cli/drive.h"
#include "cli/profile.h"
#include "cli/sha256.h"
#include "cli/trace.h"
#include "protocol/usb_ids.h"
#include "serial/host.h"
#include "serial/line.h"
#include "velmora_version.h"

using json = nlohmann::ordered_json;

namespace {

constexpr int DefaultTimeoutMs = 1000;
constexpr int MaxTimeoutMs = 600000;
constexpr char TarvikUsbDescription[] = "Tarvik-USB reader";

// The first stop signal (Ctrl-C, SIGTERM, SIGHUP, SIGPIPE) caught, and the
// flag it raises: ports not yet written are abandoned, the ones written are
// finished.
std::atomic<int> stopSignal(0);
std::atomic<bool> stopping(false);
// Set when a record could not be written: no new port is started.
std::atomic<bool> recordFailed(false);

enum class Command { Ports, Read, Apply, Verify };

const char *commandName(Command command)
{
    switch (command) {
    case Command::Ports: return "ports";
    case Command::Read: return "read";
    case Command::Apply: return "apply";
    case Command::Verify: return "verify";
    }
    return "?";
}

struct Options {
    Command command = Command::Read;
    std::string kindName = "lnx";
    std::vector<std::string> ports;
    bool all = false;
    std::string profilePath;
    std::vector<std::string> overrides;
    std::string savePath;
    std::string tracePath;
    std::string logPath;
    int timeoutMs = DefaultTimeoutMs;
    int jobs = 0;  // 0: one thread per port
    bool dryRun = false;
    bool json = false;
};

std::string hex4(int id)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(id) & 0xFFFFu);
    return text;
}

std::string usbIdsText()
{
    return hex4(TarvikUsbVendorId) + ":" + hex4(TarvikUsbProductId);
}

// The ports the system has. VELMORA_PORTS (names separated by commas)
// replaces the system's list: for pseudo-terminals, which no list shows.
std::vector<PortInfo> systemPorts()
{
    const char *names = std::getenv("VELMORA_PORTS");
    if (names == nullptr)
        return listSerialPorts();
    std::vector<PortInfo> ports;
    std::string list = names;
    std::string::size_type start = 0;
    while (start <= list.size()) {
        std::string::size_type comma = list.find(',', start);
        std::string name = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (!name.empty()) {
            PortInfo info;
            info.name = name;
            ports.push_back(info);
        }
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    return ports;
}

// JSON strings are UTF-8: a name that is not keeps its bytes in hex beside
// the readable form (where bytes that are not UTF-8 show as U+FFFD).
void putName(json &record, const char *key, const std::string &name)
{
    record[key] = name;
    if (!isUtf8(name)) {
        static const char hex[] = "0123456789abcdef";
        std::string bytes;
        for (unsigned char c : name) {
            bytes += hex[c >> 4];
            bytes += hex[c & 15];
        }
        record[std::string(key) + "_hex"] = bytes;
    }
}

std::string dumpJson(const json &document, int indent)
{
    return document.dump(indent, ' ', false, json::error_handler_t::replace);
}

json settingsJson(const SettingsValues &settings)
{
    json values = json::object();
    for (int f = 0; f < settingFieldCount(settings.kind); ++f) {
        const char *name = settingValueName(settings, f);
        values[settingField(settings.kind, f).key] = name ? json(name) : json(nullptr);
    }
    return values;
}

std::string settingsText(const SettingsValues &settings)
{
    std::string text;
    for (int f = 0; f < settingFieldCount(settings.kind); ++f) {
        const char *name = settingValueName(settings, f);
        if (f)
            text += ' ';
        text += std::string(settingField(settings.kind, f).key) + "=" + (name ? name : "?");
    }
    return text;
}

struct Context {
    Options options;
    ReaderType kind = ReaderType::Lnx;
    SettingsValues profile;
    TraceFile trace;
    bool tracing = false;
    AppendFile log;
    std::string runId;
    std::string profileSha256;
    std::string host;
    std::mutex outputLock;
    std::vector<std::string> lostRecords;  // under outputLock
};

bool wouldWrite(const Context &context, const PortJob &job)
{
    return context.options.command == Command::Apply && context.options.dryRun &&
           job.report.status == ReaderStatus::Read;
}

json recordJson(const Context &context, const PortJob &job)
{
    const ReaderReport &r = job.report;
    json record;
    putName(record, "port", job.port);
    record["kind"] = readerKindName(r.kind);
    record["firmware"] = r.firmware.empty() ? json(nullptr) : json(r.firmware);
    record["status"] = jobStatusName(job);
    record["before"] = r.hasBefore ? settingsJson(r.before) : json(nullptr);
    record["after"] = r.hasAfter ? settingsJson(r.after) : json(nullptr);
    if (wouldWrite(context, job))
        record["would_write"] = settingsJson(context.profile);
    record["error"] = r.error.empty() ? json(nullptr) : json(r.error);
    if (!job.serialNumber.empty())
        record["serial"] = job.serialNumber;
    return record;
}

// A record that could not be written: no new port is started, and the
// user is told at the end what was lost.
void loseRecord(Context &context, const std::string &what)
{
    recordFailed = true;
    std::lock_guard<std::mutex> hold(context.outputLock);
    context.lostRecords.push_back(what);
}

// --log: one JSON line per reader, appended in one write.
void logJob(Context &context, const PortJob &job)
{
    const Options &o = context.options;
    json line;
    line["time"] = utcTimestamp();
    line["run"] = context.runId;
    line["version"] = VELMORA_VERSION_TEXT;
    line["host"] = context.host;
    line["command"] = commandName(o.command);
    if (!o.profilePath.empty()) {
        putName(line, "profile", o.profilePath);
        line["profile_sha256"] = context.profileSha256;
    }
    line["dry_run"] = o.dryRun;
    json record = recordJson(context, job);
    for (auto &field : record.items())
        line[field.key()] = field.value();
    line["serial"] = job.serialNumber.empty() ? json(nullptr) : json(job.serialNumber);
    std::string error;
    if (!context.log.append(dumpJson(line, -1) + "\n", error))
        loseRecord(context, o.logPath + ": the log line of " + escapedText(job.port) + " (" + jobStatusName(job) +
                                ") is lost: " + error);
}

// Writes all of `text` to standard output or error; false when it could not.
bool emit(std::FILE *stream, const std::string &text)
{
    return std::fwrite(text.data(), 1, text.size(), stream) == text.size() && std::fflush(stream) == 0;
}

std::string reportText(const Context &context, const PortJob &job)
{
    const ReaderReport &r = job.report;
    std::string line = escapedText(job.port) + ": " + jobStatusName(job);
    if (!r.firmware.empty() && r.status != ReaderStatus::WrongReader)
        line += " " + std::string(readerKindName(r.kind)) + " firmware " + r.firmware;
    if (wouldWrite(context, job)) {
        line += ": holds " + settingsText(r.before) + "; would write " + settingsText(context.profile);
    } else if (r.hasAfter) {
        line += ": now holds " + settingsText(r.after);
    } else if (r.hasBefore) {
        line += ": holds " + settingsText(r.before);
    }
    if (!r.error.empty())
        line += (r.hasBefore || r.hasAfter ? "; " : ": ") + escapedText(r.error);
    return line + "\n";
}

// A name shared by the log lines of one run.
std::string newRunId()
{
    std::random_device random;
    unsigned long long id = (static_cast<unsigned long long>(random()) << 32) ^ random() ^
                            static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
    char text[24];
    std::snprintf(text, sizeof text, "%016llx", id);
    return text;
}

std::string skipReason()
{
    if (int number = stopSignal.load())
        return number == SIGINT ? "stopped by Ctrl-C before anything was written"
                                : "stopped by signal " + std::to_string(number) + " before anything was written";
    return "not started: a record of this run could not be written";
}

void runJob(Context &context, PortJob &job)
{
    const Options &o = context.options;
    job.report.kind = context.kind;
    if (stopSignal != 0 || recordFailed) {
        job.report.status = ReaderStatus::Skipped;
        job.report.error = skipReason();
        return;
    }
    LineStatus status;
    std::unique_ptr<SerialLine> line = openSerialLine(job.port, status);
    if (!line) {
        job.report.status = ReaderStatus::NoReader;
        job.report.error = status.message;
        job.openError = status.error;
        return;
    }
    if (context.tracing)
        line.reset(new TracingLine(std::move(line), context.trace, job.port));
    switch (o.command) {
    case Command::Apply: job.report = applyProfile(*line, context.profile, o.timeoutMs, o.dryRun, &stopping); break;
    case Command::Verify: job.report = verifyProfile(*line, context.profile, o.timeoutMs, &stopping); break;
    default: job.report = readReader(*line, context.kind, o.timeoutMs, &stopping); break;
    }
    if (job.report.status == ReaderStatus::Skipped)
        job.report.error = skipReason();
}

// Runs one port; nothing it calls may end the run for the others. A
// failure while the reader is talked to is reported by drive(), which knows
// whether it was written; this catches what fails around that.
void serveJob(Context &context, PortJob &job)
{
    try {
        runJob(context, job);
    } catch (const std::exception &e) {
        reportInternalFailure(job.report, e.what());
    } catch (...) {
        reportInternalFailure(job.report, nullptr);
    }
    if (context.tracing)
        context.trace.note(job.port + ": " + jobStatusName(job) +
                           (job.report.error.empty() ? "" : ": " + job.report.error));
    if (context.log.isOpen() && !quietlyEmpty(job) && job.report.status != ReaderStatus::Skipped)
        logJob(context, job);
    if (context.tracing && context.trace.failed())
        recordFailed = true;
}

std::vector<PortJob> planJobs(const Context &context)
{
    const Options &o = context.options;
    if (o.all)
        return planAll(context.kind, systemPorts());
    return planNamed(o.ports, listSerialPorts(), portIdentity);
}

// The settings of the first reader read, saved as a profile when every
// reader read holds the same; `code` is raised when they are not saved.
void saveRead(Context &context, const std::vector<PortJob> &jobs, int &code)
{
    const Options &o = context.options;
    const PortJob *source = nullptr;
    std::string others;
    for (const PortJob &job : jobs) {
        if (job.report.status != ReaderStatus::Read)
            continue;
        if (source == nullptr)
            source = &job;
        else if (!(job.report.before == source->report.before))
            others += (others.empty() ? "" : ", ") + escapedText(job.port);
    }
    std::string error;
    if (source == nullptr) {
        emit(stderr, "velmora-cli: " + o.savePath + ": not saved: no reader was read\n");
    } else if (!others.empty()) {
        emit(stderr, "velmora-cli: " + o.savePath + ": not saved: the readers read differ (" + others +
                         " from " + escapedText(source->port) + "): save one reader's settings at a time\n");
        code = std::max(code, static_cast<int>(ExitUsage));
    } else if (!saveProfile(o.savePath, source->report.before, error)) {
        emit(stderr, "velmora-cli: " + error + "\n");
        // Settings this program cannot name make the reader one it does
        // not support; otherwise the file could not be written.
        code = std::max(code, static_cast<int>(settingsComplete(source->report.before) ? ExitUsage : ExitWrongReader));
    }
}

int runReaders(Context &context)
{
    const Options &o = context.options;
    std::vector<PortJob> jobs = planJobs(context);
    for (const std::string &note : dropRepeatedPorts(jobs, portIdentity))
        emit(stderr, "velmora-cli: " + escapedText(note) + "\n");
    if (jobs.empty()) {
        emit(stderr, std::string("velmora-cli: no ") + readerProductName(context.kind) + " reader: " +
                         (context.kind == ReaderType::Usb ? "no port with the USB ids " + usbIdsText()
                                                          : std::string("the system has no serial port")) +
                         "\n");
        if (o.json)
            emit(stdout, dumpJson(json{{"results", json::array()}}, 2) + "\n");
        return ExitNoReader;
    }
    for (PortJob &job : jobs)
        job.report.kind = context.kind;

    // Text lines come in the order the ports were given, each as soon as it
    // and the ones before it are done.
    std::vector<char> done(jobs.size(), 0);
    std::size_t printed = 0;
    auto finish = [&](std::size_t index) {
        std::lock_guard<std::mutex> hold(context.outputLock);
        done[index] = 1;
        for (; printed < jobs.size() && done[printed]; ++printed) {
            const PortJob &job = jobs[printed];
            if (o.json || quietlyEmpty(job))
                continue;
            bool failed = jobExitCode(job) != ExitOk || job.report.status == ReaderStatus::Skipped;
            if (!emit(failed ? stderr : stdout, reportText(context, job)) && !failed) {
                recordFailed = true;
                context.lostRecords.push_back("standard output: the line of " + escapedText(job.port) + " (" +
                                              jobStatusName(job) + ") is lost");
            }
        }
    };
    std::atomic<std::size_t> next(0);
    auto worker = [&]() {
        for (;;) {
            std::size_t i = next++;
            if (i >= jobs.size())
                return;
            serveJob(context, jobs[i]);
            finish(i);
        }
    };
    // Each port served at once holds a file open: no more at once than the
    // process may open, so that every port gets its turn.
    std::size_t threads = o.jobs > 0 ? static_cast<std::size_t>(o.jobs) : jobs.size();
    threads = std::min(threads, jobs.size());
    threads = std::max<std::size_t>(1, std::min<std::size_t>(threads, static_cast<std::size_t>(openFileBudget())));
    std::vector<std::thread> pool;
    for (std::size_t t = 1; t < threads; ++t) {
        try {
            pool.emplace_back(worker);
        } catch (const std::system_error &) {
            break;  // the threads running serve the rest
        }
    }
    worker();
    for (std::thread &t : pool)
        t.join();

    if (!anyReported(jobs))
        emit(stderr, std::string("velmora-cli: no ") + readerProductName(context.kind) + " reader on any of the " +
                         std::to_string(jobs.size()) + " ports\n");
    if (o.json) {
        json results = json::array();
        for (const PortJob &job : jobs) {
            results.push_back(recordJson(context, job));
            if (!quietlyEmpty(job) && jobExitCode(job) != ExitOk && !job.report.error.empty())
                emit(stderr, escapedText(job.port) + ": " + escapedText(job.report.error) + "\n");
        }
        if (!emit(stdout, dumpJson(json{{"results", results}}, 2) + "\n"))
            loseRecord(context, std::string("standard output: the JSON document is lost: ") + std::strerror(errno));
    } else {
        emit(stderr, "velmora-cli: " + summaryLine(jobs) + "\n");
    }
    int saveCode = ExitOk;
    if (!o.savePath.empty() && !stopSignal && !recordFailed)
        saveRead(context, jobs, saveCode);
    if (context.tracing && context.trace.failed())
        context.lostRecords.push_back(o.tracePath + ": the trace is incomplete: " + context.trace.failure());
    for (const std::string &lost : context.lostRecords)
        emit(stderr, "velmora-cli: " + lost + "\n");
    // Only now: a record may have been lost, or a signal come (a closed
    // pipe), while the results were written.
    RunEnd end;
    end.stopSignal = stopSignal;
    end.recordLost = !context.lostRecords.empty();
    int code = std::max(saveCode, runExitCode(jobs, end));
    if (int number = stopSignal.load())
        emit(stderr, "velmora-cli: stopped by " + std::string(number == SIGINT ? "Ctrl-C" : "signal " + std::to_string(number)) +
                         ": the ports written were finished" + (context.log.isOpen() ? " and logged" : "") +
                         ", the others skipped\n");
    return code;
}

int listPorts(const Options &o)
{
    std::vector<PortInfo> ports = systemPorts();
    if (o.json) {
        json list = json::array();
        for (const PortInfo &info : ports) {
            json port;
            putName(port, "name", info.name);
            port["vid"] = info.vendorId >= 0 ? json(hex4(info.vendorId)) : json(nullptr);
            port["pid"] = info.productId >= 0 ? json(hex4(info.productId)) : json(nullptr);
            port["serial"] = info.serialNumber.empty() ? json(nullptr) : json(info.serialNumber);
            port["description"] = info.tarvikUsb ? json(TarvikUsbDescription) : json(nullptr);
            list.push_back(port);
        }
        if (!emit(stdout, dumpJson(json{{"ports", list}}, 2) + "\n")) {
            emit(stderr, std::string("velmora-cli: standard output: the port list is lost: ") + std::strerror(errno) + "\n");
            return ExitRecordLost;
        }
        return ExitOk;
    }
    if (ports.empty())
        emit(stderr, "velmora-cli: the system has no serial port\n");
    std::string text;
    for (const PortInfo &info : ports) {
        std::string line = escapedText(info.name);
        if (info.vendorId >= 0)
            line += "  USB " + hex4(info.vendorId) + ":" + hex4(info.productId);
        if (info.tarvikUsb)
            line += std::string("  ") + TarvikUsbDescription;
        if (!info.serialNumber.empty())
            line += "  serial " + escapedText(info.serialNumber);
        text += line + "\n";
    }
    if (!emit(stdout, text)) {
        emit(stderr, std::string("velmora-cli: standard output: the port list is lost: ") + std::strerror(errno) + "\n");
        return ExitRecordLost;
    }
    return ExitOk;
}

// The settings and their values, from the table, for --help.
std::string settingsHelp()
{
    std::string text = "Settings of a profile and of --set KEY=VALUE:\n";
    for (ReaderType kind : {ReaderType::Lnx, ReaderType::Usb}) {
        text += std::string("  ") + readerKindName(kind) + " (" + readerProductName(kind) + "):\n";
        for (int f = 0; f < settingFieldCount(kind); ++f) {
            const SettingField &field = settingField(kind, f);
            text += std::string("    ") + field.key + " ";
            for (int v = 0; v < field.valueCount; ++v)
                text += std::string(v ? "|" : "") + field.values[v].name;
            text += "\n";
        }
    }
    return text + exitCodeHelp();
}

int usage(const std::string &message)
{
    emit(stderr, "velmora-cli: " + message + "\n");
    return ExitUsage;
}

}  // namespace

int main(int argc, char **argv)
{
    Context context;
    Options &o = context.options;

    CLI::App app{"velmora-cli: read, apply and verify the settings of Tarvik readers"};
    app.require_subcommand(1);
    app.set_version_flag("--version", "velmora-cli " VELMORA_VERSION_TEXT);
    app.footer(settingsHelp());

    auto addTarget = [&o](CLI::App *command) {
        command->add_option("--port", o.ports, "the reader's serial port (repeatable)")
            ->allow_extra_args(false);
        command->add_flag("--all", o.all, "every reader of the kind the system has");
        command->add_option("--timeout", o.timeoutMs, "milliseconds to wait for a reply (default 1000)")
            ->check(CLI::Validator(
                [](std::string &value) -> std::string {
                    bool digits = !value.empty() && value.size() <= 6 &&
                                  value.find_first_not_of("0123456789") == std::string::npos;
                    if (digits && std::stol(value) >= 1 && std::stol(value) <= MaxTimeoutMs)
                        return "";
                    return "a number of milliseconds from 1 to " + std::to_string(MaxTimeoutMs) + " is needed, not \"" +
                           value + "\"";
                },
                "MS"));
        command->add_option("--jobs", o.jobs, "ports served at once (default: all)")->check(CLI::Range(1, 1024));
        command->add_option("--trace", o.tracePath, "every byte exchanged, to FILE");
        command->add_flag("--json", o.json, "one JSON document on stdout");
    };

    CLI::App *ports = app.add_subcommand("ports", "list the serial ports");
    ports->add_flag("--json", o.json, "one JSON document on stdout");
    ports->callback([&o]() { o.command = Command::Ports; });

    CLI::App *read = app.add_subcommand("read", "read the settings of readers");
    read->add_option("--kind", o.kindName, "lnx (Tarvik-LNA_LNB) or usb (Tarvik-USB)")
        ->required()
        ->check(CLI::IsMember({"lnx", "usb"}));
    read->add_option("--save", o.savePath, "write the settings read as a profile to FILE");
    addTarget(read);
    read->callback([&o]() { o.command = Command::Read; });

    CLI::App *apply = app.add_subcommand("apply", "write a profile to readers and read it back");
    apply->footer(settingsHelp());
    apply->add_option("PROFILE", o.profilePath, "the profile (JSON)")->required();
    apply->add_option("--set", o.overrides, "KEY=VALUE over the profile (repeatable)")
        ->allow_extra_args(false);
    apply->add_flag("--dry-run", o.dryRun, "read and compare, write nothing");
    apply->add_option("--log", o.logPath, "append one JSON line per reader to FILE");
    addTarget(apply);
    apply->callback([&o]() { o.command = Command::Apply; });

    CLI::App *verify = app.add_subcommand("verify", "compare readers with a profile");
    verify->add_option("PROFILE", o.profilePath, "the profile (JSON)")->required();
    verify->add_option("--log", o.logPath, "append one JSON line per reader to FILE");
    addTarget(verify);
    verify->callback([&o]() { o.command = Command::Verify; });

    try {
        app.parse(argc, argv);
    } catch (const CLI::ExtrasError &) {
        // Named in the order given, with the command that does not take them.
        std::string extras;
        for (const std::string &word : app.remaining(true))
            extras += (extras.empty() ? "" : " ") + word;
        CLI::App *command = app.get_subcommands().empty() ? &app : app.get_subcommands().front();
        return usage(std::string(command == &app ? "" : command->get_name() + " ") + "does not take " + extras +
                     " (see velmora-cli " + (command == &app ? "" : command->get_name() + " ") + "--help)");
    } catch (const CLI::ParseError &e) {
        if (e.get_exit_code() == 0)
            return app.exit(e);
        app.exit(e);
        return ExitUsage;
    }

    if (o.command == Command::Ports)
        return listPorts(o);

    if (o.all == !o.ports.empty())
        return usage("name the readers' ports with --port, or give --all (not both)");
    for (const std::string &port : o.ports)
        if (port.empty())
            return usage("--port \"\": a port needs a name (/dev/ttyUSB0, COM3)");

    // Everything that can fail without a reader fails here, before any port
    // is opened.
    if (o.command == Command::Read) {
        readerKindFromName(o.kindName, context.kind);
    } else {
        std::string error;
        std::string text;
        if (!loadProfile(o.profilePath, context.profile, error, &text))
            return usage(error);
        context.profileSha256 = sha256Hex(text);
        for (const std::string &assignment : o.overrides)
            if (!applyOverride(assignment, context.profile, error))
                return usage(error);
        context.kind = context.profile.kind;
    }
    // No file the run writes may be another it writes or the profile it
    // reads: a trace over the log or the profile would destroy them.
    const std::pair<const char *, const std::string *> files[] = {
        {"the profile", &o.profilePath}, {"--log", &o.logPath}, {"--save", &o.savePath}, {"--trace", &o.tracePath}};
    for (std::size_t a = 0; a < 4; ++a)
        for (std::size_t b = a + 1; b < 4; ++b)
            if (!files[a].second->empty() && !files[b].second->empty() && sameFile(*files[a].second, *files[b].second))
                return usage(std::string(files[b].first) + " " + *files[b].second + ": the same file as " +
                             files[a].first + (a ? "" : " read") + ": give each its own file");
    // The log only appends and the profile is written at the end; the trace
    // starts a new file, so it is opened last, when nothing else can fail.
    if (!o.logPath.empty()) {
        std::string error;
        if (!context.log.open(o.logPath, error))
            return usage(o.logPath + ": the provisioning log cannot be opened for appending: " + error);
    }
    if (!o.savePath.empty()) {
        std::string error;
        if (pathKind(o.savePath) == PathKind::Other)
            return usage(o.savePath + ": not a regular file: --save writes only a regular file or a new one");
        if (!canWriteBeside(o.savePath, error))
            return usage(o.savePath + ": the profile cannot be written there: " + error);
    }
    if (!o.tracePath.empty()) {
        if (!context.trace.open(o.tracePath))
            return usage(o.tracePath + ": the trace file cannot be written: " + std::strerror(errno));
        context.tracing = true;
        std::string commandLine;
        for (int i = 0; i < argc; ++i)
            commandLine += std::string(i ? " " : "") + argv[i];
        context.trace.note("velmora-cli " VELMORA_VERSION_TEXT ", " + utcTimestamp() + ": " + commandLine);
        context.trace.note("time-out " + std::to_string(o.timeoutMs) + " ms");
    }
    context.host = hostName();
    context.runId = newRunId();

    raiseOpenFileLimit();
    catchStopSignals(&stopSignal, &stopping, "velmora-cli: stopped at once by a second signal: a reader being written may "
                                  "be left without its record\n");
    return runReaders(context);
}
