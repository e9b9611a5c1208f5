#include "signalling/q931_trace.hpp"

#include <cstddef>
#include <initializer_list>

namespace ISDN {

char logbuf[logbuf_size];

// Q.931 4.4 (Table 4-2).
const MessageTypeName mtlist[mtlist_size] = {
    {0x01, "ALERTING"},
    {0x02, "CALL PROCEEDING"},
    {0x07, "CONNECT"},
    {0x0F, "CONNECT ACKNOWLEDGE"},
    {0x03, "PROGRESS"},
    {0x05, "SETUP"},
    {0x0D, "SETUP ACKNOWLEDGE"},
    {0x24, "HOLD"},
    {0x28, "HOLD ACKNOWLEDGE"},
    {0x30, "HOLD REJECT"},
    {0x31, "RETRIEVE"},
    {0x33, "RETRIEVE ACKNOWLEDGE"},
    {0x37, "RETRIEVE REJECT"},
    {0x26, "RESUME"},
    {0x2E, "RESUME ACKNOWLEDGE"},
    {0x22, "RESUME REJECT"},
    {0x25, "SUSPEND"},
    {0x2D, "SUSPEND ACKNOWLEDGE"},
    {0x21, "SUSPEND REJECT"},
    {0x20, "USER INFORMATION"},
    {0x45, "DISCONNECT"},
    {0x4D, "RELEASE"},
    {0x5A, "RELEASE COMPLETE"},
    {0x46, "RESTART"},
    {0x4E, "RESTART ACKNOWLEDGE"},
    {0x60, "SEGMENT"},
    {0x79, "CONGESTION CONTROL"},
    {0x7B, "INFORMATION"},
    {0x62, "FACILITY"},
    {0x6E, "NOTIFY"},
    {0x7D, "STATUS"},
    {0x75, "STATUS ENQUIRY"},
};

// Codeset 0, Q.931 4.5 (Table 4-3).
const ElementName ielist[ielist_size] = {
    {0x00, "Segmented message", ElementPrinter::general},
    {0x04, "Bearer capability", ElementPrinter::bearer},
    {0x08, "Cause", ElementPrinter::cause},
    {0x10, "Call identity", ElementPrinter::general},
    {0x14, "Call state", ElementPrinter::general},
    {0x18, "Channel identification", ElementPrinter::channel},
    {0x1C, "Facility", ElementPrinter::facility},
    {0x1E, "Progress indicator", ElementPrinter::general},
    {0x20, "Network-specific facilities", ElementPrinter::general},
    {0x27, "Notification indicator", ElementPrinter::general},
    {0x28, "Display", ElementPrinter::display},
    {0x29, "Date/Time", ElementPrinter::general},
    {0x2C, "Keypad facility", ElementPrinter::general},
    {0x34, "Signal", ElementPrinter::general},
    {0x40, "Information rate", ElementPrinter::general},
    {0x42, "End-to-end delay", ElementPrinter::general},
    {0x43, "Transit delay selection and indication", ElementPrinter::general},
    {0x44, "Packet layer binary parameters", ElementPrinter::general},
    {0x45, "Packet layer window size", ElementPrinter::general},
    {0x46, "Packet size", ElementPrinter::general},
    {0x47, "Closed user group", ElementPrinter::general},
    {0x4A, "Reverse charge indication", ElementPrinter::general},
    {0x6C, "Calling party number", ElementPrinter::calling},
    {0x6D, "Calling party subaddress", ElementPrinter::general},
    {0x70, "Called party number", ElementPrinter::called},
    {0x71, "Called party subaddress", ElementPrinter::general},
    {0x74, "Redirecting number", ElementPrinter::general},
    {0x78, "Transit network selection", ElementPrinter::general},
    {0x79, "Restart indicator", ElementPrinter::general},
    {0x7C, "Low layer compatibility", ElementPrinter::general},
    {0x7D, "High layer compatibility", ElementPrinter::general},
    {0x7E, "User-user", ElementPrinter::general},
    {0x7F, "Escape for extension", ElementPrinter::general},
};

// Q.850 Table 1.
const CauseText cvlist[cvlist_size] = {
    {0x01, "Unallocated (unassigned) number", "Nummer nicht zugeteilt"},
    {0x02, "No route to specified transit network", ""},
    {0x03, "No route to destination", ""},
    {0x04, "Send special information tone", ""},
    {0x05, "Misdialled trunk prefix", ""},
    {0x06, "Channel unacceptable", "Kanal nicht akzeptierbar"},
    {0x07, "Channel awarded and being delivered in an established channel", ""},
    {0x08, "Preemption", ""},
    {0x09, "Preemption - circuit reserved for reuse", ""},
    {0x10, "Normal call clearing", "Normale Ausloesung"},
    {0x11, "User busy", "TNB besetzt"},
    {0x12, "No user responding", ""},
    {0x13, "No answer from user (user alerted)", ""},
    {0x14, "Subscriber absent", ""},
    {0x15, "Call rejected", ""},
    {0x16, "Number changed", ""},
    {0x1A, "non-selected user clearing", ""},
    {0x1B, "Destination out of order", ""},
    {0x1C, "Invalid number format (address incomplete)", ""},
    {0x1D, "Facility rejected", ""},
    {0x1E, "Response to Status enquiry", ""},
    {0x1F, "Normal, unspecified", ""},
    {0x22, "No circuit/channel available", ""},
    {0x26, "Network out of order", ""},
    {0x27, "Permanent frame mode connection out-of-service", ""},
    {0x28, "Permanent frame mode connection operational", ""},
    {0x29, "Temporary failure", ""},
    {0x2A, "Switching equipment congestion", ""},
    {0x2B, "Access information discarded", ""},
    {0x2C, "Requested circuit/channel not available", ""},
    {0x2E, "Precedence call blocked", ""},
    {0x2F, "Resource unavailable, unspecified", ""},
    {0x31, "Quality of service unavailable", ""},
    {0x32, "Requested facility not subscribed", ""},
    {0x35, "Outgoing calls barred within CUG", ""},
    {0x37, "Incoming calls barred within CUG", ""},
    {0x39, "Bearer capability not authorized", ""},
    {0x3A, "Bearer capability not presently available", ""},
    {0x3E, "Inconsistency in designated outgoing access information and subscriber class ", ""},
    {0x3F, "Service or option not available, unspecified", ""},
    {0x41, "Bearer capability not implemented", ""},
    {0x42, "Channel type not implemented", ""},
    {0x43, "Requested facility not implemented", ""},
    {0x44, "Only restricted digital information bearer capability is available", ""},
    {0x4F, "Service or option not implemented", ""},
    {0x51, "Invalid call reference value", ""},
    {0x52, "Identified channel does not exist", ""},
    {0x53, "A suspended call exists, but this call identity does not", ""},
    {0x54, "Call identity in use", ""},
    {0x55, "No call suspended", ""},
    {0x56, "Call having the requested call identity has been cleared", ""},
    {0x57, "User not member of CUG", ""},
    {0x58, "Incompatible destination", ""},
    {0x5A, "Non-existent CUG", ""},
    {0x5B, "Invalid transit network selection", ""},
    {0x5F, "Invalid message, unspecified", ""},
    {0x60, "Mandatory information element is missing", ""},
    {0x61, "Message type non-existent or not implemented", ""},
    {0x62, "Message not compatible with call state or message type non-existent or not implemented ", ""},
    {0x63, "Information element/parameter non-existent or not implemented", ""},
    {0x64, "Invalid information element contents", ""},
    {0x65, "Message not compatible with call state", ""},
    {0x66, "Recovery on timer expiry", ""},
    {0x67, "Parameter non-existent or not implemented - passed on", ""},
    {0x6E, "Message with unrecognized parameter discarded", ""},
    {0x6F, "Protocol error, unspecified", ""},
    {0x7F, "Interworking, unspecified", ""},
};

unsigned int printbits(char* out, unsigned char octet, unsigned int from, unsigned int count)
{
    for (unsigned int i = 0; i < count; ++i) {
        const unsigned int bit = from - i; // 8 .. 1
        out[i] = (bit >= 1 && bit <= 8 && ((octet >> (bit - 1)) & 1) != 0) ? '1' : '0';
    }
    return count;
}

const unsigned char* skipext(const unsigned char* p, const unsigned char* end)
{
    while (p < end)
        if ((*p++ & 0x80) != 0)
            return p;
    return end;
}

} // namespace ISDN

