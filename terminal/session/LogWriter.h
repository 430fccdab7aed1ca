#pragma once
// The log's disk writer: one thread that owns a file descriptor and writes
// the chunks handed to it, in order. Handing a chunk over only moves it into
// the queue, so a slow or stuck disk stalls neither the serial watcher (which
// hands chunks over under TextBuffer's lock) nor the window.
//
// Threading. Put may be called from any thread; the writer thread sleeps on
// a condition variable until a chunk or the stop arrives. The queue, under
// its own mutex, is where the callers and the writer meet. OnError runs on
// the writer thread. Stop (and the destructor) writes every queued byte,
// then joins the thread; it must not run concurrently with Put.

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

class TLogWriter {
 public:
  // Takes fd and starts the thread. onError is told the errno of a failed
  // write once; the chunks after a failure are dropped, what was written
  // before stays in the file.
  TLogWriter(int fd, std::function<void(int error)> onError);
  ~TLogWriter();
  TLogWriter(const TLogWriter&) = delete;
  TLogWriter& operator=(const TLogWriter&) = delete;

  void Put(std::string chunk);
  // Writes what is queued, ends the thread and closes the descriptor; the
  // close's failure is an error like a write's. Idempotent.
  void Stop();

 private:
  void Run();
  void Fail(int error);

  int fd_;
  std::function<void(int error)> onError_;
  bool failed_ = false;  // writer thread only
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::string> queue_;
  bool stopping_ = false;
  std::thread thread_;
};
