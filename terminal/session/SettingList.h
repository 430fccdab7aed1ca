#pragma once
// TSettingList holds the lines of "Kelterm.ini": ten modem lines, then ten
// lines per phone-book entry. A value's meaning is its line number; lines are
// kept as the bytes the file holds (Shift-JIS text), so a file written by
// another copy of the program, or one holding bytes that are no valid text,
// goes back to disk exactly as it came.
//
// Plain data, no threads: the window owns one and uses it on its own thread.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

class TSettingList {
 public:
  static constexpr size_t kModemLines = 10;
  static constexpr size_t kEntryLines = 10;

  // The ten lines of a new file: port 1, 38400 bit/s, "ATD", "ATZ", and six
  // empty lines.
  static TSettingList Defaults();
  // Lines end at CR LF, CR or LF; a last line without an end is a line, and
  // a final line end adds no empty line. A file too short for the modem
  // block is completed with the defaults in memory only.
  static TSettingList FromBytes(std::string_view bytes);
  // Every line followed by CR LF. Completion lines that still hold their
  // default are left out, so a short file is written back as it was read.
  std::string ToBytes() const;

  size_t size() const { return Lines.size(); }
  // The line, or an empty one past the end.
  const std::string& Line(size_t index) const;

  // Phone-book entries: none below two full groups' worth of lines.
  int EntryCount() const;
  // Line 0 as a port number 1..4; an unreadable number gives 1.
  int PortNumber() const;
  // Line 1 as a line speed; an unreadable number gives 38400.
  int Speed() const;
  // The device line of COM1..COM4 (lines 4 to 7); empty means the default.
  const std::string& DevicePath(int port) const;

  std::vector<std::string> Lines;

 private:
  size_t storedLines_ = 0;  // lines that came from the file
};

// A decimal number with optional surrounding spaces and sign, or fallback
// when the text is no such number or does not fit 32 bits.
int ParseNumber(std::string_view text, int fallback);
int ParsePortNumber(std::string_view text);  // clamped to 1..4, else 1
int ParseSpeed(std::string_view text);       // else 38400
