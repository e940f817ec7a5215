// velmora-cli: read, apply and verify reader settings from the command line,
// many readers at once.
#include <algorithm>
#include <atomic>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <thread>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "cli/drive.h"
#include "cli/profile.h"
#include "cli/trace.h"
#include "protocol/usb_ids.h"
#include "serial/line.h"

#ifndef _WIN32
#include <unistd.h>
#endif

using json = nlohmann::ordered_json;

namespace {

constexpr int ExitOk = 0;
constexpr int ExitUsage = 2;
constexpr int ExitNoReader = 3;
constexpr int ExitWrongReader = 4;
constexpr int DefaultTimeoutMs = 1000;
constexpr char TarvikUsbDescription[] = "Tarvik-USB reader";

// Set by Ctrl-C: the ports in progress finish, the rest are skipped.
std::atomic<bool> interrupted(false);

extern "C" void onInterrupt(int)
{
    interrupted = true;
    // A second Ctrl-C ends the program at once.
    std::signal(SIGINT, SIG_DFL);
}

enum class Command { Ports, Read, Apply, Verify };

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

struct PortJob {
    std::string port;
    std::string serialNumber;
    bool probed = false;  // found by --all probing rather than named
    LineError openError = LineError::None;  // why the port did not open
    ReaderReport report;
};

// One name for one device: "ttyUSB0" and "/dev/ttyUSB0" (or a link to it)
// are the same port, as are "com3" and "COM3". Two jobs on one port would
// only find each other holding it.
std::string portIdentity(const std::string &port)
{
    std::string identity = port;
#ifdef _WIN32
    for (char &c : identity)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
#else
    if (identity.find('/') == std::string::npos)
        identity = "/dev/" + identity;
    if (char *resolved = realpath(identity.c_str(), nullptr)) {
        identity = resolved;
        std::free(resolved);
    }
#endif
    return identity;
}

bool isTarvikUsb(const PortInfo &info)
{
    return info.vendorId == TarvikUsbVendorId && info.productId == TarvikUsbProductId;
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

std::string hex4(int id)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(id) & 0xFFFFu);
    return text;
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

json recordJson(const PortJob &job)
{
    const ReaderReport &r = job.report;
    json record;
    record["port"] = job.port;
    record["kind"] = readerKindName(r.kind);
    record["firmware"] = r.firmware.empty() ? json(nullptr) : json(r.firmware);
    record["status"] = readerStatusName(r.status);
    record["before"] = r.hasBefore ? settingsJson(r.before) : json(nullptr);
    record["after"] = r.hasAfter ? settingsJson(r.after) : json(nullptr);
    record["error"] = r.error.empty() ? json(nullptr) : json(r.error);
    if (!job.serialNumber.empty())
        record["serial"] = job.serialNumber;
    return record;
}

std::string hostName()
{
#ifdef _WIN32
    const char *name = std::getenv("COMPUTERNAME");
    return name ? name : "";
#else
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0)
        return "";
    return name;
#endif
}

// --log: one JSON line per reader, appended; earlier lines are never touched.
class ProvisioningLog {
public:
    ~ProvisioningLog()
    {
        if (file_)
            std::fclose(file_);
    }
    bool open(const std::string &path)
    {
        file_ = std::fopen(path.c_str(), "ab");
        return file_ != nullptr;
    }
    bool isOpen() const { return file_ != nullptr; }
    void append(const PortJob &job)
    {
        json line = recordJson(job);
        line["time"] = utcTimestamp();
        line["host"] = hostName();
        line["serial"] = job.serialNumber.empty() ? json(nullptr) : json(job.serialNumber);
        std::string text = line.dump() + "\n";
        std::lock_guard<std::mutex> hold(lock_);
        std::fwrite(text.data(), 1, text.size(), file_);
        std::fflush(file_);
    }

private:
    std::mutex lock_;
    std::FILE *file_ = nullptr;
};

struct Context {
    Options options;
    ReaderType kind = ReaderType::Lnx;
    SettingsValues profile;
    TraceFile trace;
    bool tracing = false;
    ProvisioningLog log;
    std::mutex outputLock;
};

void runJob(Context &context, PortJob &job)
{
    const Options &o = context.options;
    LineStatus status;
    std::unique_ptr<SerialLine> line = openSerialLine(job.port, status);
    if (!line) {
        job.report.kind = context.kind;
        job.report.status = ReaderStatus::NoReader;
        job.report.error = status.message;
        job.openError = status.error;
        return;
    }
    if (context.tracing)
        line.reset(new TracingLine(std::move(line), context.trace, job.port));
    switch (o.command) {
    case Command::Apply: job.report = applyProfile(*line, context.profile, o.timeoutMs, o.dryRun, &interrupted); break;
    case Command::Verify: job.report = verifyProfile(*line, context.profile, o.timeoutMs, &interrupted); break;
    default: job.report = readReader(*line, context.kind, o.timeoutMs, &interrupted); break;
    }
}

