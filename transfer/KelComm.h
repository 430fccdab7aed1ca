#pragma once
// TKELCOMM is the serial port component extended with file transfer: the one
// object through which the terminal window talks to the line. This file holds
// the class itself, its status record and the protocol names; the engine that
// runs a transfer on its worker thread fills the fields.
//
// Threading. TranMode, TranResult, CancelFlag and Protocol are atomics: the
// window's thread, the watcher and the transfer worker each read what another
// writes. The status record's counters are atomics too, and its three texts
// are published whole under a lock, so a reader on another thread gets either
// the old or the new text, never a freed or half-written one.

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Comm.h"
#include "TranTimes.h"

enum protType : uint8_t {
  pr_XMODEM_SUM_128,
  pr_XMODEM_CRC_128,
  pr_XMODEM_CRC_1024,
  pr_YMODEM,
  pr_YMODEM_G,
  pr_ZMODEM,
  pr_MLINK
};
constexpr int kProtocolCount = 7;

// Display names indexed by protType: the protocol combo's items and the
// progress dialog's caption.
extern const std::array<const char*, kProtocolCount> ProtocolNames;

// The value a stored form omits for Protocol (its declared default).
constexpr protType kProtocolStoredDefault = pr_ZMODEM;

// A text written by one thread and read by others.
class PublishedText {
 public:
  std::string get() const {
    std::lock_guard lock(mutex_);
    return text_;
  }
  void set(std::string text) {
    std::lock_guard lock(mutex_);
    text_.swap(text);
  }
  void clear() { set(std::string()); }

 private:
  mutable std::mutex mutex_;
  std::string text_;
};

// The size a download shows until the sender has announced one.
constexpr int32_t kUnknownFileSize = 9999999;

struct TKelCommStatus {
  std::atomic<uint32_t> StartTick{0};  // tick count when the transfer started
  std::atomic<int32_t> FileSize{0};
  std::atomic<int32_t> TranSize{0};
  std::atomic<int32_t> ErrorCount{0};
  PublishedText FilePath;  // the local file
  PublishedText SendName;  // name announced to the receiver (uploads)
  PublishedText RecvName;  // name announced by the sender (downloads)
};

// A file to upload and the name to announce for it (Shift-JIS bytes; empty
// means the file-name part of Path).
struct TUploadFile {
  std::string Path;
  std::string Name;
};

// Protocols whose session carries several files, each under its own header.
constexpr bool CarriesBatches(protType protocol) {
  return protocol == pr_YMODEM || protocol == pr_YMODEM_G || protocol == pr_ZMODEM;
}

class TKelEngine;
class TKCommTran;

class TKELCOMM : public TComm {
 public:
  TKELCOMM();
  ~TKELCOMM() override;

  // False when the port is closed, without touching the device; otherwise
  // the modem's RLSD (carrier) and CTS, read from the device at each call.
  // LineReady ignores CTS where the flow control does not use it.
  bool CarrierOn() const;
  bool LineReady() const;

  // Start requests, from the owner's thread; they return at once. A request
  // that is refused (a transfer runs, the file is missing or empty) only sets
  // TranResult to 0. Path is a local path; Name, when given, is the name to
  // announce (Shift-JIS bytes); empty means the file-name part of Path.
  void StartUpload(const std::string& Path, const std::string& Name = std::string());
  void StartDownload(const std::string& Path);
  // Several files in one session, one after another (CarriesBatches
  // protocols; any other takes a single file). Refused like StartUpload, and
  // also when any of the files is missing or empty, so a batch never stops
  // half-way for a file that was never there.
  void StartUploads(const std::vector<TUploadFile>& Files);
  // Worker only: puts the batch's next file in Status and counts afresh;
  // false when the batch has no file left.
  bool NextUpload();
  // Asks the running transfer to stop: sets CancelFlag and wakes its waits.
  void RequestCancel();

  std::atomic<uint8_t> TranMode{0};    // 0 none, 1 upload, 2 download
  std::atomic<uint8_t> TranResult{0};  // 1 while good, 0 once failed
  TKelCommStatus Status;
  std::atomic<uint8_t> CancelFlag{0};
  // Set while no transfer runs; the worker reads it.
  TTranTimes Times;
  TCommNotifyRxTxEvent SavedReceive;  // the window's handler during a transfer
  // Hears each report of the modem lines after the engine has (see
  // TComm::LineState for when and on which thread); set before Open.
  std::function<void(uint32_t Modem)> OnLineState;
  std::atomic<protType> Protocol{pr_XMODEM_SUM_128};

  // The engine state of this component (its receive ring, check values,
  // block buffer); the worker's, open to inspection.
  TKelEngine& Engine() { return *engine_; }

 protected:
  // The engine hears the lines from the watcher, in order with the bytes.
  void DoLineState(uint32_t Modem) override;
  void DoClosing() override;

 private:
  friend class TKCommTran;
  uint32_t ModemBits() const;
  void JoinWorker();
  void Launch(uint8_t mode);

  std::unique_ptr<TKelEngine> engine_;
  std::unique_ptr<TKCommTran> worker_;  // the running or last transfer
  // The files after the current one; set before the worker starts and
  // taken by it alone.
  std::vector<TUploadFile> batchRest_;
};

// Milliseconds of the steady clock as a 32-bit tick count; compare ticks as
// differences (GetTickCount() - start), never by order.
uint32_t GetTickCount();
