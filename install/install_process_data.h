// The meeting point of the GUI thread and the install worker: the opened
// kit and the catalog of the run, the cancel request, and the posted install
// state (a code, a text and a percentage). Every operation takes the lock
// for its whole body and holds it only while values are copied in or out,
// so no other lock is ever taken under it.
//
// Threads: every operation may be called from any thread.
#ifndef QXR8_INSTALL_INSTALL_PROCESS_DATA_H_
#define QXR8_INSTALL_INSTALL_PROCESS_DATA_H_

#include <semaphore.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

#include "install/install_data.h"
#include "install/install_failure.h"
#include "platform/wstring.h"

// Where a run is in the kit's file table: the entry being handled, counted
// from 1, and the number of entries; 0 of 0 before the first entry and in
// the final states. And how far it is by bytes: those its plan writes and
// those written so far (also within one large file), 0 of 0 before it has
// planned.
struct InstallPosition {
  unsigned long entry = 0;
  unsigned long entries = 0;
  uint64_t bytesWritten = 0;
  uint64_t bytesToWrite = 0;
};

class InstallProcessData {
 public:
  // Called on the posting thread by each setInstallState, outside the lock,
  // with the values about to be posted (just before they become visible). Lets a caller (a test, a log) see
  // every state instead of the ones a poll happens to catch.
  using StateListener = std::function<void(unsigned code, const wstring& text, int percent)>;

  // Both texts empty, code and percent 0, no kit, not cancelled.
  InstallProcessData();
  ~InstallProcessData();
  InstallProcessData(const InstallProcessData&) = delete;
  InstallProcessData& operator=(const InstallProcessData&) = delete;

  // Arms a run: stores `kit` (not owned; it must outlive the run), clears
  // the cancel request, the failure and the counts, sets code and percent
  // to 0 (the text is kept), and
  // stores `targetDir`, with "/" appended unless it is empty or already ends
  // with "/" or "\".
  void init(KitReader* kit, const wstring& targetDir);

  // Copies the kit pointer and the catalog out.
  void get(KitReader*& kit, wstring& targetDir);

  // Whether the user accepts a kit signed other than the catalog's record
  // of it says (signer_continuity.h); set by the front end before the run
  // starts, kept by init.
  void setAcceptNewSigner(bool accept) { acceptNewSigner.store(accept); }
  bool acceptsNewSigner() const { return acceptNewSigner.load(); }

  // The cancel request; the worker looks at it after each file it wrote.
  void setCancel(bool cancelled);
  bool isCancelled();

  // Posts all three values at once, with the run's position (0 of 0 when
  // not given).
  void setInstallState(unsigned code, const wstring& text, int percent,
                       const InstallPosition& position = InstallPosition());

  // Returns once a state worth showing has been posted since the previous
  // call (a new percentage, a new code, a final state: not every file), or
  // after `milliseconds`, or a signal arrives, whichever comes first.
  // For the one thread that polls the state.
  void waitForPost(int milliseconds);
  // The bytes the run's plan writes, set by the worker once it has planned;
  // and the count of bytes written, which the kit reader raises as it
  // copies (KitFileReader::setWriteCounter), so that a display moves
  // within one large file. Both start at 0 with init; any thread, without
  // the lock.
  void setBytesToWrite(uint64_t bytes) { bytesToWrite.store(bytes, std::memory_order_relaxed); }
  std::atomic<uint64_t>* bytesWrittenCounter() { return &bytesWritten; }

  // Copies all values out at once: a reader never sees the code of one
  // post with the text or position of another (the byte counts are read
  // with it, as they stand then).
  void getInstallState(unsigned& code, wstring& text, int& percent);
  void getInstallState(unsigned& code, wstring& text, int& percent, InstallPosition& position);

  // The failure detail of the run. The worker stores it before it posts the
  // failing state, so whoever sees a nonzero code reads the matching detail.
  void setFailure(const InstallFailure& failure);
  void getFailure(InstallFailure& failure);

  // What the run has done so far; final once the run has posted its last
  // state (the worker stores the counts before it posts).
  void setStats(const InstallStats& stats);
  void getStats(InstallStats& stats);

  // How the rollback of a failed run ended: whether every replaced file
  // was put back, and otherwise the backup tree that keeps them. Stored
  // after the rollback, so final once the worker has ended.
  void setRollbackResult(bool restored, const wstring& keptBackups);
  void getRollbackResult(bool& restored, wstring& keptBackups);

  // What the run kept in the catalog and why (an interrupted run's leftovers,
  // files saved during a rollback), one line each, for its output:
  // appended as the run goes; final once the worker has ended.
  void addNotes(const std::vector<wstring>& notes);
  void getNotes(std::vector<wstring>& notes);

  // Replaces the listener (an empty one removes it). Call only while no run
  // is going: the worker reads it without the lock.
  void setStateListener(StateListener listener);

 private:
  // A semaphore of value 1 rather than a mutex: it is held only for copies.
  class Guard {
   public:
    explicit Guard(sem_t& sem);
    ~Guard();
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;

   private:
    sem_t& m_sem;
  };

  sem_t lock;
  // Counts the posts not yet waited for.
  sem_t posted;
  KitReader* kit;
  wstring targetDir;
  bool cancelled;
  unsigned stateCode;
  wstring stateText;
  int percent;
  InstallPosition position;
  std::atomic<uint64_t> bytesWritten{0};
  std::atomic<uint64_t> bytesToWrite{0};
  std::atomic<bool> acceptNewSigner{false};
  InstallFailure failure;
  InstallStats stats;
  bool restored;
  wstring keptBackups;
  std::vector<wstring> notes;
  StateListener listener;
};

#endif  // QXR8_INSTALL_INSTALL_PROCESS_DATA_H_
