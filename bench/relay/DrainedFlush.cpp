// Preloaded into lrzsz when it runs on the relay's pseudo-terminal. On a
// serial port lrzsz's closing tcdrain waits until its last bytes (the "OO"
// after ZFIN) are on the wire, so the tcflush that follows finds nothing to
// drop. A pseudo-terminal's tcdrain returns at once and the flush would
// take those bytes off the line before the relay carries them; here the
// flush leaves the output alone, as the serial port's drain would have.

#include <dlfcn.h>
#include <termios.h>

extern "C" int tcflush(int fd, int queue) {
  using Flush = int (*)(int, int);
  static const auto real = reinterpret_cast<Flush>(dlsym(RTLD_NEXT, "tcflush"));
  if (queue == TCOFLUSH) return 0;
  if (queue == TCIOFLUSH) queue = TCIFLUSH;
  return real ? real(fd, queue) : 0;
}
