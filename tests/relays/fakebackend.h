#pragma once
// A device backend for the plan's logic: records each switch, fails while
// told to, and can hold a call until released (a module that hangs).
#include "relaydevice.h"

#include <condition_variable>
#include <mutex>

struct FakeBackendState {
    std::mutex mutex;
    std::condition_variable cv;
    QList<std::pair<int, bool>> calls; // channel, on
    int failing = 0;                   // the next calls that fail
    bool hold = false;                 // calls wait while set
    int reads = 0;                     // inputs read so far
    bool readFails = false;            // reads fail while set (a module that refuses)

    void release()
    {
        {
            std::lock_guard lock(mutex);
            hold = false;
        }
        cv.notify_all();
    }
    int readCount()
    {
        std::lock_guard lock(mutex);
        return reads;
    }
    QList<std::pair<int, bool>> seen()
    {
        std::lock_guard lock(mutex);
        return calls;
    }
};

class FakeBackend : public DeviceBackend {
public:
    explicit FakeBackend(FakeBackendState &s) : m_s(s) {}
    bool setCoil(int, int channel, bool on, QString &error) override
    {
        std::unique_lock lock(m_s.mutex);
        m_s.cv.wait(lock, [this] { return !m_s.hold; });
        m_s.calls.append({channel, on});
        if (m_s.failing > 0) {
            --m_s.failing;
            error = QStringLiteral("timeout");
            return false;
        }
        return true;
    }
    std::optional<bool> readInput(int, int, QString &error) override
    {
        std::lock_guard lock(m_s.mutex);
        ++m_s.reads;
        if (m_s.readFails) {
            error = QStringLiteral("connection refused");
            return std::nullopt;
        }
        return false;
    }

private:
    FakeBackendState &m_s;
};
