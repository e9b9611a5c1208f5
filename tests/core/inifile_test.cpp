#include "core/inifile.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

void load(IniFile::File& f, std::string const& text)
{
    std::istringstream in(text);
    in >> f;
}

// "value@line" for every value of the key in the sub-section.
std::string values(IniFile::SubSection& sub, std::string const& key)
{
    std::string out;
    for (auto const& sk : sub[key]) {
        if (!out.empty())
            out += '|';
        out += sk.mValue + "@" + std::to_string(sk.mLineNo);
    }
    return out;
}

IniFile::SubSection& first(IniFile::File& f, std::string const& section)
{
    return *f[section].begin();
}

TEST(IniFileParse, SpacesAroundKeysAndValuesAreTrimmed)
{
    IniFile::File f;
    load(f, "[s]\n"
            "   key name   =   a  value   \n"
            "\tk2\t=\tv\n"
            "k3=\n"
            "k4 =   \n"
            "k5 = x\r\n"
            "last=end");
    auto& s = first(f, "s");
    EXPECT_EQ(values(s, "key name"), "a  value@2");
    EXPECT_EQ(values(s, "k2\t"), "\tv@3"); // a tab in a key or a value is kept
    EXPECT_EQ(values(s, "k3"), "@4");
    EXPECT_EQ(values(s, "k4"), "@5");
    EXPECT_EQ(values(s, "k5"), "x@6");
    EXPECT_EQ(values(s, "last"), "end@7");
    EXPECT_TRUE(f.IsOpen());
}

TEST(IniFileParse, CommentsAndHashesInValues)
{
    IniFile::File f;
    load(f, "# leading comment\n"
            "[s] trailing text # and comment\n"
            "a = x#y\n"
            "b = x #y\n"
            "c =#y\n"
            "# d = 1\n"
            "e = 1 2 # z\n"
            "f = q # unterminated comment at the end");
    auto& s = first(f, "s");
    EXPECT_EQ(values(s, "a"), "x#y@3");
    EXPECT_EQ(values(s, "b"), "x@4");
    EXPECT_EQ(values(s, "c"), "@5");
    EXPECT_EQ(s["d"].mSubKeyCount, 0);
    EXPECT_EQ(values(s, "e"), "1 2@7");
    EXPECT_EQ(values(s, "f"), "q@8");
    EXPECT_EQ(s.mLineNo, 2);
}

TEST(IniFileParse, MalformedLinesAreSkippedAndNamed)
{
    IniFile::File f;
    ::testing::internal::CaptureStderr();
    load(f, "# comment\n"
            "before=ignored\n"
            "[s]\n"
            "no equals sign here\n"
            "k=v\n"
            "[broken\n"
            "lost=1\n"
            "\n"
            "[t]\n"
            "  junk # then [u] on the same line\n"
            "kept=2\n"
            "[end");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "configuration line 2: text outside any section, ignored\n"
              "configuration line 4: line without \"=\", ignored\n"
              "configuration line 6: section header without \"]\", ignored\n"
              "configuration line 7: text outside any section, ignored\n"
              "configuration line 10: line without \"=\", ignored\n"
              "configuration line 12: section header without \"]\", ignored\n");
    EXPECT_EQ(f.mSectionCount, 2); // "s" and "t"; "[broken" was dropped
    auto& s = first(f, "s");
    EXPECT_EQ(s.mKeyCount, 1);
    EXPECT_EQ(values(s, "k"), "v@5");
    EXPECT_EQ(values(first(f, "t"), "kept"), "2@11");
    EXPECT_EQ(first(f, "t")["lost"].mSubKeyCount, 0);

    ::testing::internal::CaptureStderr();
    load(f, "[s]\nlast");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "configuration line 2: line without \"=\", ignored\n");
}

