#include "framework/kv_data_processor.h"

#include "framework/kv_base_io.h"
#include "framework/kv_error.h"
#include "framework/kv_notify_list.h"

namespace {

TkvNotifyEvent PortCallbackOf(TkvCustomDataProcessor* processor) {
    return MakeNotifyEvent<&TkvCustomDataProcessor::PortNotify>(processor);
}

} // namespace

TkvCustomDataProcessor::TkvCustomDataProcessor(TkvComponent* owner)
    : TkvComponent(owner), timer_(std::make_unique<TkvTimer>()) {
    timer_->SetEnabled(false);
    timer_->SetOnTimer([this](TkvTimer* sender) { TimerExpired(sender); });
}

TkvCustomDataProcessor::~TkvCustomDataProcessor() {
    // The port calls SetPort(nullptr) on us when told; it must find us whole.
    SendRemovalNotices();
    SetPort(nullptr);
}

void TkvCustomDataProcessor::SetPort(TkvBaseIO* port) {
    if (port_ != nullptr && port_ != port) {
        port_->RemoveNotify(PortCallbackOf(this));
        RemoveFreeNotification(port_);
    }
    port_ = port;
    if (port != nullptr) {
        FreeNotification(port);
        port->AddNotify(PortCallbackOf(this));
    }
}

void TkvCustomDataProcessor::SetNextProcessor(TkvCustomDataProcessor* processor) {
    if (processor == this)
        return;
    if (nextProcessor_ != nullptr && nextProcessor_ != processor)
        RemoveFreeNotification(nextProcessor_);
    nextProcessor_ = processor;
    if (processor != nullptr) {
        FreeNotification(processor);
        processor->SetPort(port_);
    }
}

void TkvCustomDataProcessor::SetLog(TkvCustomLogFile* log) {
    if (log_ != nullptr && log_ != log)
        RemoveFreeNotification(log_);
    log_ = log;
    FreeNotification(log);
}

void TkvCustomDataProcessor::PortNotify(TkvBaseIO*, std::int32_t code) {
    if (code == nfMediumClosed)
        MediumClosed();
    else if (code == nfMediumOpened)
        MediumOpened();
}

void TkvCustomDataProcessor::MediumClosed() {
    LogMsg(2, "Medium Closed");
}

void TkvCustomDataProcessor::MediumOpened() {
    LogMsg(2, "Medium Opened");
}

void TkvCustomDataProcessor::DoDataSend(void* data, std::int32_t count) {
    if (count == 0 || data == nullptr)
        return;
    try {
        bool handled = false;
        if (OnDataSend)
            OnDataSend(this, data, count, false, handled);
        if (handled) {
            // A full timeout period starts with this send.
            timer_->SetEnabled(false);
            timer_->SetEnabled(true);
        } else if (port_ != nullptr) {
            port_->WriteBuffer(data, count);
        }
        LogFmt(2, "DoDataSend: %u bytes", {static_cast<std::uint32_t>(count)});
    } catch (...) {
        // A failed send shows only through the hook or the port's own error reporting.
    }
}

void TkvCustomDataProcessor::DoStringSend(const std::string& text) {
    if (text.empty())
        return;
    try {
        std::string copy = text;
        bool handled = false;
        if (OnDataSend)
            OnDataSend(this, copy.data(), static_cast<std::int32_t>(copy.size()), true, handled);
        if (!handled && port_ != nullptr)
            port_->WriteString(copy);
    } catch (...) {
        // A send that fails is lost like a failed write; the caller goes on.
    }
}

void TkvCustomDataProcessor::TimerExpired(TkvTimer*) {
    timer_->SetEnabled(false);
    bool flag = false;
    DoTimeout(flag);
}

void TkvCustomDataProcessor::SetTimeout(std::int32_t ms) {
    timer_->SetEnabled(false);
    if (ms == 0)
        return;
    timer_->SetInterval(static_cast<std::uint32_t>(ms));
    timer_->SetEnabled(true);
}

void TkvCustomDataProcessor::DoError(std::uint32_t code, std::uint32_t subCode,
                                     const std::string& msg) {
    bool fatal = true;
    if (OnFatalError)
        OnFatalError(this, code, subCode, msg, fatal);
    if (log_ != nullptr)
        log_->WriteFmt(0, "Fatal Error: %u, %u, %s", {code, subCode, msg});
    if (fatal)
        throw EkvError(msg);
}

void TkvCustomDataProcessor::DoReceive(const void* buffer, std::uint32_t count, bool& handled) {
    if (nextProcessor_ != nullptr)
        nextProcessor_->DoReceive(buffer, count, handled);
}

void TkvCustomDataProcessor::Receive(const void* buffer, std::uint32_t count) {
    bool handled = false;
    DoReceive(buffer, count, handled);
}

void TkvCustomDataProcessor::DoTimeout(bool&) {}

void TkvCustomDataProcessor::LogMsg(std::int32_t level, const std::string& msg) {
    if (log_ != nullptr)
        log_->WriteLine(level, logPrefix_ + msg);
}

void TkvCustomDataProcessor::LogFmt(std::int32_t level, std::string_view fmt,
                                    std::initializer_list<TkvLogValue> args) {
    if (log_ == nullptr)
        return;
    log_->WriteFmt(level, kvFormatLiteral(logPrefix_) + std::string(fmt), TkvLogArgs(args));
}

void TkvCustomDataProcessor::Notification(TkvComponent* component, TkvOperation operation) {
    TkvComponent::Notification(component, operation);
    if (operation != TkvOperation::opRemove)
        return;
    if (component == nextProcessor_)
        SetNextProcessor(nullptr);
    if (component == port_)
        SetPort(nullptr);
    if (component == log_)
        log_ = nullptr;
}
