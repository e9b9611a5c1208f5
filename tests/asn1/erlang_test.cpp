// Erlang's asn1 PER coder decodes what we encode and encodes what we decode.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>

#include "asn1/support/coding.hpp"
#include "asn1/test_types.hpp"

using namespace ASN1;
namespace fs = std::filesystem;

namespace {

struct ErlangTool {
    fs::path dir;

    static bool available()
    {
        return std::system("command -v erlc >/dev/null 2>&1 && command -v escript >/dev/null 2>&1") == 0;
    }

    bool setUp()
    {
        char pattern[] = "/tmp/gw-asn1-erlang-XXXXXX";
        if (mkdtemp(pattern) == nullptr)
            return false;
        dir = pattern;
        const fs::path src = GW_ASN1_ERLANG_DIR;
        fs::copy_file(src / "T.asn", dir / "T.asn");
        fs::copy_file(src / "per_check.escript", dir / "per_check.escript");
        const std::string cmd = "cd '" + dir.string() + "' && erlc -bper T.asn >erlc.log 2>&1";
        if (std::system(cmd.c_str()) == 0)
            return true;
        std::ifstream log(dir / "erlc.log");
        ADD_FAILURE() << std::string(std::istreambuf_iterator<char>(log), {});
        return false;
    }

    // One output line per input line.
    std::vector<std::string> run(const std::vector<std::string>& lines)
    {
        std::ofstream(dir / "cases") << [&] {
            std::string all;
            for (const auto& l : lines)
                all += l + "\n";
            return all;
        }();
        const std::string cmd = "cd '" + dir.string() + "' && escript per_check.escript . cases >out 2>err";
        EXPECT_EQ(std::system(cmd.c_str()), 0);
        std::vector<std::string> out;
        std::ifstream in(dir / "out");
        for (std::string line; std::getline(in, line);)
            out.push_back(line);
        return out;
    }

