#pragma once
// The program's error type: a ready message for the user, technical details
// for the details pane, and a kind that selects how it is shown.
#include <cstdint>
#include <stdexcept>
#include <string>

// Kinds of EQVException.
enum : std::uint8_t {
    qekFatal = 0,    // critical icon; the application ends after showing it
    qekError = 1,    // warning icon
    qekSuccess = 2,  // success or information; information icon
};

class EQVException : public std::runtime_error {
public:
    EQVException(const std::string& message, const std::string& details, std::uint8_t kind)
        : std::runtime_error(message), Details(details), Kind(kind) {}

    std::string Details;
    std::uint8_t Kind;
};