TEST(IniFileParse, RepeatedHeadersAreSubSectionsAndRepeatedKeysAreValues)
{
    IniFile::File f;
    load(f, "[agent]\nname=a\nname=b\n[other]\nx=1\n[agent]\nname=c\n");
    EXPECT_EQ(f.mSectionCount, 2);
    auto& agent = f["agent"];
    EXPECT_EQ(agent.mSubSectionCount, 2);
    std::vector<int> lines;
    for (auto& sub : agent)
        lines.push_back(sub.mLineNo);
    EXPECT_EQ(lines, (std::vector<int>{1, 6}));
    EXPECT_EQ(values(*agent.begin(), "name"), "a@2|b@3");
    EXPECT_EQ(values(*++agent.begin(), "name"), "c@7");

    // Asking for what is not there creates it empty, and never fails.
    EXPECT_EQ(f["missing"].mSubSectionCount, 0);
    EXPECT_EQ(f.mSectionCount, 3);
    f["missing"].CheckEmpty();
    EXPECT_EQ(f["missing"].begin()->mLineNo, -1);
    auto& k = first(f, "other")["nothing"];
    k.CheckEmpty();
    EXPECT_EQ(values(first(f, "other"), "nothing"), "@-1");
}

TEST(IniFileOpen, ReadsAFileAndReportsAMissingOne)
{
    char path[] = "/tmp/inifile_test_XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    {
        std::ofstream out(path, std::ios::binary);
        out << "[traces]\r\nsignalling.hdlc = yes\r\n[broken\r\n";
    }
    IniFile::File f;
    ::testing::internal::CaptureStderr();
    EXPECT_TRUE(f.Open(path));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "configuration line 3 of " + std::string(path) + ": section header without \"]\", ignored\n");
    EXPECT_EQ(f.mFileName, path);
    EXPECT_EQ(values(first(f, "traces"), "signalling.hdlc"), "yes@2");
    EXPECT_EQ(first(f, "traces").FileName(), path);
    std::remove(path);

    EXPECT_FALSE(f.Open("/nonexistent/server.conf"));
    EXPECT_FALSE(f.IsOpen());
    EXPECT_EQ(f.mSectionCount, 0);
    EXPECT_EQ(f.mFileName, "/nonexistent/server.conf");

    // A section asked of a file that never opened is created, and freed with
    // the file (LeakSanitizer checks the latter at exit).
    EXPECT_EQ(f["snmpagent"].mSubSectionCount, 0);
    EXPECT_EQ(f.mSectionCount, 1);
    f.Close();
    EXPECT_EQ(f.mSectionCount, 0);
    f["snmpagent"];
}

TEST(IniFileSubKey, Conversions)
{
    IniFile::SubKey sk("on", 1);
    EXPECT_TRUE(sk.GetBool(false));
    sk.mValue = "off";
    EXPECT_FALSE(sk.GetBool(true));
    sk.mValue = "TRUE";
    EXPECT_FALSE(sk.GetBool(false));
    EXPECT_TRUE(sk.GetBool(true));
    sk.SetBool(true);
    EXPECT_EQ(sk.mValue, "yes");

    sk.mValue = " 42abc";
    EXPECT_EQ(sk.GetInt(-1), 42);
    sk.mValue = "x";
    EXPECT_EQ(sk.GetInt(-1), -1);
    sk.mValue = "99999999999";
    EXPECT_EQ(sk.GetInt(0), 2147483647);
    sk.SetInt(-17);
    EXPECT_EQ(sk.mValue, "-17");

    sk.mValue = "2.5kg";
    EXPECT_DOUBLE_EQ(sk.GetFloat(0), 2.5);
    sk.mValue = "";
    EXPECT_DOUBLE_EQ(sk.GetFloat(7), 7);
    sk.SetFloat(0.125);
    EXPECT_EQ(sk.mValue, "0.125");
}

enum class Mode : int { off = 0, fast = 1, slow = 2 };
IniFile::Symbol<Mode> const modes[] = {
    {"off", Mode::off}, {"fast", Mode::fast}, {"slow", Mode::slow}, {nullptr, Mode::off}};

