#include "platform/tcp_client.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace kestrel {
namespace {

constexpr size_t kMaxReply = 100;

class Socket {
public:
    Socket() : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0)) {}
    ~Socket() {
        if (fd_ >= 0) ::close(fd_);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    int fd() const { return fd_; }

private:
    int fd_;
};

bool WaitFor(int fd, short events, int timeoutMs) {
    pollfd p{fd, events, 0};
    for (;;) {
        const int rc = ::poll(&p, 1, timeoutMs);
        if (rc < 0 && errno == EINTR) continue;
        return rc > 0 && (p.revents & (events | POLLERR | POLLHUP)) != 0;
    }
}

bool Connect(int fd, const sockaddr_in& addr, int timeoutMs) {
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0) return true;
    if (errno != EINPROGRESS && errno != EINTR) return false;
    if (!WaitFor(fd, POLLOUT, timeoutMs)) return false;
    int err = 0;
    socklen_t len = sizeof err;
    return ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0;
}

bool SendAll(int fd, const uint8_t* data, size_t size, int timeoutMs) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::send(fd, data + done, size - done, MSG_NOSIGNAL);
        if (n > 0) {
            done += size_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!WaitFor(fd, POLLOUT, timeoutMs)) return false;
            continue;
        }
        return false;
    }
    return true;
}

}  // namespace

bool ParseIpv4(const std::string& text, uint32_t& addrNetworkOrder) {
    in_addr a{};
    if (::inet_pton(AF_INET, text.c_str(), &a) != 1) return false;
    addrNetworkOrder = a.s_addr;
    return true;
}

bool TcpSend(const TcpRequest& req, size_t* replyLen) {
    if (replyLen) *replyLen = 0;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(req.port);
    if (!ParseIpv4(req.address, addr.sin_addr.s_addr)) return false;
    Socket s;
    if (s.fd() < 0) return false;
    if (!Connect(s.fd(), addr, req.timeoutMs)) return false;
    if (!SendAll(s.fd(), static_cast<const uint8_t*>(req.data), req.size, req.timeoutMs))
        return false;
    if (req.reply && req.replyCap > 0) {
        const size_t cap = req.replyCap < kMaxReply ? req.replyCap : kMaxReply;
        if (WaitFor(s.fd(), POLLIN, req.timeoutMs)) {
            ssize_t n;
            do {
                n = ::recv(s.fd(), req.reply, cap, 0);
            } while (n < 0 && errno == EINTR);
            if (n > 0 && replyLen) *replyLen = size_t(n);
        }
    }
    // Let the peer see the whole payload before the close.
    ::shutdown(s.fd(), SHUT_WR);
    return true;
}

}  // namespace kestrel
