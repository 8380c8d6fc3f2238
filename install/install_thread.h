// The install worker thread. It runs the worker's updateProgress until that
// answers false (one installation run) unless a stop was requested before.
#ifndef QXR8_INSTALL_INSTALL_THREAD_H_
#define QXR8_INSTALL_INSTALL_THREAD_H_

#include <pthread.h>

#include <atomic>

// What the thread works for: the wizard dialog, or the headless driver.
// updateProgress runs on the worker thread; it performs one installation
// over the implementer's InstallProcessData and answers false.
class IInstallWorker {
 public:
  virtual bool updateProgress() = 0;

 protected:
  ~IInstallWorker() = default;
};

class InstallThread {
 public:
  InstallThread();
  // Detaches a thread that was started and not waited for, so that its
  // resources go when it ends; it does not wait for it. The worker object
  // must outlive a thread that may still call it.
  ~InstallThread();
  InstallThread(const InstallThread&) = delete;
  InstallThread& operator=(const InstallThread&) = delete;

  // Clears the stop request, stores `worker` (not owned) and creates the
  // thread with default attributes. Returns 0 when the thread runs, else the
  // error of the attribute set-up or of the creation (then nothing runs and
  // the caller must post a failure itself). A thread of an earlier start
  // that was not waited for is waited for first. GUI thread (the caller of
  // wait), never the worker itself.
  int start(IInstallWorker* worker);

  // Asks the thread not to begin (another) run; a run already going goes on
  // to its end. Any thread.
  void stop();

  // Blocks until the thread of the last successful start has ended, then
  // forgets it; returns at once when there is none (never started, start
  // failed, or already waited for). Call it before ending the program after
  // a posted failure, so that the rollback that follows it is complete.
  // Any thread except the worker.
  void wait();

  // True from a successful start until wait().
  bool isStarted() const { return started; }

  // The result of the last start: -1 before any attempt, then 0 or the
  // error code.
  int lastStartError() const { return startError; }

  // The thread's body; `arg` is the InstallThread. Returns null.
  static void* thread_func(void* arg);

 private:
  IInstallWorker* dialog;
  std::atomic<bool> stopRequested;
  pthread_t thread;
  int startError;
  bool started;
};

#endif  // QXR8_INSTALL_INSTALL_THREAD_H_