namespace {

using Octets = const unsigned char*;

// The text being written. It never passes the buffer: a text that would
// not fit keeps what fits of it, ends with "..." and a line break, and
// ignores everything written after that; the NUL always fits.
class Text {
public:
    explicit Text(char* out) : out_(out) {}

    void put(char c)
    {
        if (at_ < kLast)
            out_[at_++] = c;
        else
            cut();
    }
    void puts(const char* s)
    {
        while (*s != '\0')
            put(*s++);
    }
    void hex2(unsigned char v) // %02X
    {
        put(kUpper[v >> 4]);
        put(kUpper[v & 15]);
    }
    void hex(unsigned int v) // %x
    {
        char digits[8];
        int n = 0;
        do {
            digits[n++] = kLower[v & 15];
            v >>= 4;
        } while (v != 0);
        while (n > 0)
            put(digits[--n]);
    }
    void hexw2(unsigned char v) // %2x
    {
        if (v < 16)
            put(' ');
        hex(v);
    }
    void dec(unsigned int v) // %d of a value that is never negative
    {
        char digits[10];
        int n = 0;
        do {
            digits[n++] = static_cast<char>('0' + v % 10);
            v /= 10;
        } while (v != 0);
        while (n > 0)
            put(digits[--n]);
    }
    void bits(unsigned char octet, unsigned int from, unsigned int count)
    {
        char b[8];
        ISDN::printbits(b, octet, from, count);
        for (unsigned int i = 0; i < count; ++i)
            put(b[i]);
    }
    // Number digits and display texts: what the log could not show, or
    // would take as the end of the line, is written as \xNN.
    void chars(Octets p, Octets end)
    {
        for (; p < end; ++p) {
            if (*p >= 0x20 && *p <= 0x7E) {
                put(static_cast<char>(*p));
            } else {
                puts("\\x");
                hex2(*p);
            }
        }
    }
    void finish() { out_[at_] = '\0'; }

private:
    // Room for the text and its NUL; a cut text ends with "...\n".
    static constexpr unsigned int kLast = ISDN::logbuf_size - 1;
    static constexpr char kUpper[] = "0123456789ABCDEF";
    static constexpr char kLower[] = "0123456789abcdef";

