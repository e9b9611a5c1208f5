// PER aligned coding of a control-message envelope and of a SEQUENCE OF.
#include <benchmark/benchmark.h>

#include <iterator>

#include "asn1/asn1.hpp"

namespace B {

using Slot = ASN1::Constrained_INTEGER<ASN1::RangeConstraint, 0, 1023>;

class PDU : public ASN1::CHOICE {
public:
    static const ASN1::ChoiceTypeInfo theInfo;
    PDU() : ASN1::CHOICE(&theInfo) {}
    explicit PDU(const info_type* info) : ASN1::CHOICE(info) {}
    PDU(ASN1::CopyTag, const runtime_class& other) : ASN1::CHOICE(ASN1::copy_tag, other) {}
};

class Message : public ASN1::SEQUENCE {
public:
    static const ASN1::SequenceTypeInfo theInfo;
    Message() : ASN1::SEQUENCE(&theInfo) {}
    explicit Message(const info_type* info) : ASN1::SEQUENCE(info) {}
    Message(ASN1::CopyTag, const runtime_class& other) : ASN1::SEQUENCE(ASN1::copy_tag, other) {}
};

constinit const ASN1::TypeInfo* const PDU_selectionInfos[] = {
    &ASN1::Null::theInfo, &ASN1::SEQUENCE_OF<ASN1::INTEGER>::theInfo, &ASN1::IA5String::theInfo};
constinit const char* const PDU_selectionNames[] = {"ping", "list", "text"};
constinit const ASN1::ChoiceTypeInfo PDU::theInfo = {
    ASN1::type_header<PDU>(0), true, PDU_selectionInfos, 3, 3, nullptr, PDU_selectionNames};

constinit const ASN1::TypeInfo* const Message_fieldInfos[] = {&ASN1::INTEGER::theInfo, &Slot::theInfo,
                                                              &PDU::theInfo};
constinit const int Message_fieldIds[] = {0, 1, -1};
constinit const char* const Message_fieldNames[] = {"seq", "slot", "pdu"};
constinit const ASN1::SequenceTypeInfo Message::theInfo = {ASN1::type_header<Message>(ASN1::tag::SEQUENCE),
                                                           false,
                                                           Message_fieldInfos,
                                                           Message_fieldIds,
                                                           3,
                                                           0,
                                                           2,
                                                           nullptr,
                                                           nullptr,
                                                           Message_fieldNames};

Message make(int elements)
{
    Message m;
    m.fieldForWrite<ASN1::INTEGER>(0).setValue(123456);
    m.fieldForWrite<Slot>(1) = 1000u;
    auto& pdu = m.fieldAs<PDU>(2);
    if (elements == 0) {
        pdu.select(0);
    } else {
        auto& list = pdu.selectAs<ASN1::SEQUENCE_OF<ASN1::INTEGER>>(1);
        list.resize(static_cast<std::size_t>(elements));
        for (int i = 0; i < elements; ++i)
            list[static_cast<std::size_t>(i)].setValue(i * 1000);
    }
    return m;
}

} // namespace B

static void BM_EncodeMessage(benchmark::State& state)
{
    const B::Message m = B::make(static_cast<int>(state.range(0)));
    std::vector<char> out;
    for (auto _ : state) {
        out.clear();
        ASN1::CoderEnv env;
        benchmark::DoNotOptimize(ASN1::encode(m, &env, std::back_inserter(out)));
    }
}
BENCHMARK(BM_EncodeMessage)->Arg(0)->Arg(32);

static void BM_DecodeMessage(benchmark::State& state)
{
    const B::Message m = B::make(static_cast<int>(state.range(0)));
    std::vector<char> bytes;
    ASN1::CoderEnv env;
    ASN1::encode(m, &env, std::back_inserter(bytes));
    for (auto _ : state) {
        B::Message target;
        benchmark::DoNotOptimize(ASN1::decode(bytes.data(), bytes.data() + bytes.size(), &env, target, true));
    }
}
BENCHMARK(BM_DecodeMessage)->Arg(0)->Arg(32);
