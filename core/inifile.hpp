#pragma once
// The configuration file: a tolerant INI reader that turns the text into a
// tree of sections, sub-sections (one per header line), keys and values with
// their line numbers, and a typed reader that binds keys of one sub-section
// to program variables and reports missing, duplicated or malformed keys.
// The tree is read-only towards the file: nothing is written back.

#include <climits>
#include <cstdlib>
#include <iosfwd>
#include <iterator>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace IniFile {

class File;
class Section;
class SubSection;
class Key;
class SubKey;

// Forward iterator over one level of the tree, in file order.
template <class T>
class GenericIterator {
public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = T;
    using difference_type = std::ptrdiff_t;
    using pointer = T*;
    using reference = T&;

    GenericIterator() = default;
    explicit GenericIterator(T* item) : item_(item) {}

    bool operator!=(GenericIterator const& o) const { return item_ != o.item_; }
    bool operator==(GenericIterator const& o) const { return item_ == o.item_; }
    GenericIterator& operator++()
    {
        item_ = item_->mNext;
        return *this;
    }
    GenericIterator operator++(int)
    {
        GenericIterator old = *this;
        item_ = item_->mNext;
        return old;
    }
    T& operator*() const { return *item_; }
    T* operator->() const { return item_; }

private:
    T* item_ = nullptr;
};

namespace Private {
// First and last of a doubly linked list that owns its items.
template <class T>
struct Chain {
    T* first = nullptr;
    T* last = nullptr;

    void append(T* item)
    {
        item->mPrev = last;
        item->mNext = nullptr;
        if (last)
            last->mNext = item;
        else
            first = item;
        last = item;
    }
    void clear()
    {
        while (T* item = first) {
            first = item->mNext;
            delete item;
        }
        last = nullptr;
    }
};
} // namespace Private

class SubKey {
public:
    SubKey(std::string value, int line) : mValue(std::move(value)), mLineNo(line) {}
    SubKey(SubKey const&) = delete;
    SubKey& operator=(SubKey const&) = delete;

    // Each returns def when the text does not convert.
    bool GetBool(bool def) const;
    void SetBool(bool b);
    int GetInt(int def) const;
    void SetInt(int n);
    double GetFloat(double def) const;
    void SetFloat(double x);

    void Dump(std::ostream& os) const;

    std::string mValue;
    int mLineNo;
    SubKey* mNext = nullptr;
    SubKey* mPrev = nullptr;
};

class Key {
public:
    explicit Key(std::string name) : mName(std::move(name)) {}
    Key(Key const&) = delete;
    Key& operator=(Key const&) = delete;
    ~Key() { CleanSubKeys(); }

    SubKey& NewSubKey(std::string const& value, int line);
    void CleanSubKeys();
    // Gives a key with no value the empty value (line -1).
    void CheckEmpty();
    void Dump(std::ostream& os) const;

    GenericIterator<SubKey> begin() const { return GenericIterator<SubKey>(mSubKeys.first); }
    GenericIterator<SubKey> end() const { return GenericIterator<SubKey>(); }

    std::string mName;
    int mSubKeyCount = 0; // how often the key occurs in its sub-section
    Private::Chain<SubKey> mSubKeys;
    Key* mNext = nullptr;
    Key* mPrev = nullptr;
};

class SubSection {
public:
    explicit SubSection(int line) : mLineNo(line) {}
    SubSection(SubSection const&) = delete;
    SubSection& operator=(SubSection const&) = delete;
    ~SubSection() { CleanKeys(); }

    // A missing key is created without values, so a lookup never fails.
    Key& operator[](std::string const& name);
    Key& NewKey(std::string const& name);
    SubKey& NewSubKey(std::string const& name, std::string const& value, int line);
    void CleanKeys();
    void Dump(std::ostream& os) const;

    GenericIterator<Key> begin() const { return GenericIterator<Key>(mKeys.first); }
    GenericIterator<Key> end() const { return GenericIterator<Key>(); }

    // The name of the file it was read from: empty when read from a stream
    // or made by hand.
    std::string const& FileName() const;

    int mLineNo; // line of the header that opened it
    int mKeyCount = 0;
    Private::Chain<Key> mKeys;
    SubSection* mNext = nullptr;
    SubSection* mPrev = nullptr;
    std::map<std::string, Key*> mIndex;
    File const* mFile = nullptr; // the file whose text holds it, if any
};

class Section {
public:
    explicit Section(std::string name) : mName(std::move(name)) {}
    Section(Section const&) = delete;
    Section& operator=(Section const&) = delete;
    ~Section() { CleanSubSections(); }

    SubSection& NewSubSection(int line);
    void CleanSubSections();
    // Gives a section with no sub-section an empty one (line -1).
    void CheckEmpty();
    void Dump(std::ostream& os) const;

