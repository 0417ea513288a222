#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <initializer_list>
#include <string>
#include <string_view>

#include "framework/kv_component.h"
#include "framework/kv_log.h"
#include "framework/kv_timer.h"

class TkvBaseIO;

// Sits between a port and the application: sees received data first (and may mark it handled),
// sends through a hook and then the port, and keeps a reply timeout. Processors chain through
// NextProcessor, and the whole chain serves one port.
class TkvCustomDataProcessor : public TkvComponent {
public:
    // The send hook may change the bytes at Data in place, or set Handled to keep them from the
    // port.
    using TkvDataSendEvent = std::function<void(TkvCustomDataProcessor* Sender, void* Data,
                                                std::int32_t Count, bool IsString, bool& Handled)>;

    explicit TkvCustomDataProcessor(TkvComponent* owner = nullptr);
    ~TkvCustomDataProcessor() override;

    TkvBaseIO* Port() const { return port_; }
    // Moves this processor's port callback from the old port to `port`.
    virtual void SetPort(TkvBaseIO* port);
    TkvCustomDataProcessor* NextProcessor() const { return nextProcessor_; }
    // Ignores this processor itself; the next processor is made to serve the same port.
    virtual void SetNextProcessor(TkvCustomDataProcessor* processor);
    TkvCustomLogFile* Log() const { return log_; }
    void SetLog(TkvCustomLogFile* log);
    const std::string& LogPrefix() const { return logPrefix_; }
    void SetLogPrefix(std::string prefix) { logPrefix_ = std::move(prefix); }
    // The reply timeout; ticks on the thread that created the processor.
    TkvTimer& Timer() { return *timer_; }

    TkvFatalErrorEvent OnFatalError;
    TkvDataSendEvent OnDataSend;

    // Registered with the port: 1 MediumClosed, 2 MediumOpened, other codes ignored.
    virtual void PortNotify(TkvBaseIO* sender, std::int32_t code);
    virtual void MediumClosed();
    virtual void MediumOpened();
    // Never raises. A handled send restarts the timeout instead of reaching the port.
    virtual void DoDataSend(void* data, std::int32_t count);
    // Never raises; the hook works on a private copy of `text`.
    virtual void DoStringSend(const std::string& text);
    virtual void TimerExpired(TkvTimer* sender);
    // Stops the timeout; a non-zero Ms starts it again with that period.
    virtual void SetTimeout(std::int32_t ms);
    // Raises EkvError with Msg unless OnFatalError clears Fatal; a linked log gets the line
    // "Fatal Error: %u, %u, %s" in any case.
    virtual void DoError(std::uint32_t code, std::uint32_t subCode, const std::string& msg);
    // Runs on the port's worker thread. The base passes the data down the chain.
    virtual void DoReceive(const void* buffer, std::uint32_t count, bool& handled);
    void Receive(const void* buffer, std::uint32_t count);
    virtual void DoTimeout(bool& flag);

    void LogMsg(std::int32_t level, const std::string& msg);
    // Builds nothing unless a log is linked: the monitoring loop logs every report.
    void LogFmt(std::int32_t level, std::string_view fmt, std::initializer_list<TkvLogValue> args);

protected:
    void Notification(TkvComponent* component, TkvOperation operation) override;

private:
    TkvBaseIO* port_ = nullptr;
    TkvCustomDataProcessor* nextProcessor_ = nullptr;
    TkvCustomLogFile* log_ = nullptr;
    std::unique_ptr<TkvTimer> timer_;
    std::string logPrefix_;
};
