// The two SEQUENCE walks, their return codes, and the coding environment.
#include <gtest/gtest.h>

#include <sstream>

#include "asn1/support/coding.hpp"
#include "asn1/test_types.hpp"

using namespace ASN1;

namespace {

// Records the hooks a read-only walk calls.
class TraceVisitor : public ConstVisitor {
public:
    using ConstVisitor::do_visit;
    std::string trace;
    int failAtField = -1;

    bool do_visit(const AbstractData&) override { return true; }
    bool preVisitExtensionRoots(const SEQUENCE&) override
    {
        trace += "roots ";
        return true;
    }
    bool visitExtensionRoot(const SEQUENCE&, int index) override
    {
        trace += "r" + std::to_string(index) + " ";
        return index != failAtField;
    }
    bool preVisitExtensions(const SEQUENCE&) override
    {
        trace += "exts ";
        return true;
    }
    bool visitKnownExtension(const SEQUENCE&, int index) override
    {
        trace += "e" + std::to_string(index) + " ";
        return true;
    }
    bool afterVisitSequence(const SEQUENCE&) override
    {
        trace += "after";
        return true;
    }
};

// A changing visitor whose hooks answer scripted codes.
class ScriptedVisitor : public Visitor {
public:
    using Visitor::do_visit;
    int rootsCode = goOn, rootCode = goOn, extsCode = goOn, knownCode = goOn;
    bool unknownResult = true;
    std::string trace;

    bool do_visit(Null&) override { return true; }
    bool do_visit(BOOLEAN&) override { return true; }
    bool do_visit(INTEGER&) override { return true; }
    bool do_visit(ENUMERATED&) override { return true; }
    bool do_visit(OBJECT_IDENTIFIER&) override { return true; }
    bool do_visit(OCTET_STRING&) override { return true; }
    bool do_visit(BIT_STRING&) override { return true; }
    bool do_visit(AbstractString&) override { return true; }
    bool do_visit(BMPString&) override { return true; }
    bool do_visit(CHOICE&) override { return true; }
    bool do_visit(SEQUENCE_OF_Base&) override { return true; }
    bool do_visit(OpenData&) override { return true; }
    bool do_revisit(OpenData&) override { return true; }
    bool do_visit(TypeConstrainedOpenData&) override { return true; }
    bool do_visit(GeneralizedTime&) override { return true; }

    int preVisitExtensionRoots(SEQUENCE&) override
    {
        trace += "roots ";
        return rootsCode;
    }
    int visitExtensionRoot(SEQUENCE&, int index, int id) override
    {
        trace += "r" + std::to_string(index) + ":" + std::to_string(id) + " ";
        return rootCode;
    }
    int preVisitExtensions(SEQUENCE&) override
    {
        trace += "exts ";
        return extsCode;
    }
    int visitKnownExtension(SEQUENCE&, int index, int id) override
    {
        trace += "e" + std::to_string(index) + ":" + std::to_string(id) + " ";
        return knownCode;
    }
    bool visitUnknownExtensions(SEQUENCE&) override
    {
        trace += "unknown";
        return unknownResult;
    }
};

} // namespace

TEST(Asn1Visitors, ReadOnlyWalkSkipsAbsentFieldsAndEmptyExtensions)
{
    T::Params p; // a mandatory, b and c optional, three additions
    TraceVisitor v;
    EXPECT_TRUE(p.accept(v));
    EXPECT_EQ(v.trace, "roots r0 after");

    p.includeOptionalField(1, 2);
    p.includeOptionalField(4, 5); // addition 2
    TraceVisitor w;
    EXPECT_TRUE(p.accept(w));
    EXPECT_EQ(w.trace, "roots r0 r2 exts e5 after");

    TraceVisitor failing;
    failing.failAtField = 2;
    EXPECT_FALSE(p.accept(failing));
    EXPECT_EQ(failing.trace, "roots r0 r2 ");

    // An extension map with bits but none set still opens the extension part.
    p.removeOptionalField(4);
    TraceVisitor x;
    EXPECT_TRUE(p.accept(x));
    EXPECT_EQ(x.trace, "roots r0 r2 exts after");
}

TEST(Asn1Visitors, ReadOnlyDefaultsForwardToTheGenericVisit)
{
    struct Counter : ConstVisitor {
        using ConstVisitor::do_visit;
        int calls = 0;
        bool do_visit(const AbstractData&) override
        {
            ++calls;
            return true;
        }
    } counter;
    T::Level level;
    EXPECT_TRUE(level.accept(counter));
    T::InnerHolder holder;
    EXPECT_TRUE(holder.accept(counter)); // visited as OpenData
    T::Message m;
    EXPECT_FALSE(m.accept(counter)); // the default root hook fails
    EXPECT_EQ(counter.calls, 3);
}

