#pragma once
// Shared by the JACK tools: a source port that may not exist yet is connected once it appears.

#include <jack/jack.h>

#include <chrono>
#include <thread>

inline bool connectWithin(jack_client_t* client, const char* source, const char* destination, double seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
        if (jack_port_by_name(client, source) && jack_connect(client, source, destination) == 0) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}
