// The one owner of a system file descriptor: move-only, closed exactly once,
// by reset() or by the destructor. Every descriptor the engine and the
// configuration code open lives in one of these.
//
// One thread uses an object at a time.
#ifndef QXR8_PLATFORM_UNIQUE_FD_H_
#define QXR8_PLATFORM_UNIQUE_FD_H_

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : m_fd(fd) {}
  ~UniqueFd() { reset(); }
  UniqueFd(UniqueFd&& other) noexcept : m_fd(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const { return m_fd; }
  bool valid() const { return m_fd >= 0; }

  // Gives the descriptor up without closing it.
  int release() {
    const int fd = m_fd;
    m_fd = -1;
    return fd;
  }

  // Closes the held descriptor (if any) and holds `fd` instead.
  void reset(int fd = -1);

  // Closes now and reports what close said: 0 or its errno (a failed close
  // can be the first report of a failed write). The descriptor is gone
  // either way.
  int close();

 private:
  int m_fd = -1;
};

#endif  // QXR8_PLATFORM_UNIQUE_FD_H_