// A port probed by --all that holds no reader of the kind is not a failure.
// One that could not be asked (no permission, held by another program) may
// hold a reader: that is reported like a named port.
bool quietlyEmpty(const PortJob &job)
{
    if (!job.probed)
        return false;
    if (job.report.status == ReaderStatus::NoReader)
        return job.openError != LineError::PermissionDenied && job.openError != LineError::Busy;
    return job.report.status == ReaderStatus::WrongReader && job.report.firmware.empty();
}

void reportText(Context &context, const PortJob &job)
{
    const ReaderReport &r = job.report;
    std::string line = job.port + ": " + readerStatusName(r.status);
    if (!r.firmware.empty() && r.status != ReaderStatus::WrongReader)
        line += " " + std::string(readerKindName(r.kind)) + " firmware " + r.firmware;
    bool failed = readerStatusExitCode(r.status) != 0;
    if (context.options.command == Command::Apply && context.options.dryRun && r.status == ReaderStatus::Read) {
        line += ": holds " + settingsText(r.before) + "; would write " + settingsText(context.profile);
    } else if (r.hasAfter) {
        line += ": " + settingsText(r.after);
    } else if (r.hasBefore) {
        line += ": " + settingsText(r.before);
    }
    if (!r.error.empty())
        line += (r.hasBefore || r.hasAfter ? "; " : ": ") + r.error;
    std::lock_guard<std::mutex> hold(context.outputLock);
    (failed ? std::cerr : std::cout) << line << std::endl;
}

int runReaders(Context &context)
{
    const Options &o = context.options;
    std::vector<PortJob> jobs;
    if (o.all) {
        for (const PortInfo &info : systemPorts()) {
            bool usb = isTarvikUsb(info);
            // The Usb reader is found by its ids; Lnx readers by asking.
            if (context.kind == ReaderType::Usb && !usb)
                continue;
            PortJob job;
            job.port = info.name;
            job.serialNumber = info.serialNumber;
            job.probed = context.kind == ReaderType::Lnx;
            jobs.push_back(job);
        }
    } else {
        std::vector<PortInfo> known = o.ports.empty() ? std::vector<PortInfo>() : listSerialPorts();
        for (const std::string &port : o.ports) {
            PortJob job;
            job.port = port;
            for (const PortInfo &info : known)
                if (info.name == port || info.name == "/dev/" + port)
                    job.serialNumber = info.serialNumber;
            jobs.push_back(job);
        }
    }
    // The same port named twice is asked once.
    std::vector<std::string> seen;
    jobs.erase(std::remove_if(jobs.begin(), jobs.end(),
                              [&seen](const PortJob &job) {
                                  std::string identity = portIdentity(job.port);
                                  if (std::find(seen.begin(), seen.end(), identity) != seen.end())
                                      return true;
                                  seen.push_back(identity);
                                  return false;
                              }),
               jobs.end());
    if (jobs.empty()) {
        std::cerr << "velmora-cli: no " << readerProductName(context.kind) << " reader: "
                  << (context.kind == ReaderType::Usb ? "no port with the USB ids 2E3C:5750"
                                                      : "the system has no serial port")
                  << std::endl;
        if (o.json)
            std::cout << json{{"results", json::array()}}.dump(2) << std::endl;
        return ExitNoReader;
    }
    for (PortJob &job : jobs)
        job.report.kind = context.kind;

    std::size_t threads = o.jobs > 0 ? static_cast<std::size_t>(o.jobs) : jobs.size();
    threads = std::min(threads, jobs.size());
    std::atomic<std::size_t> next(0);
    auto worker = [&]() {
        for (;;) {
            std::size_t i = next++;
            if (i >= jobs.size())
                return;
            PortJob &job = jobs[i];
            if (interrupted) {
                job.report.status = ReaderStatus::Skipped;
                job.report.error = "interrupted before this port was touched";
            } else {
                runJob(context, job);
            }
            if (context.log.isOpen() && !quietlyEmpty(job) && job.report.status != ReaderStatus::Skipped)
                context.log.append(job);
            if (!o.json && !quietlyEmpty(job))
                reportText(context, job);
        }
    };
    std::vector<std::thread> pool;
    for (std::size_t t = 1; t < threads; ++t)
        pool.emplace_back(worker);
    worker();
    for (std::thread &t : pool)
        t.join();

    int code = ExitOk;
    bool anyReader = false;
    json results = json::array();
    for (const PortJob &job : jobs) {
        if (quietlyEmpty(job)) {
            results.push_back(recordJson(job));
            continue;
        }
        anyReader = true;
        code = std::max(code, readerStatusExitCode(job.report.status));
        if (o.json)
            results.push_back(recordJson(job));
        if (o.json && readerStatusExitCode(job.report.status) != 0 && !job.report.error.empty())
            std::cerr << job.port << ": " << job.report.error << std::endl;
    }
    if (!anyReader) {
        std::cerr << "velmora-cli: no " << readerProductName(context.kind) << " reader on any of the "
                  << jobs.size() << " ports" << std::endl;
        code = ExitNoReader;
    }
    if (o.json)
        std::cout << json{{"results", results}}.dump(2) << std::endl;

    if (!o.savePath.empty()) {
        const PortJob *source = nullptr;
        for (const PortJob &job : jobs)
            if (job.report.status == ReaderStatus::Read && source == nullptr)
                source = &job;
        std::string error;
        if (source == nullptr) {
            std::cerr << "velmora-cli: " << o.savePath << ": not saved: no reader was read" << std::endl;
        } else if (!saveProfile(o.savePath, source->report.before, error)) {
            std::cerr << "velmora-cli: " << error << std::endl;
            // Settings this program cannot name make the reader one it does
            // not support; otherwise the file could not be written.
            code = std::max(code, settingsComplete(source->report.before) ? ExitUsage : ExitWrongReader);
        }
    }
    return code;
}

