#pragma once

// tshark's reading of tapped link frames (LAPD, Q.921, and MTP2, Q.703):
// one row per frame, each field under its tshark name.

#include "signalling/kit/tap.hpp"

#include <map>
#include <string>
#include <vector>

namespace SigTest {

using Fields = std::map<std::string, std::string>;

// Fields of each frame: lapd.direction, lapd.sapi, lapd.cr, lapd.tei,
// lapd.control.ftype, lapd.control.n_s, lapd.control.n_r, lapd.control.p,
// lapd.control.f, lapd.control.s_ftype, lapd.control.u_modifier_cmd,
// lapd.control.u_modifier_resp, tei.reference, tei.msg, tei.action,
// q931.call_ref_len, q931.call_ref, q931.call_ref_flag, q931.message_type,
// q931.information_element, q931.cause_value and _ws.expert.message
// (several values of one field are joined with ';'). The frames' tap labels
// give the direction: 'O' user side, 'I' network side. Without `q931`, I
// frames are not read as Q.931 (for test octets that are not).
std::vector<Fields> LapdFields(const std::vector<TapFrame>& frames, bool q931 = true,
                               std::string* errors = nullptr);

// Fields of each signal unit (no frame check sequence, 7-bit sequence
// numbers): mtp2.bsn, mtp2.bib, mtp2.fsn, mtp2.fib, mtp2.li, mtp2.sf,
// mtp2.li.bad and _ws.expert.message.
std::vector<Fields> Mtp2Fields(const std::vector<TapFrame>& frames, std::string* errors = nullptr);

} // namespace SigTest
