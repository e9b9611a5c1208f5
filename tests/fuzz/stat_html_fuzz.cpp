// HTML statistics pages from any template over a small fixed tree (values,
// a sub-object that is the root again, a collection of three elements with
// a sub-object each, an empty collection): generation ends, and a template
// without "%" and "<" comes out unchanged.

#include "tests/monitoring/stat_tree.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

using StatTest::Node;

struct Tree {
    Tree()
    {
        root.values = {{"a", "1"}, {"name", "root"}, {"pct", "%a%"}, {"tag", "<!--GEN.end-->"}};
        root.objects["self"] = &root;
        root.objects["o"] = &sub;
        root.collections["c"] = {&row[0], &row[1], &row[2]};
        root.collections["e"] = {};
        sub.values = {{"name", "sub"}};
        for (Node& r : row) {
            r.values = {{"name", "row"}};
            r.objects["o"] = &sub;
        }
    }
    Node root, sub, row[3];
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static Tree tree;
    const std::string page(reinterpret_cast<const char*>(data), size);
    std::istringstream in(page);
    std::ostringstream out;
    if (Stat::Html::generateV1(tree.root, out, in) != 1)
        std::abort();
    if (page.find_first_of("%<") == std::string::npos && out.str() != page)
        std::abort();
    return 0;
}
