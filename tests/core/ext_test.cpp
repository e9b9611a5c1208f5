// Column tables, log headers and the hexadecimal printers.

#include "core/ext.hpp"
#include "core/measure.hpp"

#include <gtest/gtest.h>
#include <iomanip>
#include <sstream>

namespace {

TEST(Table, CellsAreCentredWithTheOddSpaceOnTheRight)
{
    std::ostringstream os;
    ext::Table t(5, 3);
    t.row(os, "ab");
    t.row(os, "x");
    EXPECT_EQ("| ab  | x |\n", os.str());
}

TEST(Table, OverlongCellIsWrittenWholeAndExtraCellsAreIgnored)
{
    std::ostringstream os;
    ext::Table t(3, 2);
    t.row(os, "abcdef");
    t.row(os, "");
    t.row(os, "ignored"); // after the last column, without beginrow
    EXPECT_EQ("|abcdef|  |\n", os.str());
}

TEST(Table, DelimeterCompletesAnOpenRowAndGapDrawsAnEmptyOne)
{
    std::ostringstream os;
    ext::Table t(4, 3, 1);
    t.row(os, "a");
    t.delimeter(os);
    t.gap(os);
    EXPECT_EQ("| a  |   | |\n"
              "+----+---+-+\n"
              "|    |   | |\n",
              os.str());

    std::ostringstream none;
    ext::Table empty;
    empty.delimeter(none);
    EXPECT_EQ("", none.str());
}

TEST(Table, SentryCollectsCellsWithTheirFormatting)
{
    std::ostringstream os;
    ext::Table t(6, 6, 6, 8);
    ext::Table::Sentry s(os, t);
    Measure m;
    s << ext::delimeter;
    s << "n=" << 7u << ext::nextrow << std::string("v") << -3 << ext::nextrow << std::hex << -1
      << ext::nextrow;
    s << ext::beginrow << "x" << ext::nextrow; // a new row in the middle of one
    s << ext::delimeter;
    s << ext::beginrow << std::dec << m << ext::nextrow;
    s << ext::delimeter;
    EXPECT_EQ("+------+------+------+--------+\n"
              "| n=7  | v-3  |ffffffff|"
              "  x   |      |      |        |\n"
              "+------+------+------+--------+\n"
              "|min=0 max=0 avg=0 counter=0|      |      |        |\n"
              "+------+------+------+--------+\n",
              os.str());
}

struct Link {
    const char* peer;
    void PutHeader(std::ostream& os) const { os << "ctrl [" << peer << "]: "; }
};

TEST(Header, PrefixesALogLineWithTheObjectsOwnHeader)
{
    Link l{"10.0.0.1:20001"};
    std::ostringstream os;
    os << ext::header(&l) << "connected";
    EXPECT_EQ("ctrl [10.0.0.1:20001]: connected", os.str());
}

TEST(HexPrinters, BytesValuesAndTheStreamLeftAsItWas)
{
    const unsigned char bytes[] = {0x00, 0xAB, 0x7F};
    std::ostringstream os;
    os << ext::OutBufInHex(bytes, sizeof bytes);
    EXPECT_EQ("00 AB 7F ", os.str());
    std::ostringstream empty;
    empty << ext::OutBufInHex(bytes, bytes);
    EXPECT_EQ("", empty.str());

    std::ostringstream v;
    v << ext::OutUnsignedInHex(26, 4) << ' ' << 26 << ' ' << std::setw(3) << 5 << ' '
      << ext::OutUnsignedInHex(0xDEADBEEFu, 0) << ' ' << ext::OutUnsignedInHex(1, 8);
    EXPECT_EQ("0x001A 26   5 0xDEADBEEF 0x00000001", v.str());

    std::ostringstream q;
    q << ext::quoted("gw-wd") << ext::quoted(std::string());
    EXPECT_EQ("\"gw-wd\"\"\"", q.str());
}

} // namespace
