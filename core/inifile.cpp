#include "core/inifile.hpp"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <istream>
#include <ostream>
#include <sstream>

namespace IniFile {

namespace {

std::ostream& quoted(std::ostream& os, std::string const& s)
{
    return os << '"' << s << '"';
}

} // namespace

// ---- SubKey -------------------------------------------------------------

bool SubKey::GetBool(bool def) const
{
    if (mValue == "true" || mValue == "yes" || mValue == "1" || mValue == "on")
        return true;
    if (mValue == "false" || mValue == "no" || mValue == "0" || mValue == "off")
        return false;
    return def;
}

void SubKey::SetBool(bool b)
{
    mValue = b ? "yes" : "no";
}

int SubKey::GetInt(int def) const
{
    // The leading integer, as "%d" takes it; an out-of-range number is
    // clamped rather than left to undefined conversion.
    char const* s = mValue.c_str();
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(s, &end, 10);
    if (end == s)
        return def;
    if (v > INT_MAX)
        return INT_MAX;
    if (v < INT_MIN)
        return INT_MIN;
    return static_cast<int>(v);
}

void SubKey::SetInt(int n)
{
    mValue = std::to_string(n);
}

double SubKey::GetFloat(double def) const
{
    double v = 0;
    if (std::sscanf(mValue.c_str(), "%lf", &v) != 1)
        return def;
    return v;
}

void SubKey::SetFloat(double x)
{
    std::ostringstream os;
    os << x;
    mValue = os.str();
}

void SubKey::Dump(std::ostream& os) const
{
    os << "dumping IniFile::SubKey" << '\n';
    quoted(os << "mValue=", mValue) << '\n';
    os << "mLineNo=" << mLineNo << '\n';
}

// ---- Key ----------------------------------------------------------------

SubKey& Key::NewSubKey(std::string const& value, int line)
{
    auto* sk = new SubKey(value, line);
    mSubKeys.append(sk);
    ++mSubKeyCount;
    return *sk;
}

void Key::CleanSubKeys()
{
    mSubKeys.clear();
    mSubKeyCount = 0;
}

void Key::CheckEmpty()
{
    if (mSubKeyCount == 0)
        NewSubKey("", -1);
}

void Key::Dump(std::ostream& os) const
{
    os << "dumping IniFile::Key" << '\n';
    quoted(os << "mName=", mName) << '\n';
    os << "mSubKeyCount=" << mSubKeyCount << '\n';
    for (SubKey const& sk : *this)
        sk.Dump(os);
}

// ---- SubSection ---------------------------------------------------------

std::string const& SubSection::FileName() const
{
    static std::string const none;
    return mFile ? mFile->mFileName : none;
}

Key& SubSection::operator[](std::string const& name)
{
    auto it = mIndex.find(name);
    if (it != mIndex.end())
        return *it->second;
    return NewKey(name);
}

Key& SubSection::NewKey(std::string const& name)
{
    auto it = mIndex.find(name);
    if (it != mIndex.end())
        return *it->second;
    auto* k = new Key(name);
    mKeys.append(k);
    mIndex.emplace(name, k);
    ++mKeyCount;
    return *k;
}

SubKey& SubSection::NewSubKey(std::string const& name, std::string const& value, int line)
{
    return NewKey(name).NewSubKey(value, line);
}

void SubSection::CleanKeys()
{
    mIndex.clear();
    mKeys.clear();
    mKeyCount = 0;
}

void SubSection::Dump(std::ostream& os) const
{
    os << "dumping IniFile::SubSection" << '\n';
    os << "mLineNo=\"" << mLineNo << '"' << '\n';
    os << "mKeyCount=" << mKeyCount << '\n';
    for (Key const& k : *this)
        k.Dump(os);
}

// ---- Section ------------------------------------------------------------

SubSection& Section::NewSubSection(int line)
{
    auto* ss = new SubSection(line);
    mSubSections.append(ss);
    ++mSubSectionCount;
    return *ss;
}

void Section::CleanSubSections()
{
    mSubSections.clear();
    mSubSectionCount = 0;
}

void Section::CheckEmpty()
{
    if (mSubSectionCount == 0)
        NewSubSection(-1);
}

void Section::Dump(std::ostream& os) const
{
    os << "dumping IniFile::Section" << '\n';
    quoted(os << "mName=", mName) << '\n';
    os << "mSubSectionCount=" << mSubSectionCount << '\n';
    for (SubSection const& ss : *this)
        ss.Dump(os);
}

// ---- File ---------------------------------------------------------------

bool File::Open(std::string const& name)
{
    Close();
    mFileName = name;
    // Binary: carriage returns reach the parser, which drops them itself.
    std::ifstream in(name, std::ios::in | std::ios::binary);
    if (in.is_open())
        IntOpenStream(in);
    return mOpened;
}

void File::Close()
{
    // Sections asked for on a file that never opened exist too (operator[]
    // creates them): drop them whether or not anything was read.
    CleanSections();
    mOpened = false;
}

Section& File::operator[](std::string const& name)
{
    return NewSection(name);
}

Section& File::NewSection(std::string const& name)
{
    auto it = mIndex.find(name);
    if (it != mIndex.end())
        return *it->second;
    auto* s = new Section(name);
    mSections.append(s);
    mIndex.emplace(name, s);
    ++mSectionCount;
    return *s;
}

SubSection& File::NewSubSection(std::string const& name, int line)
{
    SubSection& sub = NewSection(name).NewSubSection(line);
    sub.mFile = this;
    return sub;
}

void File::CleanSections()
{
    mIndex.clear();
    mSections.clear();
    mSectionCount = 0;
}

void File::Dump(std::ostream& os) const
{
    os << "dumping IniFile::File" << '\n';
    quoted(os << "mFileName=", mFileName) << '\n';
    os << '\n';
    os << "mSectionCount=" << mSectionCount << '\n';
    for (Section const& s : *this)
        s.Dump(os);
}

std::string LineRef(std::string const& fileName, int line)
{
    std::string ref = "line " + std::to_string(line);
    if (!fileName.empty())
        ref += " of " + fileName;
    return ref;
}

std::istream& operator>>(std::istream& is, File& file)
{
    file.Close();
    file.mFileName.clear();
    file.IntOpenStream(is);
    return is;
}

void File::IntOpenStream(std::istream& is)
{
    enum class State { outside, header, header_tail, line_start, key, before_value, value };

    mOpened = true;
    State state = State::outside;
    bool comment = false;
    int line = 1;
    int spaces = 0; // spaces seen but not yet known to be inside the text
    std::string section;
    std::string key;
    std::string value;
    SubSection* current = nullptr;
    bool stray = false; // text on this line outside any section

    auto store = [&] {
        current->NewSubKey(key, value, line);
        key.clear();
    };
    // The parser takes what it can; a line it cannot use is named, so that
    // a setting that seems to have no effect can be found.
    auto drop = [&](char const* why) {
        std::cerr << "configuration " << LineRef(mFileName, line) << ": " << why << ", ignored" << std::endl;
    };

    std::streambuf* sb = is.rdbuf();
    for (;;) {
        int ch = sb ? sb->sbumpc() : std::char_traits<char>::eof();
        if (ch == std::char_traits<char>::eof())
            break;
        char c = static_cast<char>(ch);
        if (c == '\r')
            continue;
        if (comment) {
            if (c != '\n')
                continue;
            comment = false;
        }
        switch (state) {
        case State::outside:
            if (c == '#') {
                comment = true;
            } else if (c == '[') {
                section.clear();
                stray = false;
                state = State::header;
            } else if (c == '\n') {
                if (stray)
                    drop("text outside any section");
                stray = false;
            } else if (c != ' ' && c != '\t') {
                stray = true;
            }
            break;
        case State::header:
            if (c == '\n') {
                drop("section header without \"]\"");
                state = State::outside;
            } else if (c == ']') {
                current = &NewSubSection(section, line);
                state = State::header_tail;
            } else {
                section.push_back(c);
            }
            break;
        case State::header_tail:
            if (c == '\n')
                state = State::line_start;
            else if (c == '#')
                comment = true;
            break;
        case State::line_start:
            if (c == '#') {
                comment = true;
            } else if (c == '\t' || c == '\n' || c == ' ') {
                // blank
            } else if (c == '[') {
                section.clear();
                state = State::header;
            } else {
                key.assign(1, c);
                spaces = 0;
                state = State::key;
            }
            break;
        case State::key:
            if (c == ' ') {
                ++spaces;
            } else if (c == '=') {
                value.clear();
                state = State::before_value;
            } else if (c == '\n') {
                drop("line without \"=\"");
                key.clear();
                spaces = 0;
                state = State::line_start;
            } else {
                key.append(static_cast<std::size_t>(spaces), ' ');
                spaces = 0;
                key.push_back(c);
            }
            break;
        case State::before_value:
            if (c == ' ') {
                // leading spaces of the value
            } else if (c == '\n') {
                store();
                state = State::line_start;
            } else if (c == '#') {
                comment = true;
            } else {
                value.assign(1, c);
                spaces = 0;
                state = State::value;
            }
            break;
        case State::value:
            if (c == ' ') {
                ++spaces;
            } else if (c == '\n') {
                store();
                state = State::line_start;
            } else if (c == '#' && spaces > 0) {
                spaces = 0;
                comment = true;
            } else {
                value.append(static_cast<std::size_t>(spaces), ' ');
                spaces = 0;
                value.push_back(c);
            }
            break;
        }
        if (c == '\n')
            ++line;
    }
    if (state == State::before_value || state == State::value)
        store();
    else if (state == State::header)
        drop("section header without \"]\"");
    else if (state == State::key)
        drop("line without \"=\"");
    else if (state == State::outside && stray)
        drop("text outside any section");
}

// ---- typed reader -------------------------------------------------------

namespace Private {

bool parse_bool(char const* text, bool& out)
{
    static char const* const yes[] = {"true", "yes", "enabled", "enable", "1"};
    static char const* const no[] = {"false", "no", "disabled", "disable", "0"};
    for (char const* w : yes) {
        if (std::strcmp(text, w) == 0) {
            out = true;
            return true;
        }
    }
    for (char const* w : no) {
        if (std::strcmp(text, w) == 0) {
            out = false;
            return true;
        }
    }
    return false;
}

bool parse_integer(char const* text, long long& out)
{
    // strtoll would skip leading white space; the whole text must be the number.
    if (*text == '\0' || std::isspace(static_cast<unsigned char>(*text)))
        return false;
    char* end = nullptr;
    errno = 0;
    long long v = std::strtoll(text, &end, 0);
    if (end == text || *end != '\0' || errno == ERANGE)
        return false;
    out = v;
    return true;
}

} // namespace Private

bool Reader::parse(SubSection& sub)
{
    // Every message names the file as the parser's own lines do.
    std::string const& file = sub.FileName();
    std::string const of = file.empty() ? std::string() : " of " + file;
    for (auto const& kv : required.items) {
        Key& key = sub[kv->name()];
        switch (key.mSubKeyCount) {
        case 0:
            out_ << prefix_ << "required key \"" << kv->name() << "\" not present, "
                 << LineRef(file, sub.mLineNo) << std::endl;
            return false;
        case 1: {
            SubKey const& sk = *key.begin();
            kv->found = kv->do_parse(sk.mValue.c_str());
            if (!kv->found) {
                out_ << prefix_ << "required key \"" << kv->name() << "\" has invalid value=\"" << sk.mValue
                     << "\", " << LineRef(file, sk.mLineNo) << std::endl;
                return false;
            }
            break;
        }
        case 2: {
            auto it = key.begin();
            int first = it->mLineNo;
            int second = (++it)->mLineNo;
            out_ << prefix_ << "required key \"" << kv->name() << "\" is duplicated!" << std::endl;
            out_ << prefix_ << " first occurence at " << first << " line" << of << "." << std::endl;
            out_ << prefix_ << " second occurence at " << second << " line" << of << "." << std::endl;
            return false;
        }
        default:
            out_ << prefix_ << "required key \"" << kv->name() << "\" specified more than once:";
            for (SubKey const& sk : key)
                out_ << ' ' << sk.mLineNo;
            out_ << " lines" << of << std::endl;
            return false;
        }
    }

    for (auto const& kv : optional.items) {
        kv->found = false;
        Key& key = sub[kv->name()];
        switch (key.mSubKeyCount) {
        case 0:
            break;
        case 1: {
            SubKey const& sk = *key.begin();
            kv->found = kv->do_parse(sk.mValue.c_str());
            if (!kv->found)
                out_ << prefix_ << "optional key \"" << kv->name() << "\" has invalid value=\"" << sk.mValue
                     << "\", " << LineRef(file, sk.mLineNo) << ". Key will be ignored." << std::endl;
            break;
        }
        case 2: {
            auto it = key.begin();
            int first = it->mLineNo;
            int second = (++it)->mLineNo;
            out_ << prefix_ << "optional key \"" << kv->name() << "\" is duplicated!" << std::endl;
            out_ << prefix_ << " first occurence at " << first << " line" << of << "." << std::endl;
            out_ << prefix_ << " second occurence at " << second << " line" << of
                 << ". Both keys will be ignored." << std::endl;
            break;
        }
        default:
            out_ << prefix_ << "optional key \"" << kv->name() << "\" specified more than once:";
            for (SubKey const& sk : key)
                out_ << ' ' << sk.mLineNo;
            out_ << " lines" << of << "."
                 << " All keys will be ignored." << std::endl;
            break;
        }
    }
    return true;
}

} // namespace IniFile