    GenericIterator<SubSection> begin() const { return GenericIterator<SubSection>(mSubSections.first); }
    GenericIterator<SubSection> end() const { return GenericIterator<SubSection>(); }

    std::string mName;
    int mSubSectionCount = 0;
    Private::Chain<SubSection> mSubSections;
    Section* mNext = nullptr;
    Section* mPrev = nullptr;
};

class File {
public:
    File() = default;
    File(File const&) = delete;
    File& operator=(File const&) = delete;
    ~File() { Close(); }

    // True when the file could be opened, whatever its content.
    bool Open(std::string const& name);
    void Close();
    void Sync() {}
    bool IsOpen() const { return mOpened; }

    // A missing section is created empty, so asking never fails.
    Section& operator[](std::string const& name);
    Section& NewSection(std::string const& name);
    SubSection& NewSubSection(std::string const& name, int line);
    void CleanSections();
    void Dump(std::ostream& os) const;

    GenericIterator<Section> begin() const { return GenericIterator<Section>(mSections.first); }
    GenericIterator<Section> end() const { return GenericIterator<Section>(); }

    friend std::istream& operator>>(std::istream& is, File& file);

    std::string mFileName;
    bool mOpened = false;
    int mSectionCount = 0;
    Private::Chain<Section> mSections;
    std::map<std::string, Section*> mIndex;

private:
    void IntOpenStream(std::istream& is);
};

std::istream& operator>>(std::istream& is, File& file);

// How a message about one line of the configuration names it: "line N", and
// " of " the file when the text came from a named one.
std::string LineRef(std::string const& fileName, int line);

// One row of a name table for an enumeration; a table ends with a null name.
template <class T>
struct Symbol {
    char const* name;
    T value;
};

namespace Private {

class KeyValue {
public:
    KeyValue() = default;
    KeyValue(KeyValue const&) = delete;
    KeyValue& operator=(KeyValue const&) = delete;
    virtual ~KeyValue() = default;
    virtual char const* name() const = 0;
    virtual bool do_parse(char const* text) = 0;

    bool found = false;
};

bool parse_bool(char const* text, bool& out);
// A whole, non-empty integer in C notation (decimal, 0x hexadecimal, 0 octal).
bool parse_integer(char const* text, long long& out);

template <class T>
class TKeyValue : public KeyValue {
    static_assert(std::is_same_v<T, bool> || std::is_same_v<T, std::string> || std::is_enum_v<T>,
                  "keys bind to bool, std::string or an enumeration");

public:
    TKeyValue(T* target, char const* name, Symbol<T> const* symbols)
        : target_(target), name_(name), symbols_(symbols)
    {}
    char const* name() const override { return name_; }

    bool do_parse(char const* text) override
    {
        if constexpr (std::is_same_v<T, bool>) {
            return parse_bool(text, *target_);
        } else if constexpr (std::is_same_v<T, std::string>) {
            *target_ = text;
            return true;
        } else {
            for (Symbol<T> const* s = symbols_; s && s->name; ++s) {
                if (std::string_view(s->name) == text) {
                    *target_ = s->value;
                    return true;
                }
            }
            long long n = 0;
            if (!parse_integer(text, n))
                return false;
            // A number the enumeration's type cannot hold would wrap into
            // some other value: refuse it like any malformed text.
            using U = std::underlying_type_t<T>;
            if (n < static_cast<long long>(std::numeric_limits<U>::min()) ||
                (n > 0 && static_cast<unsigned long long>(n) >
                              static_cast<unsigned long long>(std::numeric_limits<U>::max())))
                return false;
            *target_ = static_cast<T>(static_cast<U>(n));
            return true;
        }
    }

private:
    T* target_;
    char const* name_;
    Symbol<T> const* symbols_;
};

} // namespace Private

class Reader {
public:
    class Field {
    public:
        Field() = default;
        Field(Field const&) = delete;
        Field& operator=(Field const&) = delete;

        // Binds a key to *target; the returned flag later tells whether the
        // key was read. The table is not used to deduce T, so a literal
        // nullptr may stand for "no table".
        template <class T>
        bool& add(T* target, char const* name, std::type_identity_t<Symbol<T>> const* symbols = nullptr)
        {
            items.push_back(std::make_unique<Private::TKeyValue<T>>(target, name, symbols));
            return items.back()->found;
        }

        std::vector<std::unique_ptr<Private::KeyValue>> items;
    };

    Reader(std::string prefix, std::ostream& out) : prefix_(std::move(prefix)), out_(out) {}

    // False when a required key is missing, repeated or malformed.
    bool parse(SubSection& sub);

    Field required;
    Field optional;

private:
    std::string prefix_;
    std::ostream& out_;
};

} // namespace IniFile
