#pragma once
// Where the window's engine runs. The window is a client of the engine of
// its data folder (EngineLink on socketPath()); the host says whether that
// engine ends with the window (dalingd started as the window's child, or an
// engine built in the window's own process, as tests do) or runs on its own
// (the user's service, which rings on after the window has closed).
#include <QString>
#include <functional>

class EngineCore;

class EngineHost {
public:
    virtual ~EngineHost() = default;
    virtual QString socketPath() const = 0;
    // Closing the window stops the bells.
    virtual bool endsWithWindow() const = 0;
    // The engine built in this process (tests drive its fakes), else nullptr.
    virtual EngineCore *core() { return nullptr; }
    // The window is shown: an engine of this process starts its clock then.
    virtual void windowShown() {}
    // Told when an engine that ends with the window ended before it (the
    // text the operator is told).
    virtual void setOnEnded(std::function<void(const QString &)>) {}
};

// An engine that runs on its own: the window only connects to it.
class RunningEngine : public EngineHost {
public:
    RunningEngine(QString socketPath, bool service) : m_socket(std::move(socketPath)), m_service(service) {}
    QString socketPath() const override { return m_socket; }
    // A copy that is nobody's service is another window's child: it ends
    // with that window, and our close question must not promise the bells.
    bool endsWithWindow() const override { return !m_service; }

private:
    QString m_socket;
    bool m_service;
};
