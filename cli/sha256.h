// SHA-256 of a byte string, as 64 lower-case hex digits: names the exact
// profile a log line was written from.
#ifndef VELMORA_CLI_SHA256_H
#define VELMORA_CLI_SHA256_H

#include <string>

std::string sha256Hex(const std::string &bytes);

#endif
