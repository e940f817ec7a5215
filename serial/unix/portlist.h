// The Linux port list over any sysfs tree: tests point it at a fake one.
#ifndef VELMORA_SERIAL_UNIX_PORTLIST_H
#define VELMORA_SERIAL_UNIX_PORTLIST_H

#include <string>
#include <vector>

#include "serial/line.h"

// The device a port name names: "ttyUSB0" is /dev/ttyUSB0; a name with a
// "/" is a path as it stands.
std::string devicePath(const std::string &name);

// The ttys under `root`/sys/class/tty that have a device behind them, named
// /dev/<name>, with the USB ids and serial number of the USB device they
// belong to.
std::vector<PortInfo> listSerialPortsUnder(const std::string &root);

#endif
