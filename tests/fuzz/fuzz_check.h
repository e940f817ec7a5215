// Checks shared by the fuzz targets. A failed check prints what broke and
// aborts, which libFuzzer records as a finding with the input that did it.
#ifndef VELMORA_TESTS_FUZZ_FUZZ_CHECK_H
#define VELMORA_TESTS_FUZZ_FUZZ_CHECK_H

#include "protocol/wire.h"

void check(bool condition, const char *what);

// Decodes the payload (LnxPayloadLength or UsbPayloadLength readable bytes),
// encodes the record and decodes the command's letters again: every field
// recognised must come back as the payload's own letters, every field not
// recognised must really be outside the table, and the second decoding must
// recognise everything.
void checkLnxPayload(const unsigned char *payload);
void checkUsbPayload(const unsigned char *payload);

#endif
