#pragma once
// What a key typed on the terminal screen sends: the bytes a terminal
// keyboard gives, in Shift-JIS. The window translates its toolkit's key
// events into TKeyStroke; the rule itself knows no toolkit.

#include <string>

// Character keys are their ASCII code (letters upper case, 0xA5 for the yen
// key); the keys below are the ones with a rule of their own.
enum TKeyCode : int {
  kKeyNone = 0,
  kKeyYen = 0xA5,
  kKeyEscape = 0x100,
  kKeyTab,
  kKeyBacktab,
  kKeyBackspace,
  kKeyReturn,
  kKeyEnter,
  kKeyDelete,
  kKeyOther,  // any other key without a character of its own
};

struct TKeyStroke {
  int Key = kKeyNone;
  bool Ctrl = false;
  bool AltOrMeta = false;
  std::string Text;  // the character the key types, UTF-8
};

constexpr char kEscapeByte = 0x1B;

// The bytes of one key; empty for a key that types nothing (arrows,
// function keys, Delete, Alt and Meta combinations, Ctrl with a key that
// has no control code).
std::string KeyBytes(const TKeyStroke& stroke);
