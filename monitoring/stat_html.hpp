#pragma once

// HTML statistics pages: a template is copied from an input stream to an
// output stream while value references are replaced by values of a tree of
// statistics objects and marked sections are expanded.
//
// The template language:
//   %name%                    the value `name` of the innermost open object
//                             that has one; left as written when none has
//   %%                        two percent signs, written as they stand
//   <!--GEN.name-->           opens a section: once for the sub-object
//                             `name`, once per element of the collection
//                             `name`, or nothing (body read, not written)
//                             when the current object has neither; the
//                             name ends at the first "--" and may hold
//                             single "-"; text between "--" and ">" is
//                             dropped
//   <!--GEN.end-->            closes the innermost section; at the top level
//                             it ends the page
//   any other <...>           copied unchanged, no references inside
//
// A template that ends inside an unfinished reference or marker keeps that
// text in the page. Sections nest up to GeneratorV1::max_depth; a section
// beyond it is dropped whole: its body, nested sections included, writes
// nothing, and its "end" closes nothing else.

#include <cstddef>
#include <istream>
#include <list>
#include <memory>
#include <ostream>
#include <string>
#include <utility>

namespace Stat {

// A value handed back by a statistics object; tests true when valid.
class Value {
    using bool_type = void (Value::*)() const;

public:
    Value() = default;
    explicit Value(std::string value_text) : valid(true), text(std::move(value_text)) {}

    operator bool_type() const { return valid ? &Value::true_helper_func : nullptr; }

    bool valid = false;
    std::string text; // what goes into the page

private:
    void true_helper_func() const {}
};

class Object;

// Walks the elements of one collection; owned by whoever asked for it.
class IteratorBase {
public:
    virtual ~IteratorBase() = default;
    // Back to the first element, for owners that walk a collection again;
    // the page generator asks for a fresh iterator instead.
    virtual void first() = 0;
    // True while the iterator stands on an element.
    virtual bool valid() const = 0;
    // Moves to the following element; true when it stands on one.
    virtual bool next() = 0;
    virtual Object& current() const = 0;
};

// A node of the statistics tree, implemented by the owners of the figures.
class Object {
public:
    virtual ~Object() = default;
    virtual Value statistics_value(const std::string& name) const = 0;
    // Null when this object has no sub-object of that name.
    virtual Object* statistics_object(const std::string& name) const = 0;
    // Empty when `name` is not a collection of this object.
    virtual std::unique_ptr<IteratorBase> statistics_iterator(const std::string& name) const = 0;
};

namespace Html {

class GeneratorV1 {
public:
    // Open sections beyond this are not opened: the nesting recurses.
    static constexpr std::size_t max_depth = 256;

    // The three must outlive the generator; `in` must be seekable (a
    // collection's body is read again for each element).
    GeneratorV1(Object& root, std::ostream& out, std::istream& in);

    int generate();

private:
    using State = void (GeneratorV1::*)(char);
    enum TokenKind { token_section = 0, token_value = 1, token_end = 2 };

    int generate_body();
    int parse();
    void sub_object(Object& object);
    void sub_object(const std::string& name);
    void ignore_object();
    void section(const std::string& name);

    void put(char c);
    void put(const std::string& s);

    void next_state(State input, State output);
    void next_input(State input);
    void next_output(State output);
    void on_change_input_state(State from, State to);
    void on_change_output_state(State from, State to);

    void poutput_pass(char c);
    void poutput_capture(char c);

    void pinput_initial(char c);
    void pinput_section_open(char c);
    void pinput_section_body(char c);
    void pinput_section_comment1(char c);
    void pinput_section_comment2(char c);
    void pinput_section_obj_begin1(char c);
    void pinput_section_obj_begin2(char c);
    void pinput_section_obj_begin3(char c);
    void pinput_section_obj_begin4(char c);
    void pinput_section_obj_name(char c);
    void pinput_section_obj_name_end1(char c);
    void pinput_section_obj_name_end2(char c);
    void pinput_value_open(char c);
    void pinput_value_body(char c);
    // Leaves the marker being read: what was captured goes out as text.
    void not_a_marker(char c);

    Object& root;
    std::ostream& output;
    std::istream& input;
    std::list<Object*> stack; // root first, the innermost last
    Object* current_object;
    int ignore_depth = 0; // output is written only at 0
    State input_state;
    State output_state;
    int token_kind = token_end;
    std::string token_name;
    bool token_done = false;
    std::string captured; // raw template text of the token being read
};

// Always 1: generation has no failure result.
int generateV1(Object& root, std::ostream& out, std::istream& in);

} // namespace Html
} // namespace Stat
