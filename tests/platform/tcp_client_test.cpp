#include "platform/tcp_client.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <vector>

namespace kestrel {
namespace {

// A listener on an ephemeral loopback port.
class Listener {
public:
    Listener() {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(fd_, 16);
        socklen_t len = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
    }
    ~Listener() { ::close(fd_); }
    uint16_t port() const { return port_; }
    // Accepts one connection, reads until the peer closes, answers with reply.
    std::vector<uint8_t> AcceptOne(const std::string& reply = "") {
        const int c = ::accept(fd_, nullptr, nullptr);
        std::vector<uint8_t> got;
        if (c < 0) return got;
        if (!reply.empty()) {
            uint8_t b[2048];
            const ssize_t n = ::recv(c, b, sizeof b, 0);
            if (n > 0) got.assign(b, b + n);
            ::send(c, reply.data(), reply.size(), MSG_NOSIGNAL);
        }
        uint8_t b[4096];
        ssize_t n;
        while ((n = ::recv(c, b, sizeof b, 0)) > 0) got.insert(got.end(), b, b + n);
        ::close(c);
        return got;
    }

private:
    int fd_ = -1;
    uint16_t port_ = 0;
};

TEST(TcpClient, ParsesOnlyDottedIpv4) {
    uint32_t a;
    EXPECT_TRUE(ParseIpv4("127.0.0.1", a));
    EXPECT_EQ(a, htonl(0x7F000001));
    for (const char* bad : {"", "localhost", "1.2.3", "256.1.1.1", "::1", "1.2.3.4 "})
        EXPECT_FALSE(ParseIpv4(bad, a)) << bad;
}

TEST(TcpClient, SendsEverythingAndTakesAShortReply) {
    Listener l;
    std::vector<uint8_t> payload(300000);
    for (size_t i = 0; i < payload.size(); ++i) payload[i] = uint8_t(i * 31);
    std::vector<uint8_t> got;
    std::thread server([&] { got = l.AcceptOne(); });
    TcpRequest req{"127.0.0.1", l.port(), payload.data(), payload.size()};
    EXPECT_TRUE(TcpSend(req));
    server.join();
    EXPECT_EQ(got, payload);

    const std::string reply(150, 'r');
    std::thread server2([&] { got = l.AcceptOne(reply); });
    uint8_t buf[128] = {};
    TcpRequest req2{"127.0.0.1", l.port(), "ping", 4, buf, sizeof buf};
    size_t replyLen = 0;
    EXPECT_TRUE(TcpSend(req2, &replyLen));
    server2.join();
    EXPECT_EQ(std::string(got.begin(), got.end()), "ping");
    EXPECT_GT(replyLen, 0u);
    EXPECT_LE(replyLen, 100u);  // never more than 100 bytes
    EXPECT_EQ(buf[0], 'r');
}

TEST(TcpClient, FailsFastWithoutAListener) {
    uint16_t port;
    {
        Listener gone;
        port = gone.port();
    }
    TcpRequest req{"127.0.0.1", port, "x", 1};
    EXPECT_FALSE(TcpSend(req));
    TcpRequest bad{"not an address", 7000, "x", 1};
    EXPECT_FALSE(TcpSend(bad));

    // An address that never answers: the connect wait is bounded.
    TcpRequest blackhole{"192.0.2.1", 7000, "x", 1};
    blackhole.timeoutMs = 300;
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(TcpSend(blackhole));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
}

}  // namespace
}  // namespace kestrel
