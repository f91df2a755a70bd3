#pragma once

#include <QString>

// The plain process log: one uncategorised line (the default logging category).
void systemLog(const QString& message);
