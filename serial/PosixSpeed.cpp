// Line speeds that have no B-constant go through the kernel's termios2 and
// BOTHER. That header redefines struct termios, so it cannot share a
// translation unit with <termios.h>: these functions live apart and speak
// only in descriptors and numbers.

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cstdint>

// Reads the line's output speed in bits per second; custom is true when the
// line holds it as a number (BOTHER) rather than a B-constant.
bool ReadLineSpeed(int fd, uint32_t* speed, bool* custom) {
  struct termios2 t {};
  if (ioctl(fd, TCGETS2, &t) != 0) return false;
  *speed = t.c_ospeed;
  *custom = (t.c_cflag & CBAUD) == BOTHER;
  return true;
}

// Sets both directions to speed bits per second, leaving every other setting
// as the line holds it.
bool WriteCustomLineSpeed(int fd, uint32_t speed) {
  struct termios2 t {};
  if (ioctl(fd, TCGETS2, &t) != 0) return false;
  t.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));  // input follows output
  t.c_cflag |= BOTHER;
  t.c_ispeed = speed;
  t.c_ospeed = speed;
  return ioctl(fd, TCSETS2, &t) == 0;
}
