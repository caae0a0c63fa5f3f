#pragma once
// A read-only handle on an image file or a block device. It is never opened
// for writing; reads go through pread so several readers may share it.
#include <cstddef>
#include <cstdint>
#include <string>

namespace kestrel {

class RawFile {
public:
    RawFile() = default;
    ~RawFile() { Close(); }
    RawFile(const RawFile&) = delete;
    RawFile& operator=(const RawFile&) = delete;
    RawFile(RawFile&& other) noexcept;
    RawFile& operator=(RawFile&& other) noexcept;

    // Opens utf8Path read-only and learns its size; false when it cannot.
    bool Open(const std::string& utf8Path);
    void Close();
    int fd() const { return fd_; }
    bool IsOpen() const { return fd_ >= 0; }
    // Reads up to n bytes at off, retrying interrupted and short reads. Returns
    // the bytes read (fewer at the end of the medium) or -1 on a read error
    // before any byte arrived.
    int64_t PRead(void* buf, size_t n, uint64_t off);
    // Size in bytes: BLKGETSIZE64 for block devices, the file length otherwise.
    uint64_t Size() const { return size_; }
    bool IsBlockDevice() const { return blockDevice_; }
    const std::string& Path() const { return path_; }

private:
    int fd_ = -1;
    uint64_t size_ = 0;
    bool blockDevice_ = false;
    std::string path_;
};

}  // namespace kestrel
