// The relays as last written to the board, kept across a restart for --restore-relays in a small
// file beside swcf.ini: one line of six digits, relay 1 first, 1 = on ("010000" has relay 2 on).
//
// Threads: RelayStateWriter is called on the main thread and writes on a thread of its own, so
// the second tick never waits for the disk; the read happens once before the start-up.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace tavoxa {

inline constexpr char kRelayStateFileName[] = "tavoxa.relays";

std::string FormatRelayState(uint8_t relayBits);
// The relay bits of a file's text, or std::nullopt when it is not one such line.
std::optional<uint8_t> ParseRelayState(const std::string& text);

// The kept relays, or std::nullopt: `why` then says what is wrong with the file, or stays empty
// when there is none (the first start).
std::optional<uint8_t> ReadRelayState(const std::string& path, std::string* why);

class RelayStateWriter {
public:
    // `onError` gets the reason of a failed write, once until a write succeeds again; it is
    // called on the writer's thread.
    RelayStateWriter(std::string path, std::function<void(const std::string&)> onError);
    // Writes what is still waiting, then ends the thread.
    ~RelayStateWriter();
    RelayStateWriter(const RelayStateWriter&) = delete;
    RelayStateWriter& operator=(const RelayStateWriter&) = delete;

    // Keeps `relayBits` (bits 0..5); a byte equal to the last one kept writes nothing, and of a
    // burst only the latest byte is written.
    void Keep(uint8_t relayBits);
    // Files written so far (for tests).
    int writes() const;

private:
    void Run();

    const std::string path_;
    const std::function<void(const std::string&)> onError_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::optional<uint8_t> pending_;
    std::optional<uint8_t> lastKept_;
    bool quit_ = false;
    int writes_ = 0;
    std::thread thread_;
};

}  // namespace tavoxa
