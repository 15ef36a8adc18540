#include "modbusserver.h"

#include <arpa/inet.h>
#include <modbus.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

int listenLocal(int &port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || ::listen(fd, 4) != 0
        || ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len) != 0) {
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    port = ntohs(a.sin_port);
    return fd;
}

} // namespace

ModbusServer::ModbusServer()
{
    m_listen = listenLocal(m_port);
    if (m_listen < 0 || ::pipe(m_wake) != 0) {
        m_port = 0;
        return;
    }
    m_ctx = modbus_new_tcp("127.0.0.1", m_port);
    m_map = modbus_mapping_new(64, 64, 0, 0);
    m_thread = std::thread([this] { run(); });
}

ModbusServer::~ModbusServer()
{
    if (m_thread.joinable()) {
        const char c = 'q';
        [[maybe_unused]] auto n = ::write(m_wake[1], &c, 1);
        m_thread.join();
    }
    for (int fd : {m_listen, m_wake[0], m_wake[1]})
        if (fd >= 0)
            ::close(fd);
    if (m_map)
        modbus_mapping_free(m_map);
    if (m_ctx)
        modbus_free(m_ctx);
}

QList<ModbusServer::Write> ModbusServer::writes() const
{
    std::lock_guard lock(m_mutex);
    return m_writes;
}

bool ModbusServer::coil(int n) const
{
    std::lock_guard lock(m_mutex);
    return m_map->tab_bits[n] != 0;
}

void ModbusServer::setInput(int n, bool closed)
{
    std::lock_guard lock(m_mutex);
    m_map->tab_input_bits[n] = closed ? 1 : 0;
}

void ModbusServer::run()
{
    std::vector<int> clients;
    uint8_t query[MODBUS_TCP_MAX_ADU_LENGTH];
    for (;;) {
        fd_set set;
        FD_ZERO(&set);
        int top = std::max(m_listen, m_wake[0]);
        FD_SET(m_listen, &set);
        FD_SET(m_wake[0], &set);
        for (int c : clients) {
            FD_SET(c, &set);
            top = std::max(top, c);
        }
        if (::select(top + 1, &set, nullptr, nullptr, nullptr) < 0)
            continue;
        if (FD_ISSET(m_wake[0], &set))
            break;
        if (FD_ISSET(m_listen, &set)) {
            int s = m_listen;
            const int c = modbus_tcp_accept(m_ctx, &s);
            if (c >= 0)
                clients.push_back(c);
        }
        for (auto it = clients.begin(); it != clients.end();) {
            if (!FD_ISSET(*it, &set)) {
                ++it;
                continue;
            }
            modbus_set_socket(m_ctx, *it);
            const int rc = modbus_receive(m_ctx, query);
            if (rc <= 0) {
                if (rc < 0) {
                    ::close(*it);
                    it = clients.erase(it);
                    continue;
                }
                ++it;
                continue;
            }
            const int h = modbus_get_header_length(m_ctx);
            std::lock_guard lock(m_mutex);
            const auto now = std::chrono::steady_clock::now();
            const int addr = (query[h + 1] << 8) | query[h + 2];
            if (query[h] == MODBUS_FC_WRITE_SINGLE_COIL)
                m_writes.append({addr, query[h + 3] == 0xFF, now});
            else if (query[h] == MODBUS_FC_WRITE_MULTIPLE_COILS) {
                const int count = (query[h + 3] << 8) | query[h + 4];
                for (int i = 0; i < count; ++i)
                    m_writes.append({addr + i, ((query[h + 6 + i / 8] >> (i % 8)) & 1) != 0, now});
            }
            modbus_reply(m_ctx, query, rc, m_map);
            ++it;
        }
    }
    for (int c : clients)
        ::close(c);
}

DeadServer::DeadServer() { m_fd = listenLocal(m_port); }

DeadServer::~DeadServer()
{
    if (m_fd >= 0)
        ::close(m_fd);
}