TEST(IniFileReader, TypedKeysAreBoundAndConverted)
{
    IniFile::File f;
    load(f, "[x]\nflag=enabled\nname = gw 1\nmode=slow\nhex=0x10\noct=010\nneg=-1\noff=disable\n");
    bool flag = false, off = true;
    std::string name;
    Mode mode = Mode::off, hex = Mode::off, oct = Mode::off, neg = Mode::off, absent = Mode::fast;
    std::ostringstream err;
    IniFile::Reader r("x: ", err);
    bool& flag_found = r.required.add(&flag, "flag");
    r.required.add(&name, "name");
    r.required.add(&mode, "mode", modes);
    r.optional.add(&hex, "hex", modes);
    r.optional.add(&oct, "oct");
    r.optional.add(&neg, "neg", nullptr);
    r.optional.add(&off, "off");
    bool& absent_found = r.optional.add(&absent, "absent", modes);
    absent_found = true;

    EXPECT_TRUE(r.parse(first(f, "x")));
    EXPECT_EQ(err.str(), "");
    EXPECT_TRUE(flag_found);
    EXPECT_TRUE(flag);
    EXPECT_FALSE(off);
    EXPECT_EQ(name, "gw 1");
    EXPECT_EQ(mode, Mode::slow);
    EXPECT_EQ(static_cast<int>(hex), 16);
    EXPECT_EQ(static_cast<int>(oct), 8);
    EXPECT_EQ(static_cast<int>(neg), -1);
    EXPECT_FALSE(absent_found);
    EXPECT_EQ(absent, Mode::fast);
}

TEST(IniFileReader, BoolWordsAreExact)
{
    for (char const* word : {"true", "yes", "enabled", "enable", "1"}) {
        bool b = false;
        IniFile::Private::TKeyValue<bool> kv(&b, "k", nullptr);
        EXPECT_TRUE(kv.do_parse(word)) << word;
        EXPECT_TRUE(b) << word;
    }
    for (char const* word : {"false", "no", "disabled", "disable", "0"}) {
        bool b = true;
        IniFile::Private::TKeyValue<bool> kv(&b, "k", nullptr);
        EXPECT_TRUE(kv.do_parse(word)) << word;
        EXPECT_FALSE(b) << word;
    }
    for (char const* word : {"TRUE", "Yes", "on", "off", "", " 1"}) {
        bool b = true;
        IniFile::Private::TKeyValue<bool> kv(&b, "k", nullptr);
        EXPECT_FALSE(kv.do_parse(word)) << word;
        EXPECT_TRUE(b) << word;
    }
}

TEST(IniFileReader, EnumerationNumbersMustBeWholeAndInRange)
{
    enum class Small : unsigned char { a = 0 };
    Small s = Small::a;
    IniFile::Private::TKeyValue<Small> kv(&s, "k", nullptr);
    EXPECT_FALSE(kv.do_parse("12abc"));
    EXPECT_FALSE(kv.do_parse(""));
    EXPECT_FALSE(kv.do_parse(" 1"));
    EXPECT_FALSE(kv.do_parse("256"));
    EXPECT_FALSE(kv.do_parse("-1"));
    EXPECT_FALSE(kv.do_parse("99999999999999999999999"));
    EXPECT_EQ(s, Small::a);
    EXPECT_TRUE(kv.do_parse("0xff"));
    EXPECT_EQ(static_cast<int>(s), 255);
}

struct ReaderCase {
    std::string text;
    std::string out;
    bool result;
};

std::string run_reader(std::string const& text, bool optional, bool* result)
{
    IniFile::File f;
    load(f, "[traces]\n" + text);
    bool value = false;
    std::ostringstream err;
    IniFile::Reader r("traces: ", err);
    (optional ? r.optional : r.required).add(&value, "signalling.isdn");
    *result = r.parse(first(f, "traces"));
    return err.str();
}

