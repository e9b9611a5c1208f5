#pragma once

// The two RTCP packets the server sends for an RTP session (the driver
// carries the media and its own reports): one source description when the
// session starts and one BYE when it ends. RFC 3550 layout, every
// multi-byte value big-endian, written byte by byte.
//
// An encoder never writes past `size`: it returns 0 unless the whole padded
// packet fits.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace RTPC {

class Msg {
public:
    virtual ~Msg() = default;

    // RFC 3550 6.4-6.6: the packet type and the 5-bit count of the first
    // octet.
    virtual unsigned int pt() const = 0;
    virtual unsigned int count() const = 0;
    // Everything after the 4-byte header, padded to a multiple of 4; the
    // number of bytes written, 0 when it does not fit.
    virtual unsigned int encode_body(char* buffer, unsigned int size) const = 0;

    // The whole packet; its length, 0 when it does not fit.
    unsigned int encode(char* buffer, unsigned int size) const;
};

class SDES : public Msg {
public:
    struct Item {
        // RFC 3550 6.5: the SDES item types.
        enum Type : std::uint8_t {
            END = 0,
            CNAME = 1,
            NAME = 2,
            EMAIL = 3,
            PHONE = 4,
            LOC = 5,
            TOOL = 6,
            NOTE = 7,
            PRIV = 8
        };
        Type type;
        std::string text;
    };

    explicit SDES(std::uint32_t ssrc) : ssrc_(ssrc) {}

    unsigned int pt() const override { return 202; }
    unsigned int count() const override { return 1; } // one chunk
    unsigned int encode_body(char* buffer, unsigned int size) const override;

    // Items go out in the order added; one that does not fit the buffer
    // ends the list there.
    void add(Item::Type type, std::string const& text) { items_.push_back(Item{type, text}); }

private:
    std::uint32_t ssrc_;
    std::vector<Item> items_;
};

class BYE : public Msg {
public:
    BYE(std::uint32_t ssrc, std::string reason) : ssrc_(ssrc), reason_(std::move(reason)) {}

    unsigned int pt() const override { return 203; }
    unsigned int count() const override { return 1; } // one source
    unsigned int encode_body(char* buffer, unsigned int size) const override;

private:
    std::uint32_t ssrc_;
    std::string reason_;
};

} // namespace RTPC
