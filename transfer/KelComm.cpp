#include "KelComm.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "Engine.h"
#include "Names.h"
#include "Protocols.h"

const std::array<const char*, kProtocolCount> ProtocolNames = {
    "XMODEM [SUM] 128byte",
    "XMODEM [CRC] 128byte",
    "XMODEM [CRC] 1024byte",
    "YMODEM",
    "YMODEM-G",
    "ZMODEM",
    "M-LINK",
};

uint32_t GetTickCount() {
  auto since = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<uint32_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

// The worker of one transfer. It owns the handler swap: from the start of
// Execute to its end the watcher feeds the engine's ring instead of the
// window's handler. It is not reused; the component joins it before the next
// transfer starts and at destruction.
class TKCommTran {
 public:
  // The protocol is taken when the transfer is requested: a change the
  // window makes afterwards applies to the next transfer only.
  TKCommTran(TKELCOMM& owner, protType protocol)
      : owner_(owner), protocol_(protocol), thread_([this] { Execute(); }) {}
  ~TKCommTran() {
    if (thread_.joinable()) thread_.join();
  }
  TKCommTran(const TKCommTran&) = delete;
  TKCommTran& operator=(const TKCommTran&) = delete;

 private:
  void Execute();
  void Dispatch(TKelEngine& E);

  TKELCOMM& owner_;
  const protType protocol_;
  std::thread thread_;
};

void TKCommTran::Execute() {
  TKelEngine& E = owner_.Engine();
  try {
    Dispatch(E);
  } catch (...) {
    owner_.TranResult = 0;
  }
  E.CloseFile();
  // A producer waiting for room holds the receive lock: free it first.
  E.EndFeed();
  owner_.SwapCommReceive(owner_.SavedReceive);
  owner_.TranMode = 0;
}

void TKCommTran::Dispatch(TKelEngine& E) {
  const protType protocol = protocol_;
  TXState X;
  if (protocol <= pr_XMODEM_CRC_1024) X.XVariant = static_cast<uint8_t>(protocol);
  if (protocol == pr_YMODEM_G) X.GMode = 1;
  const bool upload = owner_.TranMode.load() == 1;
  switch (protocol) {
    case pr_XMODEM_SUM_128:
    case pr_XMODEM_CRC_128:
    case pr_XMODEM_CRC_1024:
      upload ? XmodemSend(E, X, owner_.TranResult) : XmodemReceive(E, X, owner_.TranResult);
      break;
    case pr_YMODEM:
    case pr_YMODEM_G:
      upload ? YmodemSend(E, X, owner_.TranResult) : YmodemReceive(E, X, owner_.TranResult);
      break;
    case pr_ZMODEM:
      upload ? ZSendFile(E, owner_.TranResult) : ZReceiveFile(E, owner_.TranResult);
      break;
    case pr_MLINK:
      upload ? MLinkSend(E, owner_.TranResult) : MLinkReceive(E, owner_.TranResult);
      break;
  }
}

TKELCOMM::TKELCOMM() : engine_(std::make_unique<TKelEngine>(*this)) {}

// The watcher and the worker call into this object: both must have left
// before the members below are destroyed.
TKELCOMM::~TKELCOMM() {
  if (TranMode.load() != 0) RequestCancel();
  JoinWorker();
  Close();
}

void TKELCOMM::JoinWorker() { worker_.reset(); }

void TKELCOMM::Launch(uint8_t mode) {
  JoinWorker();  // the last one has finished: TranMode was 0
  engine_->ResetStatus();
  // The received bytes are taken over before the request returns: a peer
  // answers a request at once, and its first byte must not reach the window.
  // Bytes left from an earlier transfer mean nothing to this one.
  TKelEngine& E = *engine_;
  E.FlushRing();
  E.BeginFeed();
  SavedReceive =
      SwapCommReceive([&E](TComm* sender, uint16_t size) { E.TranReceive(sender, size); });
  TranResult = 1;
  TranMode = mode;
  worker_ = std::make_unique<TKCommTran>(*this, Protocol.load());
}

void TKELCOMM::StartUpload(const std::string& Path, const std::string& Name) {
  StartUploads({TUploadFile{Path, Name}});
}

void TKELCOMM::StartUploads(const std::vector<TUploadFile>& Files) {
  const bool refused =
      TranMode.load() != 0 || Files.empty() || (Files.size() > 1 && !CarriesBatches(Protocol)) ||
      std::ranges::any_of(Files, [](const TUploadFile& f) { return FileSizeOf(f.Path) == 0; });
  if (refused) {
    TranResult = 0;
    return;
  }
  JoinWorker();  // the last transfer's worker no longer reads the batch
  batchRest_.assign(Files.rbegin(), Files.rend());
  NextUpload();
  Launch(1);
}

bool TKELCOMM::NextUpload() {
  if (batchRest_.empty()) return false;
  const TUploadFile file = std::move(batchRest_.back());
  batchRest_.pop_back();
  Status.SendName.set(file.Name.empty() ? AnnouncedName(file.Path) : file.Name);
  Status.FilePath.set(file.Path);
  Status.FileSize = FileSizeOf(file.Path);
  Status.TranSize = 0;
  Status.StartTick = GetTickCount();
  return true;
}

void TKELCOMM::StartDownload(const std::string& Path) {
  if (TranMode.load() != 0) {
    TranResult = 0;
    return;
  }
  Status.FilePath.set(Path);
  Status.FileSize = kUnknownFileSize;
  Status.SendName.clear();
  Launch(2);
}

void TKELCOMM::RequestCancel() {
  CancelFlag = 1;
  engine_->Wake();
}

void TKELCOMM::DoLineState(uint32_t Modem) {
  engine_->LineChanged(Modem);
  if (OnLineState) OnLineState(Modem);
}

// A producer waiting for room in the ring must let go, or Close would wait
// for the watcher for ever.
void TKELCOMM::DoClosing() { engine_->Wake(); }

uint32_t TKELCOMM::ModemBits() const {
  auto dev = Device();
  return dev ? dev->ModemStatus() : 0;
}

bool TKELCOMM::CarrierOn() const {
  if (!IsOpen()) return false;
  return (ModemBits() & MS_RLSD_ON) != 0;
}

bool TKELCOMM::LineReady() const {
  if (!IsOpen()) return false;
  return !OutputFollowsCts() || (ModemBits() & MS_CTS_ON) != 0;
}
