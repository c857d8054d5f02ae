#include "storage/relaystatefile.h"

#include <exception>
#include <utility>

#include "engine/hardware.h"
#include "engine/model.h"
#include "storage/fileaccess.h"

namespace tavoxa {

std::string FormatRelayState(uint8_t relayBits)
{
    std::string line;
    for (int r = 0; r < kRelayCount; ++r)
        line += (relayBits >> r & 1) ? '1' : '0';
    return line + '\n';
}

std::optional<uint8_t> ParseRelayState(const std::string& text)
{
    std::string line = text;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.pop_back();
    if (line.size() != static_cast<size_t>(kRelayCount))
        return std::nullopt;
    uint8_t bits = 0;
    for (int r = 0; r < kRelayCount; ++r) {
        const char c = line[static_cast<size_t>(r)];
        if (c != '0' && c != '1')
            return std::nullopt;
        if (c == '1')
            bits = static_cast<uint8_t>(bits | 1u << r);
    }
    return bits;
}

std::optional<uint8_t> ReadRelayState(const std::string& path, std::string* why)
{
    why->clear();
    std::optional<std::string> text;
    try {
        text = ReadWholeFile(path);
    } catch (const std::exception& e) {
        *why = path + ": " + e.what();
        return std::nullopt;
    }
    if (!text) {
        if (FileExists(path))
            *why = path + " cannot be read";
        return std::nullopt;
    }
    const std::optional<uint8_t> bits = ParseRelayState(*text);
    if (!bits)
        *why = path + " does not hold one line of six digits 0 or 1";
    return bits;
}

RelayStateWriter::RelayStateWriter(std::string path, std::function<void(const std::string&)> onError)
    : path_(std::move(path)), onError_(std::move(onError)), thread_([this] { Run(); })
{
}

RelayStateWriter::~RelayStateWriter()
{
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

void RelayStateWriter::Keep(uint8_t relayBits)
{
    relayBits = static_cast<uint8_t>(relayBits & kRelayMask);
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (lastKept_ == relayBits)
            return;
        lastKept_ = relayBits;
        pending_ = relayBits;
    }
    wake_.notify_one();
}

int RelayStateWriter::writes() const
{
    const std::lock_guard<std::mutex> lock(mutex_);
    return writes_;
}

void RelayStateWriter::Run()
{
    bool failing = false;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return quit_ || pending_.has_value(); });
        if (!pending_) {
            if (quit_)
                return;
            continue;
        }
        const uint8_t bits = *pending_;
        pending_.reset();
        lock.unlock();
        std::string error;
        try {
            WriteFileAtomically(path_, FormatRelayState(bits), 0600);
        } catch (const std::exception& e) {
            error = e.what();
        }
        if (!error.empty() && !failing && onError_)
            onError_(error);
        failing = !error.empty();
        lock.lock();
        if (!failing)
            ++writes_;
    }
}

}  // namespace tavoxa
