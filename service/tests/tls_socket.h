// Raw sockets for the stand-in's tests: a TCP connection that sends nothing, and a TLS
// connection that writes exactly the bytes a test gives, so that a test can play a client that
// misbehaves in ways libcurl never would.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <string>

namespace corvane::service::test {

// A connected TCP socket to 127.0.0.1:port, or -1. Reads and writes give up after `timeout`.
inline int connectLoopback(uint16_t port, std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    timeval limit{};
    limit.tv_sec = static_cast<time_t>(timeout.count() / 1000);
    limit.tv_usec = static_cast<suseconds_t>((timeout.count() % 1000) * 1000);
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// A blocking TLS client connection without peer verification.
class TlsSocket {
public:
    TlsSocket() = default;
    ~TlsSocket() { close(); }
    TlsSocket(const TlsSocket&) = delete;
    TlsSocket& operator=(const TlsSocket&) = delete;

    bool connect(uint16_t port, std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
        close();
        fd_ = connectLoopback(port, timeout);
        if (fd_ < 0) return false;
        context_ = SSL_CTX_new(TLS_client_method());
        ssl_ = context_ ? SSL_new(context_) : nullptr;
        if (!ssl_ || SSL_set_fd(ssl_, fd_) != 1) return false;
        SSL_set_tlsext_host_name(ssl_, "localhost");
        return SSL_connect(ssl_) == 1;
    }

    bool write(const std::string& bytes) {
        size_t done = 0;
        while (done < bytes.size()) {
            const int n = SSL_write(ssl_, bytes.data() + done, static_cast<int>(bytes.size() - done));
            if (n <= 0) return false;
            done += static_cast<size_t>(n);
        }
        return true;
    }

    // Everything the peer sends until it closes the connection. `closed` tells a close by the
    // peer from a read that ran into the time-out.
    std::string readUntilClosed(bool& closed) {
        std::string bytes;
        char buffer[16384];
        closed = false;
        while (true) {
            errno = 0;
            const int n = SSL_read(ssl_, buffer, sizeof buffer);
            if (n > 0) {
                bytes.append(buffer, static_cast<size_t>(n));
                continue;
            }
            closed = errno != EAGAIN && errno != EWOULDBLOCK;
            ERR_clear_error();
            return bytes;
        }
    }

    int fd() const { return fd_; }

    void close() {
        if (ssl_) SSL_free(ssl_);
        if (context_) SSL_CTX_free(context_);
        if (fd_ >= 0) ::close(fd_);
        ssl_ = nullptr;
        context_ = nullptr;
        fd_ = -1;
    }

private:
    int fd_ = -1;
    SSL_CTX* context_ = nullptr;
    SSL* ssl_ = nullptr;
};

}  // namespace corvane::service::test
