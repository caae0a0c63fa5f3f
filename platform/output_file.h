#pragma once
// An output file of an export: create (or truncate), write, cut to zero
// length, set times, close. Creation times cannot be set on Linux file
// systems; SetTimes sets the last-write time and leaves the access time.
#include <cstddef>
#include <cstdint>
#include <string>

namespace kestrel {

class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile() { Close(); }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Creates or truncates path (UTF-8) for writing.
    bool Create(const std::string& path);
    // Writes to an already open descriptor (standard output); not closed by Close.
    void AttachDescriptor(int fd);
    bool Write(const void* data, size_t n);
    bool SetLengthZero();
    // UTC instants in seconds since 1970.
    bool SetTimes(int64_t createdUtc, int64_t modifiedUtc);
    void Close();
    bool IsOpen() const { return fd_ >= 0; }
    uint64_t BytesWritten() const { return written_; }

private:
    int fd_ = -1;
    bool owned_ = false;
    uint64_t written_ = 0;
};

}  // namespace kestrel
