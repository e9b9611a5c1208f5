#include "slots/slots.hpp"

#include "control/ctrl_server.hpp"
#include "slots/connection.hpp"
#include "slots/slot.hpp"
#include "slots/slot_factory.hpp"

#include <algorithm>
#include <iostream>

#include <unistd.h>

Slots::Slots() : pause_([] { ::sleep(1); })
{}

Slots::~Slots()
{
    while (!slots_.empty())
        int_destroy(slots_.front());
}

bool Slots::OnCommand(LGCP::Command const& command)
{
    if (!IsSlotPresent()) {
        if (!command.is_query())
            return false;
        CmdQuery();
        return true;
    }
    if (command.is_connect()) {
        CmdConnect(command.get_connect().getValue());
    } else if (command.is_disconnect()) {
        CmdDisconnect();
    } else if (command.is_create()) {
        CmdCreate(command.get_create());
    } else if (command.is_destroy()) {
        CmdDestroy();
    } else if (command.is_activate()) {
        if (Slot* s = Addressed())
            s->IActivate(command.get_activate()) ? Success() : Error(LGCP::ErrorCause::unsupported);
    } else if (command.is_deactivate()) {
        if (Slot* s = Addressed())
            s->IDeactivate() ? Success() : Error(LGCP::ErrorCause::unsupported);
    } else if (command.is_userData()) {
        if (Slot* s = Addressed())
            s->IUserData(command.get_userData()) ? Success() : Error(LGCP::ErrorCause::unsupported);
    } else if (command.is_ioctl()) {
        if (Slot* s = Addressed())
            s->Ioctl(command.get_ioctl()) ? Success() : Error(LGCP::ErrorCause::unsupported);
    } else {
        return false;
    }
    return true;
}

Slot* Slots::Addressed()
{
    Slot* s = Get(GetSlot());
    if (s == nullptr)
        Error(LGCP::ErrorCause::slotNotExists);
    return s;
}

void Slots::CmdQuery()
{
    Success();
    UpdateHardwareResources();
}

void Slots::CmdConnect(unsigned int target)
{
    if (!CheckSlot(target)) {
        Error(LGCP::ErrorCause::invalidSlot);
        return;
    }
    Slot* source = Get(GetSlot());
    Slot* listener = table_[target];
    if (source == nullptr || listener == nullptr) {
        Error(LGCP::ErrorCause::slotNotExists);
        return;
    }
    // A slot on its way out takes no new connection: it would outlive the
    // slot in the other's links.
    if (source->destroying || listener->destroying) {
        Error(LGCP::ErrorCause::destroyInProgress);
        return;
    }
    if (Connect(*source, *listener))
        Success();
    else
        Error(LGCP::ErrorCause::connectFail);
}

void Slots::CmdDisconnect()
{
    if (Slot* s = Addressed())
        Disconnect(*s) ? Success() : Error(LGCP::ErrorCause::disconnectFail);
}

void Slots::CmdCreate(LGCP::CreateParams const& params)
{
    unsigned int n = GetSlot();
    if (!CheckSlot(n)) {
        Error(LGCP::ErrorCause::invalidSlot);
        return;
    }
    if (Slot* old = table_[n]) {
        if (old->destroying) {
            Error(LGCP::ErrorCause::destroyInProgress);
            return;
        }
        Destroy(old);
        if (table_[n] != nullptr) {
            Error(LGCP::ErrorCause::slotIdBusy);
            return;
        }
    }
    for (SlotFactory* f = firstFactory; f != nullptr; f = f->next) {
        Slot* s = f->NewSlot(params);
        if (s == nullptr)
            continue;
        s->id = n;
        slots_.push_back(s);
        table_[n] = s;
        // The host hears of the slot before any signal of it.
        Success();
        s->IAfterCreate();
        return;
    }
    Error(LGCP::ErrorCause::insufficientResources);
}

void Slots::CmdDestroy()
{
    Slot* s = Addressed();
    if (s == nullptr)
        return;
    if (s->destroying) {
        Error(LGCP::ErrorCause::destroyInProgress);
        return;
    }
    if (Destroy(s)) {
        Success();
        return;
    }
    // Only a destroy command waits for the postponed end.
    s->delayedSeqPresent = IsSeqPresent();
    s->delayedSeq = delayResponse();
    s->delayedResponse = true;
}

bool Slots::Destroy(Slot* s)
{
    if (s->destroying)
        return false;
    Disconnect(*s);
    for (std::size_t k = s->listeners.size(); k > 0; --k) {
        if (s->listeners.empty()) {
            std::cerr << "mux internal error: expected slots not exists." << std::endl;
            break;
        }
        Disconnect(*s->listeners.front());
    }
    if (!s->listeners.empty())
        std::cerr << "mux internal error: unexpected slots exists." << std::endl;
    s->destroying = true;
    if (!s->BeforeDestroy())
        return false;
    int_destroy(s);
    return true;
}

void Slots::on_release(Slot* s)
{
    if (s->delayedResponse)
        delayedSuccess(s->id, s->delayedSeq, s->delayedSeqPresent);
    int_destroy(s);
}

void Slots::int_destroy(Slot* s)
{
    slots_.erase(std::remove(slots_.begin(), slots_.end(), s), slots_.end());
    if (CheckSlot(s->id) && table_[s->id] == s)
        table_[s->id] = nullptr;
    // No slot may keep pointing at this one once it is freed.
    Disconnect(*s);
    while (!s->listeners.empty())
        Disconnect(*s->listeners.front());
    delete s;
}

void Slots::OnDisconnect()
{
    // Stragglers (postponed ends) are kept by number and pointer: one that
    // completes meanwhile is not deleted twice.
    std::vector<std::pair<std::uint32_t, Slot*>> stragglers;
    while (!slots_.empty()) {
        Slot* s = slots_.front();
        if (s->destroying || !Destroy(s)) {
            slots_.erase(std::find(slots_.begin(), slots_.end(), s));
            stragglers.emplace_back(s->id, s);
        }
    }
    pause_();
    for (auto [n, s] : stragglers)
        if (CheckSlot(n) && table_[n] == s)
            int_destroy(s);
}

void Slots::OnSignal(LGCP::Signal const& signal)
{
    if (!signal.is_trunkStatus())
        return;
    for (SlotFactory* f = firstFactory; f != nullptr; f = f->next)
        f->SelfSignal(signal);
}

void Slots::UpdateHardwareResources()
{
    LGCP::Signal signal;
    LGCP::Resources& r = signal.select_query();
    r.set_rtp_g729(0);
    r.set_rtp_g723(0);
    r.set_rtp_g711(0);
    r.set_rtp_g711mcc(0);
    r.set_rtp_g722(0);
    r.set_modem(0);
    r.set_mcc_data(0);
    r.set_mcc_bri(0);
    r.set_mcc_trans(0);
    r.set_t38_instances(0);
    r.set_digital_modems(0);
    r.set_lin16(0);
    r.set_mux(true);
    for (SlotFactory* f = firstFactory; f != nullptr; f = f->next)
        f->Query(r);
    SendSignal(signal);
}
