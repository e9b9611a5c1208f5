// Descriptors of the LGCP stand-in (see standin/asn1/modules/LGCP.hpp).

#include "asn1/modules/LGCP.hpp"

#include <iterator>

namespace LGCP {

using namespace ASN1;

constinit const char* const ErrorCause_enum_names__[] = {
    "invalidParams", "insufficientResources", "invalidSlot", "slotNotExists",
    "unexpectedMsgType", "internal", "unsupported", "reconnectionFail", "disconnectFail",
    "connectFail", "busError", "slotIdBusy", "destroyInProgress"};
constinit const EnumeratedTypeInfo ErrorCause::theInfo = {
    type_header<ErrorCause>(tag::ENUMERATED), true, 12, ErrorCause_enum_names__,
    std::size(ErrorCause_enum_names__)};

constinit const TypeInfo* const Response_selectionInfos[] = {&Null::theInfo, &ErrorCause::theInfo};
constinit const char* const Response_selectionNames[] = {"success", "error"};
constinit const ChoiceTypeInfo Response::theInfo = {
    type_header<Response>(0), false, Response_selectionInfos, 2, 2, nullptr, Response_selectionNames};

constinit const TypeInfo* const Command_selectionInfos[] = {
    &Null::theInfo, &Null::theInfo, &Slot::theInfo, &Null::theInfo, &Null::theInfo,
    &Null::theInfo, &Null::theInfo, &Null::theInfo, &OCTET_STRING::theInfo, &Null::theInfo,
    &Null::theInfo, &Null::theInfo, &Null::theInfo, &Null::theInfo, &Null::theInfo};
constinit const char* const Command_selectionNames[] = {
    "query", "testBpc", "connect", "disconnect", "create", "destroy", "activate", "deactivate",
    "userData", "ioctl", "trunkCfg", "clockCfg", "ping", "display", "protoVeze"};
constinit const ChoiceTypeInfo Command::theInfo = {
    type_header<Command>(0), true, Command_selectionInfos, 15, 15, nullptr, Command_selectionNames};

constinit const TypeInfo* const Signal_selectionInfos[] = {
    &Null::theInfo, &Null::theInfo, &IA5String::theInfo, &Null::theInfo, &Null::theInfo,
    &Null::theInfo, &Null::theInfo, &INTEGER::theInfo, &OCTET_STRING::theInfo, &Null::theInfo,
    &Null::theInfo, &Null::theInfo, &Null::theInfo, &Null::theInfo, &Null::theInfo,
    &Null::theInfo, &Null::theInfo, &Null::theInfo, &Null::theInfo, &Null::theInfo,
    &Null::theInfo, &Null::theInfo, &Null::theInfo};
constinit const char* const Signal_selectionNames[] = {
    "query", "tonec", "number", "modemProceeding", "modemInformation", "activated",
    "deactivated", "abort", "userData", "receiver", "transmitter", "trunkStatus", "ioctl",
    "loadAvg", "cas", "rtpExt", "vad", "power", "protoVeze", "sd", "bss", "rtp", "selcal"};
constinit const ChoiceTypeInfo Signal::theInfo = {
    type_header<Signal>(0), true, Signal_selectionInfos, 23, 23, nullptr, Signal_selectionNames};

constinit const TypeInfo* const PDU_selectionInfos[] = {&Command::theInfo, &Response::theInfo,
                                                         &Signal::theInfo};
constinit const char* const PDU_selectionNames[] = {"command", "response", "signal"};
constinit const ChoiceTypeInfo PDU::theInfo = {
    type_header<PDU>(0), false, PDU_selectionInfos, 3, 3, nullptr, PDU_selectionNames};

constinit const TypeInfo* const Message_fieldInfos[] = {&INTEGER::theInfo, &Slot::theInfo,
                                                         &PDU::theInfo};
constinit const int Message_fieldIds[] = {0, 1, -1};
constinit const char* const Message_fieldNames[] = {"seq", "slot", "pdu"};
constinit const SequenceTypeInfo Message::theInfo = {
    type_header<Message>(tag::SEQUENCE), false, Message_fieldInfos, Message_fieldIds, 3, 0, 2,
    nullptr, nullptr, Message_fieldNames};

} // namespace LGCP
