#pragma once

// Readable text of one LAPD frame, for the frame traces of the ISDN data
// link: the octets in hexadecimal, the direction, the address and frame kind
// and, for I frames and UI broadcasts that carry Q.931, the call reference,
// the message type and every information element, with a decoding of the
// elements it knows (Q.931 4.2 to 4.5).
//
// The frame comes from the line: nothing here reads outside the frame, and
// the text never leaves its 1024-byte buffer (a text that would is cut and
// ends with "...").

namespace ISDN {

inline constexpr unsigned int logbuf_size = 1024;

// The trace text of the last decoded frame, shared by every data link.
extern char logbuf[logbuf_size];

struct MessageTypeName {
    unsigned char type;
    const char* name;
};

// Which printer decodes an element's contents.
enum class ElementPrinter { general, bearer, cause, channel, facility, display, called, calling };

struct ElementName {
    unsigned char id;
    const char* name;
    ElementPrinter printer;
};

struct CauseText {
    unsigned char value; // 7 bits
    const char* english;
    const char* german; // filled for a few rows; the trace prints the English text
};

inline constexpr unsigned int mtlist_size = 32;
inline constexpr unsigned int ielist_size = 33;
inline constexpr unsigned int cvlist_size = 67;

// Searched in order; the first match wins.
extern const MessageTypeName mtlist[mtlist_size];
extern const ElementName ielist[ielist_size];
extern const CauseText cvlist[cvlist_size];

// Writes `count` characters '0' or '1' for the bits of `octet` from bit
// position `from` (8 = most significant) downwards; returns `count`.
unsigned int printbits(char* out, unsigned char octet, unsigned int from, unsigned int count);

// The position after the first octet from `p` on whose bit 8 (the Q.931
// extension bit) is set; `end` when no octet before `end` has it.
const unsigned char* skipext(const unsigned char* p, const unsigned char* end);

} // namespace ISDN

// Formats the frame into `out`, which holds ISDN::logbuf_size bytes (the
// data link passes ISDN::logbuf); the text always ends with a NUL inside it.
// `direction` non-zero means network to user. A frame of no octet gives an
// empty text.
void dlogframe(unsigned char* frame, unsigned int length, unsigned int direction, char* out);
