#include "PtyPair.h"

#include <fcntl.h>
#include <pty.h>
#include <termios.h>

PtyPair::PtyPair() {
  termios raw{};
  cfmakeraw(&raw);
  raw.c_cflag |= CLOCAL | CREAD;
  cfsetspeed(&raw, B9600);
  char name[256] = {};
  if (openpty(&master_, &slave_, name, &raw, nullptr) != 0) master_ = slave_ = -1;
  fcntl(master_, F_SETFD, FD_CLOEXEC);
  fcntl(slave_, F_SETFD, FD_CLOEXEC);
  slavePath_ = name;
}