    void cut()
    {
        if (full_)
            return;
        full_ = true;
        if (at_ > kLast - 4)
            at_ = kLast - 4;
        for (char c : {'.', '.', '.', '\n'})
            out_[at_++] = c;
    }

    char* out_;
    unsigned int at_ = 0;
    bool full_ = false;
};

// The line that ends an element whose printer needed an octet the element
// (or the frame) does not hold.
bool Truncated(Text& t)
{
    t.puts("    truncated\n");
    return true;
}

// The letter of a label after 'a' .. 'z' (a real element never has that
// many extension octets; the label stays a letter).
char NextLetter(char letter)
{
    if (letter == ' ')
        return 'a';
    return letter < 'z' ? static_cast<char>(letter + 1) : 'z';
}

// Each printer decodes the contents [c, e) that the frame holds of one
// element and returns true when it reported a truncation itself.

bool General(Text& t, Octets c, Octets e)
{
    unsigned int number = 3;
    char letter = ' ';
    for (; c < e; ++c) {
        t.puts("    octet ");
        t.dec(number);
        t.put(letter);
        t.put(' ');
        t.bits(*c, 8, 8);
        t.put('\n');
        if ((*c & 0x80) != 0) {
            ++number;
            letter = ' ';
        } else {
            letter = NextLetter(letter);
        }
    }
    return false;
}

void BitsLine(Text& t, const char* label, unsigned char octet)
{
    t.puts(label);
    t.bits(octet, 8, 8);
    t.put('\n');
}

// Q.931 4.5.5: octets 3 and 4, 4.1 for multirate, then the layer 1, 2 or
// 3 protocol octets that follow (bits 7-6 name the layer).
bool Bearer(Text& t, Octets c, Octets e)
{
    if (c >= e)
        return Truncated(t);
    BitsLine(t, "    octet 3  ", c[0]);
    if (c + 1 >= e)
        return Truncated(t);
    BitsLine(t, "    octet 4  ", c[1]);
    Octets q = c + 2;
    if ((c[1] & 0x1F) == 0x18) {
        if (q >= e)
            return Truncated(t);
        BitsLine(t, "    octet 4.1 ", *q++);
    }
    if (q >= e)
        return false; // the layer octets are optional
    switch (*q & 0x60) {
    case 0x20: {
        char letter = ' ';
        for (;;) {
            if (q >= e)
                return Truncated(t);
            t.puts("    octet 5");
            t.put(letter);
            t.put(' ');
            t.bits(*q, 8, 8);
            t.put('\n');
            if ((*q++ & 0x80) != 0)
                break;
            letter = NextLetter(letter);
        }
        break;
    }
    case 0x40:
        BitsLine(t, "    octet 6  ", *q);
        break;
    case 0x60:
        BitsLine(t, "    octet 7  ", *q);
        break;
    default:
        break;
    }
    return false;
}

// Q.931 4.5.12 and Q.850 2.2: coding standard and location, the cause value
// after octet 3 and its extension, then the diagnostics.
bool Cause(Text& t, Octets c, Octets e)
{
    if (c >= e)
        return Truncated(t);
    t.puts("    coding ");
    t.bits(c[0], 7, 2);
    t.puts(" location ");
    t.bits(c[0], 4, 4);
    t.put('\n');
    Octets v = ISDN::skipext(c, e);
    if (v >= e)
        return Truncated(t);
    const unsigned int value = *v & 0x7Fu;
    const ISDN::CauseText* found = nullptr;
    for (const auto& row : ISDN::cvlist)
        if (row.value == value) {
            found = &row;
            break;
        }
    if (found != nullptr) {
        t.puts("  cause value ");
        t.hex(value);
        t.puts(" : ");
        t.puts(found->english);
        t.puts(" \n");
    } else {
        t.puts("Unknown cause type ");
        t.hex(value);
        t.puts("!\n");
    }
    // Each diagnostic reads two or three octets and the next one starts at
    // its third, so every turn moves on by two.
    for (Octets d = v + 1; d < e; d += 2) {
        t.puts("    diag attribute ");
        t.dec(d[0] & 0x7Fu);
        t.put(' ');
        if (d + 1 >= e) {
            t.put('\n');
            return Truncated(t);
        }
        t.puts(" rej ");
        t.dec(d[1] & 0x7Fu);
        t.put(' ');
        if ((d[1] & 0x80) != 0) {
            t.put('\n');
            break;
        }
        if (d + 2 >= e) {
            t.put('\n');
            return Truncated(t);
        }
        t.puts(" av ");
        t.dec(d[2] & 0x7Fu);
        t.put('\n');
    }
    return false;
}

// Octet 3 of the channel, number and facility elements; true when the
// element has none (and the truncation line was written).
bool NoOctet3(Text& t, Octets c, Octets e)
{
    if (c >= e)
        return Truncated(t);
    BitsLine(t, "    octet 3 ", c[0]);
    return false;
}

bool Channel(Text& t, Octets c, Octets e)
{
    return NoOctet3(t, c, e);
}

void Digits(Text& t, Octets c, Octets e)
{
    t.puts("    number digits ");
    t.chars(c, e);
    t.put('\n');
}

bool Called(Text& t, Octets c, Octets e)
{
    if (NoOctet3(t, c, e))
        return true;
    Digits(t, c + 1, e);
    return false;
}

// Q.931 4.5.10: octet 3a (presentation and screening) follows when the
// extension bit of octet 3 is clear.
bool Calling(Text& t, Octets c, Octets e)
{
    if (NoOctet3(t, c, e))
        return true;
    Octets q = c + 1;
    if ((c[0] & 0x80) == 0) {
        if (q >= e)
            return Truncated(t);
        BitsLine(t, "    octet 3a ", *q++);
    }
    Digits(t, q, e);
    return false;
}

bool Facility(Text& t, Octets c, Octets e)
{
    if (NoOctet3(t, c, e))
        return true;
    Octets q = c + 1;
    while (q < e) {
        BitsLine(t, "   octet 4 ", *q++);
        if (q >= e)
            return Truncated(t);
        const unsigned int n = *q++ & 0x7Fu;
        t.puts("   octet 5 ");
        t.dec(n);
        t.put('\n');
        t.puts("   contents ");
        const unsigned int present =
            static_cast<unsigned int>(e - q) < n ? static_cast<unsigned int>(e - q) : n;
        for (unsigned int i = 0; i < present; ++i) {
            t.hexw2(q[i]);
            t.put(' ');
        }
        t.put('\n');
        q += present;
        if (present < n)
            return Truncated(t);
    }
    return false;
}

bool Display(Text& t, Octets c, Octets e)
{
    t.puts("   \"");
    t.chars(c, e);
    t.puts("\"\n");
    return false;
}

bool Print(ISDN::ElementPrinter printer, Text& t, Octets c, Octets e)
{
    switch (printer) {
    case ISDN::ElementPrinter::general:
        return General(t, c, e);
    case ISDN::ElementPrinter::bearer:
        return Bearer(t, c, e);
    case ISDN::ElementPrinter::cause:
        return Cause(t, c, e);
    case ISDN::ElementPrinter::channel:
        return Channel(t, c, e);
    case ISDN::ElementPrinter::facility:
        return Facility(t, c, e);
    case ISDN::ElementPrinter::display:
        return Display(t, c, e);
    case ISDN::ElementPrinter::called:
        return Called(t, c, e);
    case ISDN::ElementPrinter::calling:
        return Calling(t, c, e);
    }
    return false;
}

void HexLine(Text& t, const char* label, unsigned int value)
{
    t.puts(label);
    t.hex(value);
    t.put('\n');
}

// Q.931 4.5.1: single-octet elements, told apart by bits 7 to 5.
void SingleOctet(Text& t, unsigned char o)
{
    switch ((o >> 4) & 7) {
    case 2:
        if (o == 0xA0)
            t.puts("  More data\n");
        else if (o == 0xA1)
            t.puts("  Sending complete\n");
        break;
    case 1:
        HexLine(t, "  Shift ", o & 0x0Fu);
        break;
    case 3:
        HexLine(t, "  Congestion level ", o & 0x0Fu);
        break;
    case 5:
        HexLine(t, "  Repeat indicator ", o & 0x0Fu);
        break;
    default:
        HexLine(t, "  Reserved ", o);
        break;
    }
}

// Every element up to the end of the frame. A shift changes nothing: the
// element names stay those of codeset 0.
void Elements(Text& t, Octets p, Octets end)
{
    while (p < end) {
        const unsigned char id = *p;
        if ((id & 0x80) != 0) {
            SingleOctet(t, id);
            ++p;
            continue;
        }
        if (end - p < 2) {
            t.puts("  truncated\n"); // an identifier without its length
            return;
        }
        const unsigned int length = p[1];
        Octets c = p + 2;
        const unsigned int present =
            static_cast<unsigned int>(end - c) < length ? static_cast<unsigned int>(end - c) : length;
        const ISDN::ElementName* known = nullptr;
        for (const auto& row : ISDN::ielist)
            if (row.id == id) {
                known = &row;
                break;
            }
        bool reported = false;
        if (known == nullptr) {
            t.puts("  attribute ");
            t.hex(id);
            t.puts(" attribute size ");
            t.dec(length);
            t.put('\n');
        } else {
            t.puts("  ");
            t.puts(known->name);
            t.put('\n');
            reported = Print(known->printer, t, c, c + present);
        }
        if (present < length && !reported)
            Truncated(t);
        p = c + present;
    }
}

// Q.931 4.2 to 4.4: protocol discriminator, call reference (one octet on
// basic-rate, two on primary-rate interfaces), message type, elements.
void Q931(Text& t, Octets p, Octets end)
{
    if (p[0] != 0x08) {
        t.puts("Unknown protocol ");
        t.hex(p[0]);
        t.put('!');
        return;
    }
    const unsigned int size = static_cast<unsigned int>(end - p);
    if (size < 2) {
        t.puts("truncated\n");
        return;
    }
    const unsigned int crlen = p[1];
    if (crlen > 2) {
        t.puts("callref length ");
        t.dec(crlen);
        t.puts(" not supported\n");
        return;
    }
    if (size < 3 + crlen) {
        t.puts("truncated\n");
        return;
    }
    unsigned int callref = 0;
    bool called = false;
    if (crlen > 0) {
        // Q.931 4.3: bit 8 of the first octet is the flag, the rest the value.
        called = (p[2] & 0x80) != 0;
        callref = p[2] & 0x7Fu;
        if (crlen == 2)
            callref = (callref << 8) | p[3];
    }
    const unsigned char type = p[2 + crlen];
    const ISDN::MessageTypeName* name = nullptr;
    for (const auto& row : ISDN::mtlist)
        if (row.type == type) {
            name = &row;
            break;
        }
    t.puts("callref ");
    t.dec(callref);
    t.puts(called ? " called size " : " caller size ");
    t.dec(size);
    if (name != nullptr) {
        t.puts(" message type ");
        t.puts(name->name);
        t.put('\n');
    } else {
        t.puts(" unknown message type ");
        t.hex(type);
        t.puts("!\n");
    }
    Elements(t, p + 3 + crlen, end);
}

// Q.921 3.3: address (SAPI, C/R, TEI) and control field.
void Frame(Text& t, Octets frame, unsigned int length, unsigned int direction)
{
    for (unsigned int i = 0; i < length; ++i) {
        t.put(' ');
        t.hex2(frame[i]);
    }
    t.put('\n');
    if (length < 3) {
        t.puts("frame too short\n");
        return;
    }
    t.puts("frame ");
    t.puts(direction != 0 ? "network->user" : "user->network");
    t.put(' ');
    const unsigned int sapi = frame[0] >> 2;
    const unsigned int tei = frame[1] >> 1;
    const unsigned char control = frame[2];
    unsigned int start = 0;
    if (tei == 127) {
        if (sapi == 0) {
            if (control != 0x03) {
                t.puts("no UI broadcast\n");
                return;
            }
            t.puts("broadcast\n");
            start = 3;
        } else if (sapi == 63) {
            t.puts("tei management:\n");
            return;
        } else {
            t.puts("unknown sapi ");
            t.dec(sapi);
            t.puts(" broadcast\n");
            return;
        }
    } else if (sapi != 0) {
        t.puts("unknown sapi = ");
        t.dec(sapi);
        t.puts("; tei = ");
        t.dec(tei);
        t.put('\n');
        return;
    } else if ((control & 1) != 0) {
        t.puts("SFrame tei = ");
        t.dec(tei);
        t.puts(" (");
        for (unsigned int i = 2; i < length; ++i) {
            t.hex2(frame[i]);
            t.put(' ');
        }
        t.puts(")\n");
        return;
    } else {
        t.puts("IFrame tei = ");
        t.dec(tei);
        t.put('\n');
        start = 4;
    }
    if (start >= length) {
        t.puts("frame too short\n");
        return;
    }
    Q931(t, frame + start, frame + length);
}

} // namespace

void dlogframe(unsigned char* frame, unsigned int length, unsigned int direction, char* out)
{
    if (out == nullptr)
        return;
    Text t(out);
    if (frame != nullptr && length > 0)
        Frame(t, frame, length, direction);
    t.finish();
}
