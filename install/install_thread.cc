#include "install/install_thread.h"

InstallThread::InstallThread()
    : dialog(nullptr), stopRequested(false), thread(), startError(-1), started(false) {}

InstallThread::~InstallThread() {
  if (started) pthread_detach(thread);
}

int InstallThread::start(IInstallWorker* worker) {
  wait();
  stopRequested.store(false);
  dialog = worker;
  startError = -1;
  pthread_attr_t attributes;
  const int attrError = pthread_attr_init(&attributes);
  if (attrError != 0) return attrError;
  startError = pthread_create(&thread, &attributes, &InstallThread::thread_func, this);
  pthread_attr_destroy(&attributes);
  started = startError == 0;
  return startError;
}

void InstallThread::stop() { stopRequested.store(true); }

void InstallThread::wait() {
  if (!started) return;
  pthread_join(thread, nullptr);
  started = false;
}

void* InstallThread::thread_func(void* arg) {
  InstallThread* self = static_cast<InstallThread*>(arg);
  IInstallWorker* worker = self->dialog;
  // Nothing of `self` is read once a run has begun: after its final post
  // the owner may already be gone.
  while (!self->stopRequested.load()) {
    if (!worker->updateProgress()) break;
  }
  return nullptr;
}
