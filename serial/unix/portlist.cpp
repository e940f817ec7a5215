// Serial ports from sysfs, with their USB ids, without libudev.
#include "serial/unix/portlist.h"

#include "protocol/usb_ids.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <sys/stat.h>

namespace {

bool exists(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

std::string firstLine(const std::string &path)
{
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
        line.pop_back();
    return line;
}

int hexId(const std::string &text)
{
    if (text.empty() || text.size() > 4 || text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        return -1;
    return static_cast<int>(std::strtol(text.c_str(), nullptr, 16));
}

std::string parentOf(const std::string &path)
{
    std::string::size_type slash = path.find_last_of('/');
    return slash == std::string::npos || slash == 0 ? std::string() : path.substr(0, slash);
}

// "ttyUSB10" after "ttyUSB9": the name part, then the number.
bool byName(const PortInfo &a, const PortInfo &b)
{
    auto split = [](const std::string &s) {
        std::string::size_type digits = s.find_last_not_of("0123456789") + 1;
        long number = digits < s.size() ? std::strtol(s.c_str() + digits, nullptr, 10) : -1;
        return std::make_pair(s.substr(0, digits), number);
    };
    return split(a.name) < split(b.name);
}

}  // namespace

std::string devicePath(const std::string &name)
{
    return name.find('/') == std::string::npos ? "/dev/" + name : name;
}

std::vector<PortInfo> listSerialPortsUnder(const std::string &root)
{
    std::vector<PortInfo> ports;
    const std::string classDir = root + "/sys/class/tty";
    DIR *dir = opendir(classDir.c_str());
    if (dir == nullptr)
        return ports;
    while (dirent *entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        const std::string ttyDir = classDir + "/" + name;
        // Virtual terminals, ptys and the console have no device behind them.
        if (!exists(ttyDir + "/device"))
            continue;
        // The legacy 8250 driver registers ports that are not there: their
        // type is 0 (unknown).
        if (exists(ttyDir + "/type") && firstLine(ttyDir + "/type") == "0")
            continue;
        PortInfo info;
        info.name = devicePath(name);
        char resolved[PATH_MAX];
        if (realpath((ttyDir + "/device").c_str(), resolved) != nullptr) {
            // The USB device is the first ancestor with idVendor: the
            // interface's parent for ttyACM, one more up for ttyUSB.
            std::string at = resolved;
            for (int up = 0; up < 4 && !at.empty(); ++up, at = parentOf(at)) {
                if (exists(at + "/idVendor") && exists(at + "/idProduct")) {
                    info.vendorId = hexId(firstLine(at + "/idVendor"));
                    info.productId = hexId(firstLine(at + "/idProduct"));
                    if (info.vendorId < 0 || info.productId < 0)
                        info.vendorId = info.productId = -1;
                    else
                        info.serialNumber = firstLine(at + "/serial");
                    // The kernel reports the ids as numbers: the ids are
                    // the whole rule here.
                    info.tarvikUsb = info.vendorId == TarvikUsbVendorId && info.productId == TarvikUsbProductId;
                    break;
                }
            }
        }
        ports.push_back(info);
    }
    closedir(dir);
    std::sort(ports.begin(), ports.end(), byName);
    return ports;
}

std::vector<PortInfo> listSerialPorts()
{
    return listSerialPortsUnder("");
}
