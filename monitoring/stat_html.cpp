#include "monitoring/stat_html.hpp"

namespace Stat {
namespace Html {

GeneratorV1::GeneratorV1(Object& root_object, std::ostream& out, std::istream& in)
    : root(root_object),
      output(out),
      input(in),
      stack{&root_object},
      current_object(&root_object),
      input_state(&GeneratorV1::pinput_initial),
      output_state(&GeneratorV1::poutput_pass)
{}

int GeneratorV1::generate()
{
    stack.assign(1, &root);
    current_object = &root;
    ignore_depth = 0;
    return generate_body();
}

int GeneratorV1::generate_body()
{
    // Sections past the nesting bound are dropped whole: nothing of their
    // bodies is written, whatever their objects hold, and their "end"
    // markers do not close this section.
    int dropped = 0;
    for (;;) {
        const int kind = parse();
        if (kind == token_end) {
            if (dropped > 0)
                --ignore_depth;
            return 1;
        }
        if (kind == token_value) {
            // Innermost first: an element's missing values come from the
            // objects around it.
            bool found = false;
            for (auto it = stack.rbegin(); it != stack.rend() && !found; ++it) {
                const Value value = (*it)->statistics_value(token_name);
                if (value) {
                    put(value.text);
                    found = true;
                }
            }
            if (!found)
                put(captured);
            continue;
        }
        if (token_name == "end") {
            if (dropped == 0)
                return 1;
            if (--dropped == 0)
                --ignore_depth;
            continue;
        }
        // Each open section is a level of recursion; a template must not be
        // able to exhaust the stack. root is on it too.
        if (stack.size() > max_depth) {
            if (dropped++ == 0)
                ++ignore_depth;
            continue;
        }
        section(std::string(token_name));
    }
}

void GeneratorV1::section(const std::string& name)
{
    std::unique_ptr<IteratorBase> it = current_object->statistics_iterator(name);
    if (!it) {
        sub_object(name);
        return;
    }
    if (!it->valid()) {
        ignore_object();
        return;
    }
    const std::istream::pos_type body = input.tellg();
    sub_object(it->current());
    if (!it->next())
        return;
    while (it->valid()) {
        // A body without its "end" marker ran into the end of the template.
        input.clear();
        input.seekg(body);
        sub_object(it->current());
        it->next();
    }
}

void GeneratorV1::sub_object(Object& object)
{
    stack.push_back(&object);
    current_object = &object;
    generate_body();
    stack.pop_back();
    current_object = stack.back();
}

void GeneratorV1::sub_object(const std::string& name)
{
    if (Object* object = current_object->statistics_object(name))
        sub_object(*object);
    else
        ignore_object();
}

void GeneratorV1::ignore_object()
{
    // Reads the body up to its "end" marker, nested sections included, and
    // writes nothing.
    class UnknownObject : public Object {
    public:
        Value statistics_value(const std::string&) const override { return Value(); }
        Object* statistics_object(const std::string&) const override { return nullptr; }
        std::unique_ptr<IteratorBase> statistics_iterator(const std::string&) const override
        {
            return nullptr;
        }
    };
    UnknownObject unknown;
    ++ignore_depth;
    sub_object(unknown);
    --ignore_depth;
}

int GeneratorV1::parse()
{
    input_state = &GeneratorV1::pinput_initial;
    output_state = &GeneratorV1::poutput_pass;
    token_kind = token_end;
    token_name.clear();
    token_done = false;
    captured.clear();
    char c;
    while (input.get(c)) {
        (this->*input_state)(c);
        // The output state as the input state left it: the character that
        // ends a capture is itself passed through.
        (this->*output_state)(c);
        if (token_done)
            return token_kind;
    }
    // The page keeps an unfinished reference or marker as it was written
    // ("50%" at the very end must not vanish).
    if (output_state == &GeneratorV1::poutput_capture)
        put(captured);
    token_kind = token_end;
    token_name.clear();
    return token_end;
}

void GeneratorV1::put(char c)
{
    if (ignore_depth == 0)
        output.put(c);
}

void GeneratorV1::put(const std::string& s)
{
    if (ignore_depth == 0)
        output << s;
}

void GeneratorV1::next_state(State in, State out)
{
    next_input(in);
    next_output(out);
}

void GeneratorV1::next_input(State in)
{
    if (in == input_state)
        return;
    on_change_input_state(input_state, in);
    input_state = in;
}

void GeneratorV1::next_output(State out)
{
    if (out == output_state)
        return;
    on_change_output_state(output_state, out);
    output_state = out;
}

void GeneratorV1::on_change_input_state(State, State)
{}

void GeneratorV1::on_change_output_state(State, State to)
{
    if (to == &GeneratorV1::poutput_capture)
        captured.clear();
}

void GeneratorV1::poutput_pass(char c)
{
    put(c);
}

void GeneratorV1::poutput_capture(char c)
{
    captured += c;
}

void GeneratorV1::pinput_initial(char c)
{
    if (c == '<')
        next_state(&GeneratorV1::pinput_section_open, &GeneratorV1::poutput_capture);
    else if (c == '%')
        next_state(&GeneratorV1::pinput_value_open, &GeneratorV1::poutput_capture);
}

void GeneratorV1::not_a_marker(char)
{
    put(captured);
    next_state(&GeneratorV1::pinput_section_body, &GeneratorV1::poutput_pass);
}

void GeneratorV1::pinput_section_open(char c)
{
    if (c == '!')
        next_input(&GeneratorV1::pinput_section_comment1);
    else
        not_a_marker(c);
}

void GeneratorV1::pinput_section_body(char c)
{
    if (c == '>')
        next_input(&GeneratorV1::pinput_initial);
}

void GeneratorV1::pinput_section_comment1(char c)
{
    if (c == '-')
        next_input(&GeneratorV1::pinput_section_comment2);
    else
        not_a_marker(c);
}

void GeneratorV1::pinput_section_comment2(char c)
{
    if (c == '-') {
        token_name.clear();
        token_kind = token_section;
        next_input(&GeneratorV1::pinput_section_obj_begin1);
    } else {
        not_a_marker(c);
    }
}

void GeneratorV1::pinput_section_obj_begin1(char c)
{
    if (c == 'G')
        next_input(&GeneratorV1::pinput_section_obj_begin2);
    else
        not_a_marker(c);
}

void GeneratorV1::pinput_section_obj_begin2(char c)
{
    if (c == 'E')
        next_input(&GeneratorV1::pinput_section_obj_begin3);
    else
        not_a_marker(c);
}

void GeneratorV1::pinput_section_obj_begin3(char c)
{
    if (c == 'N')
        next_input(&GeneratorV1::pinput_section_obj_begin4);
    else
        not_a_marker(c);
}

void GeneratorV1::pinput_section_obj_begin4(char c)
{
    if (c == '.')
        next_input(&GeneratorV1::pinput_section_obj_name);
    else
        not_a_marker(c);
}

void GeneratorV1::pinput_section_obj_name(char c)
{
    if (c == '-')
        next_input(&GeneratorV1::pinput_section_obj_name_end1);
    else
        token_name += c;
}

void GeneratorV1::pinput_section_obj_name_end1(char c)
{
    if (c == '-') {
        next_input(&GeneratorV1::pinput_section_obj_name_end2);
    } else {
        // A single dash belongs to the name.
        token_name += '-';
        token_name += c;
        next_input(&GeneratorV1::pinput_section_obj_name);
    }
}

void GeneratorV1::pinput_section_obj_name_end2(char c)
{
    if (c == '>')
        token_done = true;
}

void GeneratorV1::pinput_value_open(char c)
{
    if (c == '%') {
        put('%');
        next_state(&GeneratorV1::pinput_initial, &GeneratorV1::poutput_pass);
    } else {
        token_name = c;
        token_kind = token_value;
        next_input(&GeneratorV1::pinput_value_body);
    }
}

void GeneratorV1::pinput_value_body(char c)
{
    if (c == '%')
        token_done = true;
    else
        token_name += c;
}

int generateV1(Object& root, std::ostream& out, std::istream& in)
{
    GeneratorV1 generator(root, out, in);
    return generator.generate();
}

} // namespace Html
} // namespace Stat
