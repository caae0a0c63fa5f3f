#pragma once
// A TCP listener on an ephemeral 127.0.0.1 port that collects whole
// connections (everything received until the peer closes).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <optional>
#include <vector>

namespace kestrel::test {

class LoopbackListener {
public:
    LoopbackListener() {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(fd_, 64);
        socklen_t len = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
    }
    ~LoopbackListener() { ::close(fd_); }
    LoopbackListener(const LoopbackListener&) = delete;
    LoopbackListener& operator=(const LoopbackListener&) = delete;

    uint16_t port() const { return port_; }

    // The bytes of the next connection, or nothing when none arrives in time.
    std::optional<std::vector<uint8_t>> Accept(int timeoutMs) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0) return std::nullopt;
        const int c = ::accept(fd_, nullptr, nullptr);
        if (c < 0) return std::nullopt;
        std::vector<uint8_t> got;
        uint8_t buf[8192];
        for (;;) {
            pollfd q{c, POLLIN, 0};
            if (::poll(&q, 1, timeoutMs) <= 0) break;
            const ssize_t n = ::recv(c, buf, sizeof buf, 0);
            if (n <= 0) break;
            got.insert(got.end(), buf, buf + n);
        }
        ::close(c);
        return got;
    }

private:
    int fd_ = -1;
    uint16_t port_ = 0;
};

}  // namespace kestrel::test
