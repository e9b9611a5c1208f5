// HTML statistics pages: text and tags pass unchanged, value references are
// looked up innermost first, sections expand over sub-objects and
// collections or vanish, and hostile templates (unfinished tokens, deep
// nesting) neither lose text nor crash.

#include "tests/monitoring/stat_tree.hpp"

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <vector>

namespace {

using StatTest::Node;

// Root: title, unit; sub-object "board" (name, unit); collection "links"
// of three (each a name, the second without one, the third with a unit and
// a sub-object "peer"); collection "none" without elements.
struct Tree {
    Tree()
    {
        root.values = {{"title", "Gateway"}, {"unit", "frames"}, {"name", "root"}};
        board.values = {{"name", "board-1"}, {"unit", "octets"}};
        root.objects["board"] = &board;
        link[0].values = {{"name", "e1-0"}, {"count", "10"}};
        link[1].values = {{"count", "20"}};
        link[2].values = {{"name", "e1-2"}, {"count", "30"}, {"unit", "calls"}};
        peer.values = {{"name", "peer-of-2"}};
        link[2].objects["peer"] = &peer;
        root.collections["links"] = {&link[0], &link[1], &link[2]};
        board.collections["links"] = {&link[0], &link[1], &link[2]};
        root.collections["none"] = {};
        self.values = {{"v", "deep"}};
        self.objects["self"] = &self;
        root.objects["self"] = &self;
    }
    Node root, board, link[3], peer, self;
};

std::string Generate(Stat::Object& root, std::string const& page, int* result = nullptr)
{
    std::istringstream in(page);
    std::ostringstream out;
    const int r = Stat::Html::generateV1(root, out, in);
    if (result != nullptr)
        *result = r;
    return out.str();
}

std::string Repeat(std::string const& s, int n)
{
    std::string out;
    for (int i = 0; i < n; ++i)
        out += s;
    return out;
}

} // namespace

TEST(StatHtml, PlainTemplatesAreCopiedByteForByte)
{
    Tree t;
    const std::string page =
        "<!DOCTYPE html>\n<html><head><title>x</title></head>\r\n"
        "<!-- a comment --><!--GENERIC--><!-x-><!><br/>\t<p class=\"a\">text & more</p>\n"
        "<!--G><!--GE><!--GEN-><img src='a.png'>\x01\xff</html>\n";
    int result = 0;
    EXPECT_EQ(Generate(t.root, page, &result), page);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(Generate(t.root, ""), "");
}

TEST(StatHtml, ValueReferences)
{
    Tree t;
    EXPECT_EQ(Generate(t.root, "<h1>%title%</h1> in %unit%."), "<h1>Gateway</h1> in frames.");
    EXPECT_EQ(Generate(t.root, "100%% sure, %%title%%"), "100%% sure, %%title%%");
    EXPECT_EQ(Generate(t.root, "%missing% and %title%"), "%missing% and Gateway");
    EXPECT_EQ(Generate(t.root, "5 % of 7 % more"), "5 % of 7 % more");
    // Nothing is replaced inside a tag, even one that the marker prefix began.
    EXPECT_EQ(Generate(t.root, "<a href=\"%title%\">%title%</a><!-- %title% -->"),
              "<a href=\"%title%\">Gateway</a><!-- %title% -->");
    EXPECT_EQ(Generate(t.root, "<!--GE %title% -->%title%"), "<!--GE %title% -->Gateway");
}

TEST(StatHtml, SectionsOverObjectsAndCollections)
{
    Tree t;
    // Each element's missing values come from the enclosing objects,
    // innermost first: link 1 has no name (the board's), link 2 its own unit.
    EXPECT_EQ(
        Generate(t.root, "<ul><!--GEN.board-->[%name%]<!--GEN.links--><li>%name% %count% %unit%</li>"
                         "<!--GEN.end--><!--GEN.end--></ul> %name%"),
        "<ul>[board-1]<li>e1-0 10 octets</li><li>board-1 20 octets</li><li>e1-2 30 calls</li></ul> root");
    // A sub-object inside an element, and the element's body repeated with
    // the text around the nested section.
    EXPECT_EQ(Generate(t.root, "<!--GEN.links-->(<!--GEN.peer-->%name%<!--GEN.end-->)<!--GEN.end-->."),
              "()()(peer-of-2).");
}

TEST(StatHtml, MissingSectionsWriteNothing)
{
    Tree t;
    EXPECT_EQ(
        Generate(t.root, "a<!--GEN.none-->x%title%<b><!--GEN.board-->%name%<!--GEN.end--><!--GEN.end-->b"),
        "ab");
    EXPECT_EQ(Generate(t.root, "a<!--GEN.absent-->x<!--GEN.links-->y<!--GEN.end-->z<!--GEN.end-->b"), "ab");
    // Inside an element, a collection of the root is not found: only the
    // current object is asked.
    EXPECT_EQ(Generate(t.root, "<!--GEN.board--><!--GEN.none-->x<!--GEN.end-->%name%<!--GEN.end-->"),
              "board-1");
}

