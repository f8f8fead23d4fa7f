#include "sim/WebServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <random>
#include <thread>

#include "sim/WebPage.h"

namespace valdrune::sim {

struct CWebServer::Tls {
    SSL_CTX* ctx = nullptr;
    ~Tls() {
        if (ctx) SSL_CTX_free(ctx);
    }
};

namespace {

// A fresh key and certificate for this run; browsers are expected to ask the user about it,
// as they do for a real device's own certificate.
SSL_CTX* MakeServerContext(std::string& error) {
    EVP_PKEY* key = EVP_EC_gen("P-256");
    X509* cert = X509_new();
    SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
    bool ok = key && cert && ctx;
    if (ok) {
        std::random_device rd;
        X509_set_version(cert, 2);
        ASN1_INTEGER_set(X509_get_serialNumber(cert), static_cast<long>(rd() & 0x7FFFFFFF));
        X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
        X509_gmtime_adj(X509_getm_notAfter(cert), 30L * 24 * 3600);
        X509_set_pubkey(cert, key);
        X509_NAME* name = X509_get_subject_name(cert);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>("valdrune-sim device"),
                                   -1, -1, 0);
        X509_set_issuer_name(cert, name);
        ok = X509_sign(cert, key, EVP_sha256()) > 0 && SSL_CTX_use_certificate(ctx, cert) == 1 &&
             SSL_CTX_use_PrivateKey(ctx, key) == 1;
    }
    if (!ok) {
        char text[256] = {};
        ERR_error_string_n(ERR_get_error(), text, sizeof text);
        error = std::string("cannot make the HTTPS certificate: ") + text;
        if (ctx) SSL_CTX_free(ctx);
        ctx = nullptr;
    }
    if (cert) X509_free(cert);
    if (key) EVP_PKEY_free(key);
    return ctx;
}

// One connection, on its own thread so that a slow or silent client cannot stall the
// devices' protocol; it only holds copies of what it sends.
void Serve(int fd, std::shared_ptr<CWebServer::Tls> tls, std::string page) {
    timeval limit{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    SSL* ssl = nullptr;
    if (tls) {
        ssl = SSL_new(tls->ctx);
        if (!ssl || SSL_set_fd(ssl, fd) != 1 || SSL_accept(ssl) != 1) {
            if (ssl) SSL_free(ssl);
            close(fd);
            return;
        }
    }
    auto read = [&](char* buf, int size) {
        return ssl ? SSL_read(ssl, buf, size) : static_cast<int>(recv(fd, buf, size, 0));
    };
    auto write = [&](const char* buf, int size) {
        return ssl ? SSL_write(ssl, buf, size)
                   : static_cast<int>(send(fd, buf, size, MSG_NOSIGNAL));
    };
    std::string request;
    RequestState state = RequestState::Incomplete;
    while (state == RequestState::Incomplete) {
        char buf[2048];
        const int n = read(buf, sizeof buf);
        if (n <= 0) break;
        request.append(buf, static_cast<std::size_t>(n));
        state = CheckRequest(request);
    }
    if (state != RequestState::Incomplete) {
        const std::string response = WebResponse(request, page);
        for (std::size_t sent = 0; sent < response.size();) {
            const int n = write(response.data() + sent, static_cast<int>(response.size() - sent));
            if (n <= 0) break;
            sent += static_cast<std::size_t>(n);
        }
    }
    if (ssl) {
        SSL_shutdown(ssl);
        SSL_free(ssl);
    }
    close(fd);
}

}  // namespace

CWebServer::CWebServer(CPollLoop& loop, const CDevicePeer& peer, std::string interface)
    : loop_(loop), peer_(peer), interface_(std::move(interface)) {
    // TLS writes go through plain write(): a browser dropping a spare connection mid-handshake
    // must not end the whole simulator with SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
}

CWebServer::~CWebServer() {
    for (const auto& [port, fd] : listeners_) {
        loop_.Unwatch(fd);
        close(fd);
    }
}

bool CWebServer::EnsureTls(std::string& error) {
    if (tls_) return true;
    SSL_CTX* ctx = MakeServerContext(error);
    if (!ctx) return false;
    tls_ = std::make_shared<Tls>();
    tls_->ctx = ctx;
    return true;
}

bool CWebServer::Sync(std::string& error) {
    bool ok = true;
    for (std::size_t i = 0; i < peer_.Count(); ++i) {
        const auto& r = peer_.Device(i).record;
        const std::uint16_t port = r.primary.port;
        if (r.https && !EnsureTls(error)) ok = false;
        if (port == 0 || listeners_.count(port)) continue;
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        int on = 1;
        sockaddr_in any{};
        any.sin_family = AF_INET;
        any.sin_port = htons(port);
        any.sin_addr.s_addr = htonl(INADDR_ANY);
        if (fd < 0 || setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
            (!interface_.empty() && setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, interface_.c_str(),
                                               static_cast<socklen_t>(interface_.size())) != 0) ||
            bind(fd, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0 || listen(fd, 16) != 0) {
            error = "cannot serve pages on TCP port " + std::to_string(port) + ": " +
                    std::strerror(errno);
            if (fd >= 0) close(fd);
            listeners_[port] = -1;  // not tried again
            ok = false;
            continue;
        }
        listeners_[port] = fd;
        loop_.Watch(fd, [this, fd, port] { OnConnection(fd, port); });
    }
    return ok;
}

void CWebServer::OnConnection(int listener, std::uint16_t port) {
    for (;;) {
        const int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) return;
        sockaddr_in local{};
        socklen_t len = sizeof local;
        getsockname(fd, reinterpret_cast<sockaddr*>(&local), &len);
        const std::uint32_t address = ntohl(local.sin_addr.s_addr);
        std::optional<std::size_t> device;
        for (std::size_t i = 0; i < peer_.Count(); ++i) {
            const auto& r = peer_.Device(i).record;
            if (peer_.StateOf(i) == CDevicePeer::State::Running && r.primary.ipAddress == address &&
                r.primary.port == port) {
                device = i;
            }
        }
        // No device there (restarting, or moved away): as if nothing listened.
        if (!device) {
            close(fd);
            continue;
        }
        const DeviceSpec& d = peer_.Device(*device);
        if (d.record.https && !tls_) {
            close(fd);
            continue;
        }
        std::thread(Serve, fd, d.record.https ? tls_ : nullptr, DevicePage(d)).detach();
    }
}

}  // namespace valdrune::sim