TEST(IniFileReader, RequiredKeyMessages)
{
    bool ok = true;
    EXPECT_EQ(run_reader("other=1\n", false, &ok),
              "traces: required key \"signalling.isdn\" not present, line 1\n");
    EXPECT_FALSE(ok);
    EXPECT_EQ(run_reader("signalling.isdn=TRUE\n", false, &ok),
              "traces: required key \"signalling.isdn\" has invalid value=\"TRUE\", line 2\n");
    EXPECT_FALSE(ok);
    EXPECT_EQ(run_reader("signalling.isdn=1\nsignalling.isdn=0\n", false, &ok),
              "traces: required key \"signalling.isdn\" is duplicated!\n"
              "traces:  first occurence at 2 line.\n"
              "traces:  second occurence at 3 line.\n");
    EXPECT_FALSE(ok);
    EXPECT_EQ(run_reader("signalling.isdn=1\nsignalling.isdn=0\n\nsignalling.isdn=1\n", false, &ok),
              "traces: required key \"signalling.isdn\" specified more than once: 2 3 5 lines\n");
    EXPECT_FALSE(ok);
}

TEST(IniFileReader, OptionalKeyMessages)
{
    bool ok = false;
    EXPECT_EQ(run_reader("", true, &ok), "");
    EXPECT_TRUE(ok);
    EXPECT_EQ(run_reader("signalling.isdn=maybe\n", true, &ok),
              "traces: optional key \"signalling.isdn\" has invalid value=\"maybe\", line 2. "
              "Key will be ignored.\n");
    EXPECT_TRUE(ok);
    EXPECT_EQ(run_reader("signalling.isdn=1\nsignalling.isdn=1\n", true, &ok),
              "traces: optional key \"signalling.isdn\" is duplicated!\n"
              "traces:  first occurence at 2 line.\n"
              "traces:  second occurence at 3 line. Both keys will be ignored.\n");
    EXPECT_TRUE(ok);
    EXPECT_EQ(run_reader("signalling.isdn=1\nsignalling.isdn=1\nsignalling.isdn=1\n", true, &ok),
              "traces: optional key \"signalling.isdn\" specified more than once: 2 3 4 lines. "
              "All keys will be ignored.\n");
    EXPECT_TRUE(ok);
}

TEST(IniFileReader, FirstFailingRequiredKeyEndsTheParse)
{
    IniFile::File f;
    load(f, "[s]\na=bad\nb=yes\nc=yes\n");
    bool a = false, b = false, c = false;
    std::ostringstream err;
    IniFile::Reader r("s: ", err);
    r.required.add(&a, "a");
    bool& b_found = r.required.add(&b, "b");
    bool& c_found = r.optional.add(&c, "c");
    EXPECT_FALSE(r.parse(first(f, "s")));
    EXPECT_FALSE(b_found);
    EXPECT_FALSE(c_found);
    EXPECT_FALSE(b);
    EXPECT_FALSE(c);
    EXPECT_EQ(err.str(), "s: required key \"a\" has invalid value=\"bad\", line 2\n");
}

TEST(IniFileDump, EveryLevelDumpsItsFields)
{
    IniFile::File f;
    load(f, "[s]\nk=v\n");
    std::ostringstream os;
    f.Dump(os);
    EXPECT_EQ(os.str(), "dumping IniFile::File\n"
                        "mFileName=\"\"\n"
                        "\n"
                        "mSectionCount=1\n"
                        "dumping IniFile::Section\n"
                        "mName=\"s\"\n"
                        "mSubSectionCount=1\n"
                        "dumping IniFile::SubSection\n"
                        "mLineNo=\"1\"\n"
                        "mKeyCount=1\n"
                        "dumping IniFile::Key\n"
                        "mName=\"k\"\n"
                        "mSubKeyCount=1\n"
                        "dumping IniFile::SubKey\n"
                        "mValue=\"v\"\n"
                        "mLineNo=2\n");
}

} // namespace
