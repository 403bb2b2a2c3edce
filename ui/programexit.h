#pragma once

#include <optional>

// A run that the user cancelled ends the program at once. The run happens before the program's
// event loop starts, so quitting the loop is not enough: the view records the request here and main
// returns the status instead of entering the loop.
void RequestProgramExit(int status);
[[nodiscard]] std::optional<int> RequestedProgramExit();
