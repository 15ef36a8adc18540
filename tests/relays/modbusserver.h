#pragma once
// A Modbus TCP relay module for the tests: libmodbus's own server on
// 127.0.0.1 (a port of the kernel's choosing), in a thread of its own. It
// records every coil write with the moment it came (steady clock), and
// its discrete inputs are set by the test.
#include <QList>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

struct _modbus;
struct _modbus_mapping_t;

class ModbusServer {
public:
    struct Write {
        int coil = 0;
        bool on = false;
        std::chrono::steady_clock::time_point at;
    };
    ModbusServer();
    ~ModbusServer();
    bool ok() const { return m_port > 0; }
    int port() const { return m_port; }
    QList<Write> writes() const;
    bool coil(int n) const;
    void setInput(int n, bool closed);

private:
    void run();
    int m_listen = -1;
    int m_port = 0;
    int m_wake[2] = {-1, -1};
    _modbus *m_ctx = nullptr;
    _modbus_mapping_t *m_map = nullptr;
    mutable std::mutex m_mutex;
    QList<Write> m_writes;
    std::thread m_thread;
};

// A port that accepts connections (the kernel's backlog does) and never
// answers: a module that hangs.
class DeadServer {
public:
    DeadServer();
    ~DeadServer();
    int port() const { return m_port; }

private:
    int m_fd = -1;
    int m_port = 0;
};
