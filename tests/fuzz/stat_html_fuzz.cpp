// HTML statistics pages from any template over a small fixed tree (values,
// a sub-object that is the root again, a collection of three elements with
// a sub-object each, an empty collection): generation ends, and a template
// without "%" and "<" comes out unchanged.

#include "monitoring/stat_html.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

class Node : public Stat::Object {
public:
    std::map<std::string, std::string> values;
    std::map<std::string, Node*> objects;
    std::map<std::string, std::vector<Node*>> collections;

    Stat::Value statistics_value(const std::string& name) const override
    {
        auto it = values.find(name);
        return it == values.end() ? Stat::Value() : Stat::Value(it->second);
    }
    Stat::Object* statistics_object(const std::string& name) const override
    {
        auto it = objects.find(name);
        return it == objects.end() ? nullptr : it->second;
    }
    std::unique_ptr<Stat::IteratorBase> statistics_iterator(const std::string& name) const override;
};

class NodeIterator : public Stat::IteratorBase {
public:
    explicit NodeIterator(std::vector<Node*> const& nodes) : nodes_(nodes) {}
    void first() override { at_ = 0; }
    bool valid() const override { return at_ < nodes_.size(); }
    bool next() override { return ++at_ < nodes_.size(); }
    Stat::Object& current() const override { return *nodes_[at_]; }

private:
    std::vector<Node*> const& nodes_;
    std::size_t at_ = 0;
};

std::unique_ptr<Stat::IteratorBase> Node::statistics_iterator(const std::string& name) const
{
    auto it = collections.find(name);
    if (it == collections.end())
        return nullptr;
    return std::make_unique<NodeIterator>(it->second);
}

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
