#pragma once
// Runs one registration and returns the outcome it raised.
#include <gtest/gtest.h>

#include <string>

#include "common/QVExceptions.h"
#include "engine/uRegistry.h"
#include "ui/Application.h"

struct Outcome {
    std::string message;
    std::string details;
    int kind = -1;
};

inline Outcome RunFile(const std::string& path, bool register_) {
    try {
        engine::RegisterServerFile(path, register_);
    } catch (const EQVException& e) {
        EXPECT_EQ(ui::Application.ScreenCursor(), ui::TCursor::Default) << "the busy cursor was left set";
        return Outcome{e.what(), e.Details, e.Kind};
    }
    // Every outcome is raised; returning normally is a fault of its own.
    ADD_FAILURE() << "RegisterServerFile(\"" << path << "\") returned without raising its outcome";
    return Outcome{"(no outcome raised)", "", -1};
}

inline ::testing::AssertionResult Succeeded(const Outcome& o, const std::string& message) {
    if (o.kind == qekSuccess && o.message == message && o.details.empty()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "kind " << o.kind << ", message \"" << o.message << "\", details \""
                                         << o.details << "\"; expected success \"" << message << "\"";
}

inline ::testing::AssertionResult Failed(const Outcome& o, const std::string& message) {
    if (o.kind == qekError && o.message == message) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "kind " << o.kind << ", message \"" << o.message << "\", details \""
                                         << o.details << "\"; expected failure \"" << message << "\"";
}
