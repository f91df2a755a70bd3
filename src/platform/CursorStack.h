#pragma once

#include <Qt>

// The application's cursor stack: a pushed cursor shows over every window of the
// application until it is popped. Qt's override cursor is such a stack on every platform,
// so this needs no back ends of its own.
namespace CursorStack {
void push(Qt::CursorShape shape);
void pop();
// How many cursors are pushed and not yet popped.
int depth();
} // namespace CursorStack
