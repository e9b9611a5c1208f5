#pragma once

// Model of the text files that the board's drivers and boot leave for other
// programs: the temperature ("/proc/temperature"), the voice driver's version
// line ("/proc/voice/version"), the line state of each E1 framer
// ("/proc/driver/hdlc/peb22554/0" to "3") and the versions of the software,
// the boot loader, the FPGA and the board ("/var/version",
// "/var/u-boot-version", "/var/fpga-version", "/var/board-version"). No
// program opens it through the driver port; its control words change the
// model, and once published every change is written to its file. A framer's
// line state is its E1 trunk's in "/dev/maintenance" (Maintenance): either
// device's words change it, and both the file and the status request show it.
//
// The files go below GW_ROOT only, never to the machine's own paths: a
// program started with GW_ROOT set has them written there once it owns that
// root (Driver::Boot), one without GW_ROOT has none.

#include "sim/device.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace Sim {

class Maintenance;

class BoardFiles final : public Device {
public:
    static constexpr unsigned kFramers = 4;

    // Framer N shows the line of `lines`' trunk N.
    explicit BoardFiles(Maintenance& lines);

    Outcome Ioctl(std::uint32_t request, void* arg, unsigned long value) override;
    void Reset() override;
    // "temperature TEXT", "version NAME TEXT...", "framer N state TEXT..."
    // (a text of Maintenance::StateText), "framer N loss SIGNAL FRAME" (yes
    // or no each), "framer N slips NEG POS"; "show": one line per file.
    bool Control(const std::vector<std::string>& words, std::ostream& out) override;
    void Help(std::ostream& out) const override;

    // From now on the files live below `root` (an absolute path, as the
    // program makes GW_ROOT): every file is written at once, and again at
    // each change. An empty root writes nothing.
    void Publish(const std::string& root);

    // The file's path (as on the board) and text, in a fixed order.
    std::vector<std::pair<std::string, std::string>> Files() const;

private:
    struct Framer {
        std::int32_t negative_slips = 0;
        std::int32_t positive_slips = 0;
    };
    struct Version {
        const char* name; // the control word
        const char* path;
        std::string text; // the first line, without its line end
    };

    std::string FramerText(unsigned n) const;
    void WriteAll() const;
    // Replaces the file whole (a reader sees the old text or the new one).
    void Write(const std::string& path, const std::string& text) const;

    Maintenance& lines_;
    std::string root_;
    std::string temperature_;
    std::vector<Version> versions_;
    Framer framers_[kFramers];
};

} // namespace Sim
