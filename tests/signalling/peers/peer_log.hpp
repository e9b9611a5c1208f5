#pragma once

// The peer libraries' own log: kept for the test that runs and printed
// (after the test's own output) only when that test fails.

#include <string>
#include <vector>

namespace SigTest {

// One line from the peer `who`. Text without a final newline is kept until
// the rest of its line comes, as the libraries write some lines in pieces.
void PeerLog(const std::string& who, const std::string& text);
// The complete lines of the running test so far, each "who: text".
const std::vector<std::string>& PeerLogLines();

// The adapter inside whose call a library runs. The libraries' log and
// I/O callbacks do not always say which of their instances they concern
// (libpri's message hook is process-wide, its basic-rate network calls back
// with per-terminal links): the call in progress is the sure way back.
template <class Peer>
class Within {
public:
    explicit Within(Peer* p) : previous_(current_) { current_ = p; }
    ~Within() { current_ = previous_; }
    Within(const Within&) = delete;
    Within& operator=(const Within&) = delete;

    static Peer* current() noexcept { return current_; }

private:
    static inline Peer* current_ = nullptr;
    Peer* previous_;
};

// A library's log line, under the name of the adapter in whose call it
// came (`library` when none).
template <class Peer>
void PeerLogWithin(const char* library, const std::string& text)
{
    Peer* p = Within<Peer>::current();
    PeerLog(p != nullptr ? p->name() : library, text);
}

} // namespace SigTest
