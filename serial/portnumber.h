// The number in a port name such as "COM12", for ordering the port list.
// Plain C++: no Windows headers, so it builds and is tested natively.
#ifndef VELMORA_SERIAL_PORTNUMBER_H
#define VELMORA_SERIAL_PORTNUMBER_H

// The decimal number that begins at the fourth character, read as atoi reads
// it (leading white space, an optional sign, the leading digits; 0 when there
// are none) but saturated at INT_MAX / INT_MIN instead of overflowing.
// A name shorter than three characters, or a null pointer, gives 0.
int parsePortNumber(const char *name);

#endif
