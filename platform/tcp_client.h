#pragma once
// A minimal blocking TCP client for the report packets: connect to an IPv4
// address with a bounded wait, send everything, optionally take a short reply.
#include <cstddef>
#include <cstdint>
#include <string>

namespace kestrel {

// True when text is a dotted IPv4 address; the address in network order.
bool ParseIpv4(const std::string& text, uint32_t& addrNetworkOrder);

struct TcpRequest {
    std::string address;  // dotted IPv4
    uint16_t port = 0;
    const void* data = nullptr;
    size_t size = 0;
    uint8_t* reply = nullptr;  // optional; at most replyCap (<= 100) bytes
    size_t replyCap = 0;
    int timeoutMs = 3000;  // connect, send and receive each
};

// Connects, sends the whole payload and, when a reply buffer is given,
// receives once into it. Returns true when the payload was sent; replyLen
// (optional) receives the byte count of the reply.
bool TcpSend(const TcpRequest& req, size_t* replyLen = nullptr);

}  // namespace kestrel
