// Ctrl-C (SIGINT) and SIGTERM as a request to stop: the live commands poll
// it on their control thread and end cleanly, closing the device.
#pragma once

namespace qs_cli {

// Installs the handlers; later signals only set the flag.
void watchForInterrupt();
bool interrupted();

}  // namespace qs_cli