TEST(Asn1Visitors, ChangingWalkReturnCodes)
{
    T::Params p;
    ScriptedVisitor all;
    EXPECT_TRUE(p.accept(all));
    EXPECT_EQ(all.trace, "roots r0:-1 r1:0 r2:1 exts e3:2 e4:3 e5:4 unknown");

    ScriptedVisitor rootOnly;
    rootOnly.rootsCode = Visitor::rootOnly;
    EXPECT_TRUE(p.accept(rootOnly));
    EXPECT_EQ(rootOnly.trace, "roots r0:-1 r1:0 r2:1 ");

    ScriptedVisitor finished;
    finished.rootsCode = Visitor::stop;
    EXPECT_TRUE(p.accept(finished));
    EXPECT_EQ(finished.trace, "roots ");

    ScriptedVisitor failed;
    failed.rootsCode = Visitor::fail;
    EXPECT_FALSE(p.accept(failed));

    ScriptedVisitor fieldStops;
    fieldStops.rootCode = Visitor::stop;
    EXPECT_TRUE(p.accept(fieldStops));
    EXPECT_EQ(fieldStops.trace, "roots r0:-1 ");
    ScriptedVisitor fieldFails;
    fieldFails.rootCode = Visitor::fail;
    EXPECT_FALSE(p.accept(fieldFails));

    ScriptedVisitor extsDone;
    extsDone.extsCode = Visitor::stop;
    EXPECT_TRUE(p.accept(extsDone));
    EXPECT_EQ(extsDone.trace, "roots r0:-1 r1:0 r2:1 exts ");
    ScriptedVisitor extsFail;
    extsFail.extsCode = Visitor::rootOnly; // anything but 3 ends the walk
    EXPECT_TRUE(p.accept(extsFail));
    extsFail.extsCode = Visitor::fail;
    EXPECT_FALSE(p.accept(extsFail));

    ScriptedVisitor knownStops;
    knownStops.knownCode = Visitor::stop;
    EXPECT_TRUE(p.accept(knownStops));
    EXPECT_EQ(knownStops.trace, "roots r0:-1 r1:0 r2:1 exts e3:2 ");
    ScriptedVisitor knownFails;
    knownFails.knownCode = Visitor::fail;
    EXPECT_FALSE(p.accept(knownFails));

    ScriptedVisitor unknownFails;
    unknownFails.unknownResult = false;
    EXPECT_FALSE(p.accept(unknownFails));

    // Defaults of the base: roots and extensions continue, fields fail.
    struct Bare : ScriptedVisitor {
        int preVisitExtensionRoots(SEQUENCE& s) override { return Visitor::preVisitExtensionRoots(s); }
        int visitExtensionRoot(SEQUENCE& s, int i, int id) override
        {
            return Visitor::visitExtensionRoot(s, i, id);
        }
    } bare;
    EXPECT_FALSE(p.accept(bare));
}

TEST(Asn1Visitors, NamedNumberIntegerVisitsAsInteger)
{
    struct IntOnly : ScriptedVisitor {
        int ints = 0;
        bool do_visit(INTEGER&) override
        {
            ++ints;
            return true;
        }
    } v;
    T::Level level;
    EXPECT_TRUE(level.accept(v));
    EXPECT_EQ(v.ints, 1);
}

TEST(Asn1CoderEnv, RulesAndUntouchedOutputOnFailure)
{
    T::Message m;
    m.set_slot(5);
    m.get_pdu().select(2);
    std::vector<char> out = {'\x11', '\x22'};
    for (int rule : {7, -1}) { // 0 and 1 are the value-notation and BER coders
        CoderEnv env(rule);
        EXPECT_FALSE(encode(m, &env, std::back_inserter(out))) << rule;
        EXPECT_EQ(out, (std::vector<char>{'\x11', '\x22'})) << rule;
        T::Message target;
        const char bytes[] = {'\x40', '\x00'};
        EXPECT_FALSE(decode(bytes, bytes + 2, &env, target, true)) << rule;
    }

    // A value that fails in the middle (a CHOICE with nothing selected deep
    // inside, after the slot has been written) leaves the output as it was.
    T::Message broken;
    broken.set_slot(5);
    broken.get_pdu().select_command().select(8);
    broken.get_pdu().alternativeAs<T::Command>().setSelection(2, nullptr);
    CoderEnv env;
    EXPECT_FALSE(encode(broken, &env, std::back_inserter(out)));
    EXPECT_EQ(out, (std::vector<char>{'\x11', '\x22'}));

    // Success appends.
    ASSERT_TRUE(encode(m, &env, std::back_inserter(out)));
    EXPECT_EQ(ASN1Test::hex(out), "11 22 40 00 05 80 00");
    EXPECT_TRUE(env.modules.empty());
}
