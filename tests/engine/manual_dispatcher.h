#pragma once
#include <memory>
#include <vector>

#include "engine/hid_timed_dispatcher.h"
#include "support/manual_scheduler.h"

// The engine's dispatcher without ports, on a clock the test moves. It serves devices
// 0..Devices-1, each with a burst of its own; every refresh opens them all anew, unless they
// refuse.
class TManualDispatcher final : public THidTimedDispatcher {
public:
    TManualDispatcher(THidProcessor& engine, TManualScheduler& clock)
        : THidTimedDispatcher(engine, clock) {
        clock.OnTimer = [this](std::uint32_t id) { TimerTick(id); };
    }
    std::uint32_t Serial(int device) const { return bursts_.at(device)->Serial; }

    int Devices = 2;
    bool Refusing = false;
    std::vector<std::uint32_t> Refreshes; // when each refresh ran

protected:
    void RefreshDevices() override {
        if (!Serving())
            return;
        Refreshes.push_back(Now());
        ClosePorts();
        if (Refusing) {
            ScheduleRetry();
            return;
        }
        for (int device = 0; device < Devices; ++device)
            bursts_.emplace_back(std::make_unique<THidDeviceBurst>(++lastSerial_))->Device = device;
    }
    THidDeviceBurst* FindBurst(std::uint32_t serial) const override {
        for (const auto& burst : bursts_)
            if (burst->Serial == serial)
                return burst.get();
        return nullptr;
    }
    void TakeReports(std::uint32_t) override {}
    void ClosePorts() override {
        for (const auto& burst : bursts_)
            ForgetBurst(*burst);
        bursts_.clear();
    }

private:
    std::vector<std::unique_ptr<THidDeviceBurst>> bursts_;
    std::uint32_t lastSerial_ = 0;
};
