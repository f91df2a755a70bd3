#pragma once

#include <QString>

// An error as crash reporting receives it: the error's domain, its code within that domain
// and a human-readable description.
struct BridgedError {
    QString domain;
    int code = 0;
    QString description;

    bool operator==(const BridgedError&) const = default;
};
