#include "sim/card/hayes.hpp"

#include <cctype>

namespace sim {

namespace {

constexpr std::uint8_t kCr = 0x0D;
constexpr std::uint8_t kLf = 0x0A;
constexpr std::uint8_t kBs = 0x08;

char upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }
bool digit(char c) { return c >= '0' && c <= '9'; }

} // namespace

void HayesModem::reset() {
    echo_ = true;
    overflow_ = false;
    line_.clear();
    output_.clear();
}

std::optional<std::uint8_t> HayesModem::transmit() {
    if (output_.empty()) return std::nullopt;
    std::uint8_t c = output_.front();
    output_.pop_front();
    return c;
}

void HayesModem::send(std::string_view text) {
    for (char c : text) {
        if (output_.size() >= kMaxOutput) return;
        output_.push_back(static_cast<std::uint8_t>(c));
    }
}

void HayesModem::receive(std::uint8_t c) {
    if (echo_) send(std::string_view(reinterpret_cast<const char*>(&c), 1));
    switch (c) {
    case kCr: {
        std::string line = std::move(line_);
        bool overflow = overflow_;
        line_.clear();
        overflow_ = false;
        if (overflow)
            send("\r\nERROR\r\n");
        else
            run(line);
        return;
    }
    case kLf:
        return;
    case kBs:
        if (!line_.empty()) line_.pop_back();
        return;
    default:
        if (line_.size() < kMaxLine)
            line_.push_back(static_cast<char>(c));
        else
            overflow_ = true;
    }
}

void HayesModem::run(std::string_view line) {
    std::size_t i = 0;
    while (i < line.size() && line[i] == ' ') ++i;
    if (line.size() - i < 2 || upper(line[i]) != 'A' || upper(line[i + 1]) != 'T') return;
    i += 2;

    while (i < line.size()) {
        char command = upper(line[i++]);
        if (command == ' ') continue;
        // The command's number; none reads as 0. Kept small: any number
        // past 999 is as wrong as 999.
        int n = 0;
        while (i < line.size() && digit(line[i])) {
            if (n < 1000) n = n * 10 + (line[i] - '0');
            ++i;
        }
        bool ok = false;
        switch (command) {
        case 'E':
            ok = n <= 1;
            if (ok) echo_ = (n == 1);
            break;
        case 'I':
            ok = n == 0;
            if (ok) {
                send("\r\n");
                send(kProductName);
                send("\r\n");
            }
            break;
        case 'Z':
            // The reset ends the line: what follows Z is not run.
            if (n != 0) break;
            echo_ = true;
            send("\r\nOK\r\n");
            return;
        default:
            break;
        }
        if (!ok) {
            send("\r\nERROR\r\n");
            return;
        }
    }
    send("\r\nOK\r\n");
}

} // namespace sim
