// unix_streamserial: the stream over a serial line, configured through termios.
#ifndef KESTRELON2_UNIX_UNIX_STREAMSERIAL_H
#define KESTRELON2_UNIX_UNIX_STREAMSERIAL_H

#include <cstdint>

#include "Kestrelon2/common/aStream.h"

// Line speeds by code: 0 2400, 1 4800, 2 9600, 3 19200, 4 38400, 5 57600, 6 115200, 7 230400;
// any other code sets speed 0.
// Opens portPath and configures it raw: parity 0 none / non-zero even; dataBits 0 eight / 1
// seven; stopBits 0 one / 1 two. Returns a stream with get, put, write, wait and delete.
// aErrResource for a null path or out pointer, a selector above 1 or short memory;
// aErrNotFound, aErrPermission or aErrIO when the line cannot be opened or configured.
// *stream is null on every failure. get returns at once (aErrNotReady when no byte waits) and
// reports a hung-up line as aErrIO; wait blocks until a byte or a hang-up is there.
aErr aStream_CreateSerial(const char* portPath, uint32_t speedCode, uint8_t parity,
                          uint8_t dataBits, uint8_t stopBits, aStream** stream);

#endif
