#pragma once

#include <iosfwd>

// The build's identity; Version::current.tag is the program's version text.
class Version {
public:
    enum Type { snapshot = 0, test = 1, release = 2, unit_test = 3 };

    constexpr Version(Type type_, int number_, const char* label_, const char* builder_,
                      const char* build_time_, const char* tag_, const char* platform_)
        : type(type_),
          number(number_),
          label(label_),
          builder(builder_),
          build_time(build_time_),
          tag(tag_),
          platform(platform_)
    {
        update();
    }

    constexpr void update() {}
    // Writes the tag only.
    void put(std::ostream& os) const;

    Type type;
    int number;
    const char* label;
    const char* builder;
    const char* build_time;
    const char* tag;
    const char* platform;

    static const Version current;
};

const char* version_string(Version::Type type);
const char* version_suffix(Version::Type type);
std::ostream& operator<<(std::ostream& os, Version::Type type);
std::ostream& operator<<(std::ostream& os, const Version& v);