int listPorts(const Options &o)
{
    std::vector<PortInfo> ports = systemPorts();
    if (o.json) {
        json list = json::array();
        for (const PortInfo &info : ports) {
            json port;
            port["name"] = info.name;
            port["vid"] = info.vendorId >= 0 ? json(hex4(info.vendorId)) : json(nullptr);
            port["pid"] = info.productId >= 0 ? json(hex4(info.productId)) : json(nullptr);
            port["serial"] = info.serialNumber.empty() ? json(nullptr) : json(info.serialNumber);
            port["description"] = isTarvikUsb(info) ? json(TarvikUsbDescription) : json(nullptr);
            list.push_back(port);
        }
        std::cout << json{{"ports", list}}.dump(2) << std::endl;
        return ExitOk;
    }
    if (ports.empty())
        std::cerr << "velmora-cli: the system has no serial port" << std::endl;
    for (const PortInfo &info : ports) {
        std::string line = info.name;
        if (info.vendorId >= 0)
            line += "  USB " + hex4(info.vendorId) + ":" + hex4(info.productId);
        if (isTarvikUsb(info))
            line += std::string("  ") + TarvikUsbDescription;
        if (!info.serialNumber.empty())
            line += "  serial " + info.serialNumber;
        std::cout << line << std::endl;
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
    text += "Exit status: 0 read, unchanged or verified; 2 usage or invalid profile (nothing sent); 3 no reader;\n"
            "4 wrong or unsupported reader (nothing written); 5 write refused or read-back differs; 6 link lost\n"
            "after the write (state unknown: run verify); 130 interrupted. Several ports: the highest.";
    return text;
}

int usage(const std::string &message)
{
    std::cerr << "velmora-cli: " << message << std::endl;
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
            ->check(CLI::Range(1, 600000));
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

    // Everything that can fail without a reader fails here, before any port
    // is opened.
    if (o.command == Command::Read) {
        readerKindFromName(o.kindName, context.kind);
    } else {
        std::string error;
        if (!loadProfile(o.profilePath, context.profile, error))
            return usage(error);
        for (const std::string &assignment : o.overrides)
            if (!applyOverride(assignment, context.profile, error))
                return usage(error);
        context.kind = context.profile.kind;
    }
    // The log only appends and the profile is written at the end; the trace
    // starts a new file, so it is opened last, when nothing else can fail.
    if (!o.logPath.empty() && !context.log.open(o.logPath))
        return usage(o.logPath + ": the provisioning log cannot be opened for appending");
    if (!o.savePath.empty()) {
        // The profile is written beside its name and renamed over it.
        const std::string probe = o.savePath + ".tmp";
        std::FILE *file = std::fopen(probe.c_str(), "wb");
        if (file == nullptr)
            return usage(o.savePath + ": the profile cannot be written there");
        std::fclose(file);
        std::remove(probe.c_str());
    }
    if (!o.tracePath.empty()) {
        if (!context.trace.open(o.tracePath))
            return usage(o.tracePath + ": the trace file cannot be written");
        context.tracing = true;
    }

    std::signal(SIGINT, onInterrupt);
    return runReaders(context);
}
