#pragma once

// `modem` create parameters for the modem slots' tests: an empty number and
// called number, then whatever `edit` adds.

#include "asn1/modules/LGCP.hpp"

#include <functional>
#include <initializer_list>
#include <string>

namespace SlotsTest {

inline LGCP::CreateParams Modem(std::function<void(TERM::ModemParams&)> const& edit = {})
{
    LGCP::CreateParams c;
    TERM::ModemParams& p = c.select_modem();
    p.set_cid("");
    p.set_cdid("");
    if (edit)
        edit(p);
    return c;
}

inline void AddDdm(TERM::ModemParams& p, std::initializer_list<TERM::DigitalDataModeEnum::NamedNumber> modes)
{
    p.include_ddm();
    for (auto m : modes) {
        TERM::DigitalDataModeEnum e;
        e.setValue(m);
        p.get_ddm().push_back(e);
    }
}

inline void AddDmp(TERM::ModemParams& p, int offset, int value)
{
    if (!p.has_dmp())
        p.include_dmp();
    TERM::DDModemParam d;
    d.set_offset(offset);
    d.set_value(value);
    p.get_dmp().push_back(d);
}

// "arg0", "arg1", ...
inline void AddExecArgs(TERM::ModemParams& p, int count)
{
    p.include_execargs();
    for (int i = 0; i < count; ++i)
        p.get_execargs().push_back(ASN1::IA5String("arg" + std::to_string(i)));
}

} // namespace SlotsTest
