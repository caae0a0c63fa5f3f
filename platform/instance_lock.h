#pragma once
// The single-instance lock: an exclusive, non-blocking flock on a lock file.
// The kernel drops the lock when the holder ends, however it ends, so a
// crashed instance never blocks the next start.
#include <string>

namespace kestrel {

class InstanceLock {
public:
    InstanceLock() = default;
    ~InstanceLock() { Release(); }
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // $XDG_RUNTIME_DIR/kestrel.lock, else /tmp/kestrel-<uid>.lock.
    static std::string DefaultPath();
    // False when another holder has the lock or the file cannot be opened.
    bool Acquire(const std::string& path);
    bool Acquire() { return Acquire(DefaultPath()); }
    void Release();
    bool Held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

}  // namespace kestrel