    ~ErlangTool()
    {
        std::error_code ec;
        if (!dir.empty())
            fs::remove_all(dir, ec);
    }
};

std::string upper(std::string hex)
{
    std::string out;
    for (char c : hex)
        if (c != ' ')
            out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

struct DecodeCase {
    std::string type;
    std::function<AbstractData*()> make;
    std::string term;
    bool sameEncoding;
};

} // namespace

TEST(Asn1PerErlang, ErlangAgreesWithOurEncodings)
{
    if (!ErlangTool::available())
        GTEST_SKIP() << "erlc not installed";
    ErlangTool erl;
    ASSERT_TRUE(erl.setUp());

    auto message = [](auto fill) {
        return [fill]() -> AbstractData* {
            auto* m = new T::Message;
            fill(*m);
            return m;
        };
    };
    auto leaf = [](auto fill) { return [fill]() -> AbstractData* { return fill(); }; };
    const std::vector<DecodeCase> cases = {
        {"Message", message([](T::Message& m) {
             m.set_seq(5);
             m.set_slot(3);
             m.get_pdu().select_command().select(5);
         }),
         "{'Message',5,3,{command,{destroy,'NULL'}}}", true},
        {"Message", message([](T::Message& m) {
             m.set_slot(1023);
             m.get_pdu().select(1);
             m.get_pdu().alternativeAs<T::Response>().selectAs<T::ErrorCause>(1).setValue(12);
         }),
         "{'Message',asn1_NOVALUE,1023,{response,{error,destroyInProgress}}}", true},
        {"Message", message([](T::Message& m) {
             m.set_seq(-129);
             m.get_pdu().selectAs<AbstractString>(2) = "hi";
         }),
         "{'Message',-129,asn1_NOVALUE,{signal,[104,105]}}", true},
        {"Message", message([](T::Message& m) {
             m.set_seq(INT_MIN);
             m.get_pdu().select_command().selectAs<T::Slot>(2) = 700u;
         }),
         "{'Message',-2147483648,asn1_NOVALUE,{command,{connect,700}}}", true},
        {"Message", message([](T::Message& m) {
             m.get_pdu().select_command().selectAs<OCTET_STRING>(8) = std::string_view("abc");
         }),
         "{'Message',asn1_NOVALUE,asn1_NOVALUE,{command,{userData,<<97,98,99>>}}}", true},
        {"Params", leaf([] {
             auto* p = new T::Params;
             p->get_a() = 5u;
             p->set_c("hi");
             p->fieldForWrite<OCTET_STRING>(4) = std::string_view("xyz");
             return p;
         }),
         "{'Params',5,asn1_NOVALUE,[104,105],asn1_NOVALUE,<<120,121,122>>,asn1_NOVALUE}",
         false}, // Erlang announces all three additions, we up to the last present
        {"Params", leaf([] {
             auto* p = new T::Params;
             p->get_a() = 1u;
             p->fieldForWrite<BOOLEAN>(1) = true;
             auto& inner = p->fieldForWrite<T::Inner>(5);
             inner.get_x() = 9u;
             inner.fieldForWrite<BOOLEAN>(1) = true;
             return p;
         }),
         "{'Params',1,true,asn1_NOVALUE,asn1_NOVALUE,asn1_NOVALUE,{'Inner',9,true}}", true},
        {"ExtChoice", leaf([] {
             auto* c = new T::ExtChoice;
             c->selectAs<AbstractString>(2) = "A";
             return c;
         }),
         "{c,[65]}", true},
        {"ExtChoice", leaf([] {
             auto* c = new T::ExtChoice;
             c->selectAs<INTEGER>(0).setValue(-5);
             return c;
         }),
         "{a,-5}", true},
        {"Name", leaf([] {
             auto* n = new T::Name;
             *n = "hi";
             return n;
         }),
         "[104,105]", true},
        {"Digits2", leaf([] {
             auto* n = new T::Digits2;
             *n = "12";
             return n;
         }),
         "[49,50]", true},
        {"Digits", leaf([] { return new AbstractString(&NumericString::theInfo, "0 9"); }), "[48,32,57]",
         true},
        {"Bits", leaf([] {
             auto* b = new BIT_STRING;
             b->resize(17);
             b->set(0);
             b->set(16);
             return b;
         }),
         "<<128,0,1:1>>", true},
        {"Quad", leaf([] {
             auto* q = new T::Quad;
             *q = std::string_view("\x01\x02\x03\x04", 4);
             return q;
         }),
         "<<1,2,3,4>>", true},
        {"Wide", leaf([] {
             auto* w = new T::Wide;
             *w = L"A\x1234";
             return w;
         }),
         "[65,{0,0,18,52}]", true},
        {"U32", leaf([] {
             auto* u = new T::U32;
             *u = 0xFFFFFFFFu;
             return u;
         }),
         "4294967295", true},
        {"U32", leaf([] {
             auto* u = new T::U32;
             *u = 0x12345u;
             return u;
         }),
         "74565", true},
        {"Signed8", leaf([] {
             auto* s = new T::Signed8;
             s->setValue(-128);
             return s;
         }),
         "-128", true},
        {"Ext10", leaf([] {
             auto* e = new T::Ext10;
             e->setValue(-5);
             return e;
         }),
         "-5", true},
        {"Ext10", leaf([] {
             auto* e = new T::Ext10;
             e->setValue(3);
             return e;
         }),
         "3", true},
        {"Int", leaf([] { return new INTEGER(128); }), "128", true},
        {"Int", leaf([] { return new INTEGER(-129); }), "-129", true},
        {"Colour", leaf([] {
             auto* c = new T::Colour;
             c->setValue(1);
             return c;
         }),
         "green", true},
        {"Oid", leaf([] {
             return new OBJECT_IDENTIFIER{1, 2, 840};
         }),
         "{1,2,840}", true},
        {"Time", leaf([] { return new GeneralizedTime("20240101120000.250Z"); }),
         "[50,48,50,52,48,49,48,49,49,50,48,48,48,48,46,50,53,48,90]", true},
        {"Ints", leaf([] {
             auto* l = new SEQUENCE_OF<INTEGER>;
             l->push_back(INTEGER(1));
             l->push_back(INTEGER(-1));
             l->push_back(INTEGER(300));
             return l;
         }),
         "[1,-1,300]", true},
        {"SmallList", leaf([] {
             auto* l = new T::SmallList;
             l->resize(2);
             (*l)[0] = 1u;
             (*l)[1] = 2u;
             return l;
         }),
         "[1,2]", true},
        {"LongText", leaf([] {
             auto* t = new T::LongText;
             t->assign(300, 'x');
             return t;
         }),
         "", true},
    };

    std::vector<std::string> lines;
    std::vector<std::string> ours;
    for (const auto& c : cases) {
        std::unique_ptr<AbstractData> value(c.make());
        const std::string hex = upper(ASN1Test::encodeHex(*value));
        ASSERT_NE(hex, "FAIL") << c.type << " " << c.term;
        ours.push_back(hex);
        lines.push_back("dec " + c.type + " " + hex);
    }
    const auto out = erl.run(lines);
    ASSERT_EQ(out.size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const auto bar = out[i].find('|');
        ASSERT_NE(bar, std::string::npos) << cases[i].type << ": " << out[i] << " for " << ours[i];
        if (!cases[i].term.empty()) {
            EXPECT_EQ(out[i].substr(0, bar), cases[i].term) << ours[i];
        }
        if (cases[i].sameEncoding) {
            EXPECT_EQ(out[i].substr(bar + 1), ours[i]) << cases[i].term;
        }
    }
}

TEST(Asn1PerErlang, WeDecodeWhatErlangEncodes)
{
    if (!ErlangTool::available())
        GTEST_SKIP() << "erlc not installed";
    ErlangTool erl;
    ASSERT_TRUE(erl.setUp());
    const auto out = erl.run({
        "enc Params {'Params',5,asn1_NOVALUE,\"hi\",asn1_NOVALUE,<<\"xyz\">>,asn1_NOVALUE}",
        "enc ParamsV2 {'ParamsV2',5,asn1_NOVALUE,asn1_NOVALUE,true,asn1_NOVALUE,asn1_NOVALUE,7}",
        "enc ExtChoiceV2 {d,{'Inner',1,asn1_NOVALUE}}",
        "enc Message {'Message',asn1_NOVALUE,5,{response,{success,'NULL'}}}",
    });
    ASSERT_EQ(out.size(), 4u);

    T::Params params;
    ASSERT_TRUE(ASN1Test::decode(ASN1Test::hex(out[0]), params)) << out[0];
    T::Params expected;
    expected.get_a() = 5u;
    expected.set_c("hi");
    expected.fieldForWrite<OCTET_STRING>(4) = std::string_view("xyz");
    EXPECT_EQ(params.do_compare(expected), 0);

    // An addition this version does not know is skipped; the known one stays.
    T::Params older;
    ASSERT_TRUE(ASN1Test::decode(ASN1Test::hex(out[1]), older)) << out[1];
    EXPECT_EQ(older.get_a().getValue(), 5u);
    ASSERT_TRUE(older.hasOptionalField(2));
    EXPECT_TRUE(older.get_e1().getValue());
    EXPECT_FALSE(older.hasOptionalField(3));
    T::ParamsV2 newer;
    ASSERT_TRUE(ASN1Test::decode(ASN1Test::hex(out[1]), newer));
    EXPECT_EQ(static_cast<INTEGER*>(newer.fieldAt(6))->getValue(), 7);

    T::ExtChoice choice;
    ASSERT_TRUE(ASN1Test::decode(ASN1Test::hex(out[2]), choice)) << out[2];
    EXPECT_TRUE(choice.isUnknownSelection());
    T::ExtChoiceV2 choice2;
    ASSERT_TRUE(ASN1Test::decode(ASN1Test::hex(out[2]), choice2));
    EXPECT_EQ(choice2.alternativeAs<T::Inner>().get_x().getValue(), 1u);

    T::Message m;
    ASSERT_TRUE(ASN1Test::decode(ASN1Test::hex(out[3]), m)) << out[3];
    EXPECT_EQ(m.get_slot().getValue(), 5u);
    EXPECT_EQ(m.get_pdu().currentSelection(), 1);
}
