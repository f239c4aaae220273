// The control functions of the stand-in winusb.dll that zorek.dll loaded.
#pragma once

#include <windows.h>

#include "standin.h"

class StandInControl {
public:
    StandInControl() : module_(GetModuleHandleW(L"winusb.dll")) {
        reset_ = Get<StandIn::ResetFunction>(StandIn::ResetName);
        attach_ = Get<StandIn::AttachFunction>(StandIn::AttachName);
        configure_ = Get<StandIn::ConfigureFunction>(StandIn::ConfigureName);
        read_ = Get<StandIn::ReadFunction>(StandIn::ReadName);
        totals_ = Get<StandIn::TotalsFunction>(StandIn::TotalsName);
        faultSite_ = Get<StandIn::FaultSiteFunction>(StandIn::FaultSiteName);
    }

    // False when the winusb.dll in the process is not the stand-in.
    bool Loaded() const { return reset_ && attach_ && configure_ && read_ && totals_ && faultSite_; }

    void Reset() const { reset_(); }
    int Attach(const std::wstring& pipeName, const StandIn::Setup& setup = {}) const {
        return attach_(pipeName.c_str(), &setup);
    }
    bool Configure(int slot, const StandIn::Setup& setup) const { return configure_(slot, &setup); }
    StandIn::Record Record(int slot) const {
        StandIn::Record record;
        ZorekInstrument::State state;
        read_(slot, &record, &state);
        return record;
    }
    ZorekInstrument::State State(int slot) const {
        StandIn::Record record;
        ZorekInstrument::State state;
        read_(slot, &record, &state);
        return state;
    }
    const void* FaultSite() const { return faultSite_(); }
    StandIn::Totals Totals() const {
        StandIn::Totals totals;
        totals_(&totals);
        return totals;
    }

private:
    template <typename F>
    F Get(const char* name) const {
        return module_ == nullptr ? nullptr
                                  : reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module_, name)));
    }

    HMODULE module_;
    StandIn::ResetFunction reset_;
    StandIn::AttachFunction attach_;
    StandIn::ConfigureFunction configure_;
    StandIn::ReadFunction read_;
    StandIn::TotalsFunction totals_;
    StandIn::FaultSiteFunction faultSite_;
};
