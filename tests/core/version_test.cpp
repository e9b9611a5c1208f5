// Version record, profiling points and trace blocks.

#include "core/clock.hpp"
#include "core/profile.hpp"
#include "core/version.hpp"

#include <gtest/gtest.h>
#include <sstream>

namespace {

TEST(Version, CurrentRecordAndTypeNames)
{
    std::ostringstream os;
    os << Version::current;
    EXPECT_EQ("R250710-1941", os.str());
    EXPECT_EQ(Version::snapshot, Version::current.type);
    EXPECT_STREQ("2025-07-10 19:41", Version::current.build_time);
    EXPECT_STREQ("ppc", Version::current.platform);
    EXPECT_STREQ("", Version::current.label);
    EXPECT_STRNE("", Version::current.builder);

    std::ostringstream names;
    names << Version::snapshot << ',' << Version::test << ',' << Version::release << ',' << Version::unit_test
          << ',' << static_cast<Version::Type>(9);
    EXPECT_EQ("snapshot,test,release,unit-test,unknown", names.str());
    EXPECT_STREQ("S", version_suffix(Version::snapshot));
    EXPECT_STREQ("T", version_suffix(Version::test));
    EXPECT_STREQ("R", version_suffix(Version::release));
    EXPECT_STREQ("T", version_suffix(Version::unit_test));
    EXPECT_STREQ("U", version_suffix(static_cast<Version::Type>(-1)));
}

std::string text(const Profile::Point& p)
{
    std::ostringstream os;
    p.put(os);
    return os.str();
}

TEST(Profile, PointsKeepMinMaxLastAndCount)
{
    Profile::Point p("span");
    EXPECT_EQ("[span]: min=0 max=0 avg=0 counter=0", text(p));
    Mux::test::freeze_at(1000000);
    for (unsigned d : {5u, 9u, 7u}) {
        p.begin();
        Mux::test::freeze_at(1000000 + d);
        p.end();
        Mux::test::freeze_at(1000000);
    }
    Mux::test::thaw();
    EXPECT_EQ("[span]: min=5 max=9 avg=7 counter=3", text(p));
}

TEST(Profile, DumpListsNewestFirstAndSurvivesRemovalInTheMiddle)
{
    Profile::Point a("a");
    std::ostringstream os;
    {
        Profile::Point b("b");
        Profile::Point c("c");
        os.str("");
        Profile::dump(os);
        EXPECT_EQ("[c]: min=0 max=0 avg=0 counter=0\n[b]: min=0 max=0 avg=0 counter=0\n"
                  "[a]: min=0 max=0 avg=0 counter=0\n",
                  os.str());
    }
    Profile::Point d("d");
    auto* b = new Profile::Point("b2");
    Profile::Point e("e");
    delete b;
    os.str("");
    Profile::dump(os);
    EXPECT_EQ("[e]: min=0 max=0 avg=0 counter=0\n[d]: min=0 max=0 avg=0 counter=0\n"
              "[a]: min=0 max=0 avg=0 counter=0\n",
              os.str());
}

TEST(Trace, BlockWritesEnterAndLeaveOnlyWhenEnabled)
{
    std::ostringstream os;
    {
        Trace::Block on(true, "OnCommand", os);
        Trace::Block off(false, "hidden", os);
        os << "body\n";
    }
    EXPECT_EQ("Enter OnCommand\nbody\nLeave OnCommand\n", os.str());
}

} // namespace
