#pragma once

#include <functional>

namespace rt {

// Runs work that may take a while, such as reading or writing a large file,
// on a thread of its own while the window keeps repainting. Once it takes
// longer than a moment the pointer shows the busy cursor. User input and
// timers wait until the work is done, so no handler runs inside another.
// Whatever the work throws is thrown again here.
void runLongWork(const std::function<void()>& work);

} // namespace rt
