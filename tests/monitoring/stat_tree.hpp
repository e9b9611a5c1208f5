#pragma once

// A statistics tree made of maps, for the page generator's tests and fuzz
// target: each node has named values, sub-objects and collections.

#include "monitoring/stat_html.hpp"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace StatTest {

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

inline std::unique_ptr<Stat::IteratorBase> Node::statistics_iterator(const std::string& name) const
{
    auto it = collections.find(name);
    if (it == collections.end())
        return nullptr;
    return std::make_unique<NodeIterator>(it->second);
}

} // namespace StatTest