TEST(StatHtml, NextIsReadOnlyAfterTheFirstElement)
{
    // The first next() decides whether the section goes on; later ones
    // only move, and valid() ends the walk.
    struct Quirky : Stat::IteratorBase {
        Quirky(std::vector<Node*> const& n, bool answer) : nodes(n), answer(answer) {}
        void first() override { at = 0; }
        bool valid() const override { return at < nodes.size(); }
        bool next() override { return ++at, answer; }
        Stat::Object& current() const override { return *nodes[at]; }
        std::vector<Node*> const& nodes;
        bool answer;
        std::size_t at = 0;
    };
    struct Root : Node {
        bool answer = false;
        std::unique_ptr<Stat::IteratorBase> statistics_iterator(const std::string& name) const override
        {
            return name == "links" ? std::make_unique<Quirky>(links, answer) : nullptr;
        }
        std::vector<Node*> links;
    };
    Tree t;
    Root root;
    root.links = {&t.link[0], &t.link[1], &t.link[2]};
    EXPECT_EQ(Generate(root, "<!--GEN.links-->%count%,<!--GEN.end-->"), "10,");
    root.answer = true;
    EXPECT_EQ(Generate(root, "<!--GEN.links-->%count%,<!--GEN.end-->"), "10,20,30,");
}

TEST(StatHtml, ASectionWithoutEndRunsToTheEndOfThePage)
{
    // Once per element: the body is read again from its start after the
    // template ran out.
    Tree t;
    EXPECT_EQ(Generate(t.root, "<ul><!--GEN.links-->[%count%]"), "<ul>[10][20][30]");
    EXPECT_EQ(Generate(t.root, "<!--GEN.board-->%name% 50%"), "board-1 50%");
}

TEST(StatHtml, MarkerNames)
{
    Tree t;
    t.root.objects["my-obj"] = &t.board;
    t.root.objects["a-b-c"] = &t.peer;
    // Single dashes belong to the name; what follows the closing "--" up to
    // ">" is dropped.
    EXPECT_EQ(Generate(t.root, "<!--GEN.my-obj-->%name%<!--GEN.end-->"), "board-1");
    EXPECT_EQ(Generate(t.root, "<!--GEN.a-b-c-->%name%<!--GEN.end-- trailing words>"), "peer-of-2");
    EXPECT_EQ(Generate(t.root, "<!--GEN.board-- x -- y>%name%<!--GEN.end-->!"), "board-1!");
}

TEST(StatHtml, TopLevelEndStopsThePage)
{
    Tree t;
    EXPECT_EQ(Generate(t.root, "kept<!--GEN.end-->dropped %title%"), "kept");
}

TEST(StatHtml, UnfinishedTokensAtTheEndAreKept)
{
    Tree t;
    for (std::string tail : {"50%", "%title", "<", "<!", "<!-", "<!--", "<!--G", "<!--GE", "<!--GEN.",
                             "<!--GEN.x", "<!--GEN.x-", "<!--GEN.x--", "<!--GEN.x-- junk"})
        EXPECT_EQ(Generate(t.root, "up " + tail), "up " + tail) << tail;
    // A single "%" does not swallow the rest of the page.
    EXPECT_EQ(Generate(t.root, "%title% is 50% <b>done</b>"), "Gateway is 50% <b>done</b>");
    // Inside a section that writes nothing, nothing comes out.
    EXPECT_EQ(Generate(t.root, "a<!--GEN.absent-->50%"), "a");
}

TEST(StatHtml, NestingIsBounded)
{
    Tree t;
    // 100000 nested markers: those past the bound open nothing, and their
    // bodies are not written.
    const std::string deep = Repeat("<!--GEN.absent-->", 100000) + "x";
    EXPECT_EQ(Generate(t.root, deep), "");
    const std::string open = Repeat("<!--GEN.self-->", 100000) + "%v%";
    EXPECT_EQ(Generate(t.root, open), "");

    // Up to the bound, sections nest as usual.
    const int bound = static_cast<int>(Stat::Html::GeneratorV1::max_depth);
    EXPECT_EQ(
        Generate(t.root, Repeat("<!--GEN.self-->", bound) + "%v%" + Repeat("<!--GEN.end-->", bound) + "%v%"),
        "deep%v%");
    // A section more is dropped whole, its nested ones with it, whether
    // its object is there or not; its "end" closes no section it did not
    // open.
    EXPECT_EQ(Generate(t.root, Repeat("<!--GEN.self-->", bound + 1) + "%v%" +
                                   Repeat("<!--GEN.end-->", bound + 1) + "tail"),
              "tail");
    const std::string inner = Repeat("<!--GEN.self-->", bound);
    EXPECT_EQ(Generate(t.root, inner + "<!--GEN.absent-->hidden<!--GEN.end-->AFTER"), "AFTER");
    EXPECT_EQ(Generate(t.root, Repeat("<!--GEN.absent-->", bound + 1) + Repeat("<!--GEN.end-->", bound) +
                                   "hidden<!--GEN.end-->tail"),
              "tail");
}
