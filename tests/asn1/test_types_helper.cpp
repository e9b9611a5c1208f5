#include <iterator>

#include "asn1/test_types.hpp"

namespace T {

using namespace ASN1;

constinit const char* const ErrorCause_enum_names__[] = {"invalidParams",     "insufficientResources",
                                                         "invalidSlot",       "slotNotExists",
                                                         "unexpectedMsgType", "internal",
                                                         "unsupported",       "reconnectionFail",
                                                         "disconnectFail",    "connectFail",
                                                         "busError",          "slotIdBusy",
                                                         "destroyInProgress"};
constinit const EnumeratedTypeInfo ErrorCause::theInfo = {type_header<ErrorCause>(tag::ENUMERATED), false, 12,
                                                          ErrorCause_enum_names__,
                                                          std::size(ErrorCause_enum_names__)};

constinit const char* const StandbyState_enum_names__[] = {"initial", "learn",     "listen",
                                                           "speak=4", "standby=8", "active=16"};
constinit const EnumeratedTypeInfo StandbyState::theInfo = {type_header<StandbyState>(tag::ENUMERATED), false,
                                                            16, StandbyState_enum_names__,
                                                            std::size(StandbyState_enum_names__)};

constinit const char* const RadioStandby_enum_names__[] = {"not-use=-1", "active", "standby"};
constinit const EnumeratedTypeInfo RadioStandby::theInfo = {type_header<RadioStandby>(tag::ENUMERATED), false,
                                                            1, RadioStandby_enum_names__,
                                                            std::size(RadioStandby_enum_names__)};

constinit const char* const Colour_enum_names__[] = {"red", "green", "blue"};
constinit const EnumeratedTypeInfo Colour::theInfo = {type_header<Colour>(tag::ENUMERATED), true, 2,
                                                      Colour_enum_names__, std::size(Colour_enum_names__)};

constinit const TypeInfo* const Response_selectionInfos[] = {&Null::theInfo, &ErrorCause::theInfo};
constinit const char* const Response_selectionNames[] = {"success", "error"};
constinit const ChoiceTypeInfo Response::theInfo = {
    type_header<Response>(0), false, Response_selectionInfos, 2, 2, nullptr, Response_selectionNames};

constinit const TypeInfo* const Command_selectionInfos[] = {
    &Null::theInfo, &Null::theInfo, &Slot::theInfo, &Null::theInfo,         &Null::theInfo,
    &Null::theInfo, &Null::theInfo, &Null::theInfo, &OCTET_STRING::theInfo, &Null::theInfo,
    &Null::theInfo, &Null::theInfo, &Null::theInfo, &Null::theInfo,         &Null::theInfo};
constinit const char* const Command_selectionNames[] = {
    "query",    "testBpc", "connect",  "disconnect", "create", "destroy", "activate", "deactivate",
    "userData", "ioctl",   "trunkCfg", "clockCfg",   "ping",   "display", "protoVeze"};
constinit const ChoiceTypeInfo Command::theInfo = {
    type_header<Command>(0), true, Command_selectionInfos, 15, 15, nullptr, Command_selectionNames};

constinit const TypeInfo* const PDU_selectionInfos[] = {&Command::theInfo, &Response::theInfo,
                                                        &IA5String::theInfo};
constinit const char* const PDU_selectionNames[] = {"command", "response", "signal"};
constinit const ChoiceTypeInfo PDU::theInfo = {type_header<PDU>(0), false, PDU_selectionInfos, 3, 3, nullptr,
                                               PDU_selectionNames};

constinit const TypeInfo* const Message_fieldInfos[] = {&INTEGER::theInfo, &Slot::theInfo, &PDU::theInfo};
constinit const int Message_fieldIds[] = {0, 1, -1};
constinit const char* const Message_fieldNames[] = {"seq", "slot", "pdu"};
constinit const SequenceTypeInfo Message::theInfo = {type_header<Message>(tag::SEQUENCE),
                                                     false,
                                                     Message_fieldInfos,
                                                     Message_fieldIds,
                                                     3,
                                                     0,
                                                     2,
                                                     nullptr,
                                                     nullptr,
                                                     Message_fieldNames};

constinit const TypeInfo* const Inner_fieldInfos[] = {&Byte::theInfo, &BOOLEAN::theInfo};
constinit const int Inner_fieldIds[] = {-1, 0};
constinit const char* const Inner_fieldNames[] = {"x", "flag"};
constinit const SequenceTypeInfo Inner::theInfo = {type_header<Inner>(tag::SEQUENCE),
                                                   false,
                                                   Inner_fieldInfos,
                                                   Inner_fieldIds,
                                                   2,
                                                   0,
                                                   1,
                                                   nullptr,
                                                   nullptr,
                                                   Inner_fieldNames};

constinit const TypeInfo* const Params_fieldInfos[] = {&Byte::theInfo,         &BOOLEAN::theInfo,
                                                       &IA5String::theInfo,    &BOOLEAN::theInfo,
                                                       &OCTET_STRING::theInfo, &Inner::theInfo};
constinit const int Params_fieldIds[] = {-1, 0, 1, 0, 0, 0};
constinit const char* const Params_fieldNames[] = {"a", "b", "c", "e1", "e2", "e3"};
constinit const SequenceTypeInfo Params::theInfo = {type_header<Params>(tag::SEQUENCE),
                                                    true,
                                                    Params_fieldInfos,
                                                    Params_fieldIds,
                                                    3,
                                                    3,
                                                    2,
                                                    nullptr,
                                                    nullptr,
                                                    Params_fieldNames};

constinit const TypeInfo* const ParamsV2_fieldInfos[] = {
    &Byte::theInfo,         &BOOLEAN::theInfo, &IA5String::theInfo, &BOOLEAN::theInfo,
    &OCTET_STRING::theInfo, &Inner::theInfo,   &INTEGER::theInfo};
constinit const int ParamsV2_fieldIds[] = {-1, 0, 1, 0, 0, 0, 0};
constinit const char* const ParamsV2_fieldNames[] = {"a", "b", "c", "e1", "e2", "e3", "e4"};
constinit const SequenceTypeInfo ParamsV2::theInfo = {type_header<ParamsV2>(tag::SEQUENCE),
                                                      true,
                                                      ParamsV2_fieldInfos,
                                                      ParamsV2_fieldIds,
                                                      3,
                                                      4,
                                                      2,
                                                      nullptr,
                                                      nullptr,
                                                      ParamsV2_fieldNames};

constinit const TypeInfo* const ExtChoice_selectionInfos[] = {&INTEGER::theInfo, &BOOLEAN::theInfo,
                                                              &IA5String::theInfo};
constinit const char* const ExtChoice_selectionNames[] = {"a", "b", "c"};
constinit const ChoiceTypeInfo ExtChoice::theInfo = {
    type_header<ExtChoice>(0), true, ExtChoice_selectionInfos, 2, 3, nullptr, ExtChoice_selectionNames};

constinit const TypeInfo* const ExtChoiceV2_selectionInfos[] = {&INTEGER::theInfo, &BOOLEAN::theInfo,
                                                                &IA5String::theInfo, &Inner::theInfo};
constinit const char* const ExtChoiceV2_selectionNames[] = {"a", "b", "c", "d"};
constinit const ChoiceTypeInfo ExtChoiceV2::theInfo = {
    type_header<ExtChoiceV2>(0), true, ExtChoiceV2_selectionInfos, 2, 4, nullptr, ExtChoiceV2_selectionNames};

constinit const StringTypeInfo Name::theInfo = {
    {type_header<Name>(tag::IA5String), RangeConstraint, 1, 64}, IA5StringSet, 128, 7, 7, 8};
constinit const StringTypeInfo LongText::theInfo = {
    {type_header<LongText>(tag::IA5String), RangeConstraint, 0, 65535}, IA5StringSet, 128, 7, 7, 8};
constinit const ConstrainedTypeInfo LongBytes::theInfo = {type_header<LongBytes>(tag::OCTET_STRING),
                                                          RangeConstraint, 0, 65535};
constinit const StringTypeInfo Digits2::theInfo = {
    {type_header<Digits2>(tag::NumericString), RangeConstraint, 2, 2}, NumericStringSet, 11, 4, 4, 4};
constinit const ConstrainedTypeInfo Flags::theInfo = {type_header<Flags>(tag::BIT_STRING), ExtensibleRange, 0,
                                                      20};
constinit const ConstrainedTypeInfo Quad::theInfo = {type_header<Quad>(tag::OCTET_STRING), RangeConstraint, 4,
                                                     4};
constinit const BMPStringTypeInfo Wide::theInfo = {
    {type_header<Wide>(tag::BMPString), RangeConstraint, 0, 8}, 0, 0xFFFF, 16, 16};
constinit const ConstrainedTypeInfo Ext10::theInfo = {type_header<Ext10>(tag::INTEGER), ExtensibleRange, 0,
                                                      10};
constinit const ConstrainedTypeInfo From5::theInfo = {type_header<From5>(tag::INTEGER), LowerBoundOnly, 5,
                                                      0xFFFFFFFF};

constinit const NamedNumber Level_names[] = {{1, "low"}, {5, "mid"}, {9, "high"}};
constinit const NamedIntegerTypeInfo Level::theInfo = {
    {type_header<Level>(tag::INTEGER), RangeConstraint, 0, 15}, Level_names, std::size(Level_names)};

constinit const SequenceOfTypeInfo SmallList::theInfo = {
    {type_header<SmallList>(tag::SEQUENCE), RangeConstraint, 0, 3}, &Byte::theInfo};

constinit const OpenTypeInfo InnerHolder::theInfo = {type_header<InnerHolder>(0), &Inner::theInfo};

constinit const TypeInfo* const Everything_fieldInfos[] = {&Null::theInfo,
                                                           &BOOLEAN::theInfo,
                                                           &INTEGER::theInfo,
                                                           &Signed8::theInfo,
                                                           &U32::theInfo,
                                                           &Slot::theInfo,
                                                           &Ext10::theInfo,
                                                           &From5::theInfo,
                                                           &Level::theInfo,
                                                           &ErrorCause::theInfo,
                                                           &StandbyState::theInfo,
                                                           &Colour::theInfo,
                                                           &OBJECT_IDENTIFIER::theInfo,
                                                           &Flags::theInfo,
                                                           &BIT_STRING::theInfo,
                                                           &OCTET_STRING::theInfo,
                                                           &Quad::theInfo,
                                                           &NumericString::theInfo,
                                                           &PrintableString::theInfo,
                                                           &VisibleString::theInfo,
                                                           &GeneralString::theInfo,
                                                           &Name::theInfo,
                                                           &IA5String::theInfo,
                                                           &Wide::theInfo,
                                                           &GeneralizedTime::theInfo,
                                                           &Response::theInfo,
                                                           &Command::theInfo,
                                                           &ExtChoice::theInfo,
                                                           &SEQUENCE_OF<INTEGER>::theInfo,
                                                           &SmallList::theInfo,
                                                           &OpenData::theInfo,
                                                           &InnerHolder::theInfo,
                                                           &Params::theInfo,
                                                           &Message::theInfo};
constinit const int Everything_fieldIds[] = {-1, -1, -1, 0,  1,  2,  3,  4,  5,  6,  7,  8,
                                             9,  10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20,
                                             21, 22, 23, 24, 25, 26, 27, 28, 29, 30};
constinit const char* const Everything_fieldNames[] = {
    "null",       "boolean", "integer", "signed8", "u32",    "slot",   "ext10",  "from5",    "level",
    "errorCause", "standby", "colour",  "oid",     "flags",  "bits",   "octets", "quad",     "numeric",
    "printable",  "visible", "general", "name",    "ia5",    "wide",   "time",   "response", "command",
    "extChoice",  "ints",    "small",   "open",    "holder", "params", "message"};
static_assert(std::size(Everything_fieldInfos) == Everything::fieldCount_);
static_assert(std::size(Everything_fieldIds) == Everything::fieldCount_);
static_assert(std::size(Everything_fieldNames) == Everything::fieldCount_);
constinit const SequenceTypeInfo Everything::theInfo = {type_header<Everything>(tag::SEQUENCE),
                                                        true,
                                                        Everything_fieldInfos,
                                                        Everything_fieldIds,
                                                        Everything::fieldCount_,
                                                        0,
                                                        31,
                                                        nullptr,
                                                        nullptr,
                                                        Everything_fieldNames};

} // namespace T
